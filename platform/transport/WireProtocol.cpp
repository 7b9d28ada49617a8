#include "platform/transport/WireProtocol.h"

#include "platform/transport/BinaryPropertyList.h"

#include <algorithm>

namespace Wire {

namespace {

// Messages nest three containers deep at most (message, arguments, list of texts).
constexpr std::size_t maxNesting = 8;

namespace Plist = BinaryPropertyList;

// The message dictionary's entry under `key` when it is of type T.
template <typename T>
T* itemNamed(Plist::Dictionary& message, std::string_view key) {
    for (auto& entry : message) {
        if (entry.key == key) return std::get_if<T>(&entry.value.content);
    }
    return nullptr;
}

// Whether no key that messages are read by appears twice: a message that
// says two things under one key is of the wrong shape.
bool keysOnce(const Plist::Dictionary& message) {
    for (const std::string_view key : {"id", "selector", "arguments", "reply"}) {
        if (std::count_if(message.begin(), message.end(), [key](const auto& entry) { return entry.key == key; }) > 1)
            return false;
    }
    return true;
}

// Whether the selector's argument at `index` is a list of paths.
bool isPathList(Selector selector, std::size_t index) {
    return index == 0 && (selector == Selector::removeItems || selector == Selector::removeChosenItems);
}

// Nothing when the argument makes the message of the wrong shape: a path list
// holding anything but strings. Elsewhere such an array is of another type.
std::optional<Argument> argumentValue(Plist::Value& value, bool pathList) {
    struct Visitor {
        bool pathList;
        std::optional<Argument> operator()(Plist::Other) const { return Argument{}; }
        std::optional<Argument> operator()(bool flag) const { return Argument{flag}; }
        std::optional<Argument> operator()(uint64_t number) const { return Argument{number != 0}; }
        std::optional<Argument> operator()(std::string& text) const { return Argument{std::move(text)}; }
        std::optional<Argument> operator()(Plist::Dictionary&) const { return Argument{}; }
        std::optional<Argument> operator()(Plist::Array& items) const {
            std::vector<std::string> texts;
            texts.reserve(items.size());
            for (auto& item : items) {
                auto* text = std::get_if<std::string>(&item.content);
                if (text == nullptr) return pathList ? std::nullopt : std::optional(Argument{});
                texts.push_back(std::move(*text));
            }
            return Argument{std::move(texts)};
        }
    };
    return std::visit(Visitor{pathList}, value.content);
}

Plist::Value valueOf(const Argument& argument) {
    struct Visitor {
        Plist::Value operator()(std::monostate) const { return {}; }
        Plist::Value operator()(const std::string& text) const { return {text}; }
        Plist::Value operator()(bool flag) const { return {flag}; }
        Plist::Value operator()(const std::vector<std::string>& texts) const {
            Plist::Array items;
            items.reserve(texts.size());
            for (const auto& text : texts) items.push_back({text});
            return {std::move(items)};
        }
    };
    return std::visit(Visitor{}, argument);
}

// A message of these entries, written as one frame.
std::string frameOf(Plist::Dictionary entries) {
    std::string frame(headerLength, '\0');
    Plist::write({std::move(entries)}, frame);
    const uint64_t length = frame.size() - headerLength;
    for (std::size_t i = 0; i < headerLength; ++i) frame[i] = static_cast<char>((length >> (8 * (3 - i))) & 0xff);
    return frame;
}

// The message dictionary of a frame body.
std::optional<Plist::Dictionary> messageOf(std::string_view body) {
    if (body.size() > maxBodyLength) return std::nullopt;
    auto top = Plist::read(body, maxNesting, messageBudget);
    if (!top) return std::nullopt;
    auto* message = std::get_if<Plist::Dictionary>(&top->content);
    if (message == nullptr || !keysOnce(*message)) return std::nullopt;
    return std::move(*message);
}

}  // namespace

std::string socketPath(std::string_view machServiceName) {
    return std::string(socketFolder) + std::string(machServiceName);
}

std::string encodeRequest(const Request& request) {
    Plist::Array arguments;
    arguments.reserve(request.arguments.size());
    for (const auto& argument : request.arguments) arguments.push_back(valueOf(argument));
    Plist::Dictionary message;
    message.push_back({"id", {request.id}});
    message.push_back({"selector", {std::string(info(request.selector).name)}});
    message.push_back({"arguments", {std::move(arguments)}});
    return frameOf(std::move(message));
}

std::string encodeReply(const Reply& reply) {
    struct Visitor {
        std::optional<Plist::Value> operator()(std::monostate) const { return std::nullopt; }
        std::optional<Plist::Value> operator()(const std::string& text) const { return Plist::Value{text}; }
        std::optional<Plist::Value> operator()(bool flag) const { return Plist::Value{flag}; }
        std::optional<Plist::Value> operator()(const TextDictionary& texts) const {
            Plist::Dictionary entries;
            entries.reserve(texts.size());
            for (const auto& [key, text] : texts) entries.push_back({key, {text}});
            return Plist::Value{std::move(entries)};
        }
    };
    Plist::Dictionary message;
    message.push_back({"id", {reply.id}});
    if (auto value = std::visit(Visitor{}, reply.value)) message.push_back({"reply", std::move(*value)});
    return frameOf(std::move(message));
}

std::optional<Request> decodeRequest(std::string_view body) {
    auto message = messageOf(body);
    if (!message) return std::nullopt;
    const auto* id = itemNamed<uint64_t>(*message, "id");
    const auto* name = itemNamed<std::string>(*message, "selector");
    auto* arguments = itemNamed<Plist::Array>(*message, "arguments");
    if (id == nullptr || name == nullptr || arguments == nullptr) return std::nullopt;
    const auto selector = selectorNamed(*name);
    if (!selector || arguments->size() > info(*selector).arity) return std::nullopt;

    Request request;
    request.id = *id;
    request.selector = *selector;
    request.arguments.reserve(arguments->size());
    for (auto& value : *arguments) {
        auto argument = argumentValue(value, isPathList(request.selector, request.arguments.size()));
        if (!argument) return std::nullopt;
        request.arguments.push_back(std::move(*argument));
    }
    return request;
}

std::optional<Reply> decodeReply(std::string_view body) {
    auto message = messageOf(body);
    if (!message) return std::nullopt;
    const auto* id = itemNamed<uint64_t>(*message, "id");
    if (id == nullptr) return std::nullopt;
    Reply reply;
    reply.id = *id;
    auto found = std::find_if(message->begin(), message->end(), [](const auto& entry) { return entry.key == "reply"; });
    if (found == message->end()) return reply;  // a nil text
    Plist::Value* value = &found->value;
    if (auto* text = std::get_if<std::string>(&value->content)) {
        reply.value = std::move(*text);
    } else if (const auto* flag = std::get_if<bool>(&value->content)) {
        reply.value = *flag;
    } else if (auto* entries = std::get_if<Plist::Dictionary>(&value->content)) {
        TextDictionary texts;
        for (auto& entry : *entries) {
            auto* itemText = std::get_if<std::string>(&entry.value.content);
            if (itemText == nullptr || !texts.emplace(std::move(entry.key), std::move(*itemText)).second) return std::nullopt;
        }
        reply.value = std::move(texts);
    } else {
        return std::nullopt;
    }
    return reply;
}

uint32_t bodyLength(const unsigned char (&header)[headerLength]) noexcept {
    return (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | uint32_t{header[3]};
}

}  // namespace Wire
