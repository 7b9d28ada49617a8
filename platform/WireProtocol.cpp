#include "platform/WireProtocol.h"

#include "platform/PlistNode.h"
#include "platform/PlistShape.h"
#include "shared/UnicodeText.h"

#include <plist/plist.h>

#include <climits>
#include <cstdlib>

namespace Wire {

namespace {

const std::array<SelectorInfo, 7> selectorTable{{
    {Selector::removeItems, "removeItemsAtPaths:toTrash:reply:", 2},
    {Selector::removeChosenItems, "removeChosenItemsAtPaths:toTrash:reply:", 2},
    {Selector::unloadLaunchDaemon, "unloadLaunchDaemonWithLabel:plistPath:toTrash:reply:", 3},
    {Selector::version, "versionWithReply:", 0},
    {Selector::setMotionSensor, "setMotionSensorWithEnabled:reply:", 1},
    {Selector::resetPrivacyPermission, "resetPrivacyPermissionWithService:bundleID:reply:", 2},
    {Selector::setLaunchJob, "setLaunchJobWithLabel:plistPath:enabled:reply:", 3},
}};

// Messages nest three containers deep at most (message, arguments, list of texts).
constexpr std::size_t maxNesting = 8;

// A string node's bytes when they are well-formed UTF-8.
std::optional<std::string> stringValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* bytes = plist_get_string_ptr(node, &length);
    if (bytes == nullptr) return std::nullopt;
    std::string_view text(bytes, length);
    if (!UnicodeText::isValidUTF8(text)) return std::nullopt;
    return std::string(text);
}

std::optional<uint64_t> integerValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

Argument argumentValue(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_STRING:
        if (auto text = stringValue(node)) return std::move(*text);
        return {};
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT:
        return *integerValue(node) != 0;
    case PLIST_ARRAY: {
        // Only strings make up a list of texts; other elements are left out.
        std::vector<std::string> texts;
        const uint32_t count = plist_array_get_size(node);
        texts.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            if (auto text = stringValue(plist_array_get_item(node, i))) texts.push_back(std::move(*text));
        }
        return texts;
    }
    default:
        return {};
    }
}

plist_t newString(const std::string& text) {
    if (UnicodeText::isValidUTF8(text)) return plist_new_string(text.c_str());
    return plist_new_string(UnicodeText::repairedUTF8(text).c_str());
}

plist_t newArgument(const Argument& argument) {
    struct Visitor {
        plist_t operator()(std::monostate) const { return nullptr; }
        plist_t operator()(const std::string& text) const { return newString(text); }
        plist_t operator()(bool flag) const { return plist_new_bool(flag ? 1 : 0); }
        plist_t operator()(const std::vector<std::string>& texts) const {
            plist_t array = plist_new_array();
            for (const auto& text : texts) plist_array_append_item(array, newString(text));
            return array;
        }
    };
    return std::visit(Visitor{}, argument);
}

plist_t newReplyValue(const ReplyValue& value) {
    struct Visitor {
        plist_t operator()(std::monostate) const { return nullptr; }
        plist_t operator()(const std::string& text) const { return newString(text); }
        plist_t operator()(bool flag) const { return plist_new_bool(flag ? 1 : 0); }
        plist_t operator()(const TextDictionary& texts) const {
            plist_t dict = plist_new_dict();
            for (const auto& [key, text] : texts) {
                const std::string safeKey = UnicodeText::isValidUTF8(key) ? key : UnicodeText::repairedUTF8(key);
                plist_dict_set_item(dict, safeKey.c_str(), newString(text));
            }
            return dict;
        }
    };
    return std::visit(Visitor{}, value);
}

// Header and binary property list of one message.
std::string frameOf(const PlistNode& message) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(message.get(), &bytes, &length);
    std::string frame(headerLength, '\0');
    frame[0] = static_cast<char>((length >> 24) & 0xff);
    frame[1] = static_cast<char>((length >> 16) & 0xff);
    frame[2] = static_cast<char>((length >> 8) & 0xff);
    frame[3] = static_cast<char>(length & 0xff);
    if (bytes != nullptr) {
        frame.append(bytes, length);
        plist_to_bin_free(bytes);
    }
    return frame;
}

// libplist takes several microseconds to write even the smallest binary
// property list. A message that differs from the previous one on this thread
// only in its id reuses that encoding with the id patched in: the id is written
// as a placeholder that needs all 8 bytes (integer marker 0x13), so any id
// below 2^63 fits the same bytes.
constexpr uint64_t idPlaceholder = 0x7EDCBA9876543210;
constexpr uint64_t largestPatchableID = INT64_MAX;

struct EncodedTemplate {
    std::string frame;
    std::size_t idAt = std::string::npos;  // first byte of the 8 id bytes

    void adopt(std::string encoded) {
        frame = std::move(encoded);
        std::string marker(1, '\x13');
        for (int shift = 56; shift >= 0; shift -= 8) marker += static_cast<char>((idPlaceholder >> shift) & 0xff);
        const std::size_t found = frame.find(marker);
        idAt = found == std::string::npos || frame.find(marker, found + 1) != std::string::npos ? std::string::npos
                                                                                              : found + 1;
    }
    std::optional<std::string> with(uint64_t id) const {
        if (idAt == std::string::npos || id > largestPatchableID) return std::nullopt;
        std::string copy = frame;
        for (int i = 0; i < 8; ++i) copy[idAt + i] = static_cast<char>((id >> (56 - 8 * i)) & 0xff);
        return copy;
    }
};

PlistNode parsedDictionary(std::string_view body) {
    if (body.size() > maxBodyLength || !PlistShape::isShallowBinaryTree(body, maxNesting)) return nullptr;
    plist_t raw = nullptr;
    plist_from_bin(body.data(), static_cast<uint32_t>(body.size()), &raw);
    PlistNode root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return nullptr;
    return root;
}

}  // namespace

std::string socketPath(std::string_view machServiceName) {
    return std::string(socketFolder) + std::string(machServiceName);
}

const std::array<SelectorInfo, 7>& selectors() { return selectorTable; }

const SelectorInfo& info(Selector selector) { return selectorTable[static_cast<std::size_t>(selector)]; }

std::optional<Selector> selectorNamed(std::string_view name) {
    for (const auto& entry : selectorTable) {
        if (entry.name == name) return entry.selector;
    }
    return std::nullopt;
}

std::string textArgument(const Request& request, std::size_t index) {
    if (index >= request.arguments.size()) return {};
    if (const auto* text = std::get_if<std::string>(&request.arguments[index])) return *text;
    return {};
}

std::vector<std::string> textListArgument(const Request& request, std::size_t index) {
    if (index >= request.arguments.size()) return {};
    if (const auto* texts = std::get_if<std::vector<std::string>>(&request.arguments[index])) return *texts;
    return {};
}

bool flagArgument(const Request& request, std::size_t index) {
    if (index >= request.arguments.size()) return false;
    if (const auto* flag = std::get_if<bool>(&request.arguments[index])) return *flag;
    return false;
}

namespace {

std::string encodedRequest(const Request& request, uint64_t id) {
    PlistNode message(plist_new_dict());
    plist_dict_set_item(message.get(), "id", plist_new_uint(id));
    plist_dict_set_item(message.get(), "selector", plist_new_string(std::string(info(request.selector).name).c_str()));
    plist_t arguments = plist_new_array();
    for (const auto& argument : request.arguments) {
        // An absent argument cannot be written in the middle of an array; it
        // travels as a value of no declared type, which converts as absent.
        plist_t value = newArgument(argument);
        plist_array_append_item(arguments, value != nullptr ? value : plist_new_real(0));
    }
    plist_dict_set_item(message.get(), "arguments", arguments);
    return frameOf(message);
}

std::string encodedReply(const ReplyValue& value, uint64_t id) {
    PlistNode message(plist_new_dict());
    plist_dict_set_item(message.get(), "id", plist_new_uint(id));
    if (plist_t node = newReplyValue(value)) plist_dict_set_item(message.get(), "reply", node);
    return frameOf(message);
}

}  // namespace

std::string encodeRequest(const Request& request) {
    // Only requests without arguments (the version request) are worth keeping.
    if (!request.arguments.empty()) return encodedRequest(request, request.id);
    thread_local std::optional<Selector> lastSelector;
    thread_local EncodedTemplate last;
    if (lastSelector != request.selector) {
        last.adopt(encodedRequest(request, idPlaceholder));
        lastSelector = request.selector;
    }
    if (auto frame = last.with(request.id)) return std::move(*frame);
    return encodedRequest(request, request.id);
}

std::string encodeReply(const Reply& reply) {
    // Dictionaries vary from request to request; everything else is small and recurs.
    const auto* texts = std::get_if<TextDictionary>(&reply.value);
    if (texts != nullptr && !texts->empty()) return encodedReply(reply.value, reply.id);
    thread_local std::optional<ReplyValue> lastValue;
    thread_local EncodedTemplate last;
    if (lastValue != reply.value) {
        last.adopt(encodedReply(reply.value, idPlaceholder));
        lastValue = reply.value;
    }
    if (auto frame = last.with(reply.id)) return std::move(*frame);
    return encodedReply(reply.value, reply.id);
}

std::optional<Request> decodeRequest(std::string_view body) {
    const PlistNode root = parsedDictionary(body);
    if (!root) return std::nullopt;
    const auto id = integerValue(plist_dict_get_item(root.get(), "id"));
    const auto name = stringValue(plist_dict_get_item(root.get(), "selector"));
    plist_t arguments = plist_dict_get_item(root.get(), "arguments");
    if (!id || !name || arguments == nullptr || plist_get_node_type(arguments) != PLIST_ARRAY) return std::nullopt;
    const auto selector = selectorNamed(*name);
    if (!selector) return std::nullopt;
    const uint32_t count = plist_array_get_size(arguments);
    if (count > info(*selector).arity) return std::nullopt;

    Request request;
    request.id = *id;
    request.selector = *selector;
    request.arguments.reserve(count);
    for (uint32_t i = 0; i < count; ++i) request.arguments.push_back(argumentValue(plist_array_get_item(arguments, i)));
    return request;
}

std::optional<Reply> decodeReply(std::string_view body) {
    const PlistNode root = parsedDictionary(body);
    if (!root) return std::nullopt;
    const auto id = integerValue(plist_dict_get_item(root.get(), "id"));
    if (!id) return std::nullopt;
    Reply reply;
    reply.id = *id;
    plist_t value = plist_dict_get_item(root.get(), "reply");
    if (value == nullptr) return reply;
    switch (plist_get_node_type(value)) {
    case PLIST_STRING:
        if (auto text = stringValue(value)) reply.value = std::move(*text);
        else return std::nullopt;
        break;
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(value, &flag);
        reply.value = flag != 0;
        break;
    }
    case PLIST_DICT: {
        TextDictionary texts;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(value, &iterator);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(value, iterator, &key, &item);
            if (key == nullptr) break;
            std::string keyText(key);
            std::free(key);
            auto text = stringValue(item);
            if (!text) {
                std::free(iterator);
                return std::nullopt;
            }
            texts.emplace(std::move(keyText), std::move(*text));
        }
        std::free(iterator);
        reply.value = std::move(texts);
        break;
    }
    default:
        return std::nullopt;
    }
    return reply;
}

uint32_t bodyLength(const unsigned char (&header)[headerLength]) noexcept {
    return (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | uint32_t{header[3]};
}

}  // namespace Wire
