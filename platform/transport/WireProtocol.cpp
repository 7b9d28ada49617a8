#include "platform/transport/WireProtocol.h"

#include "platform/transport/BinaryPropertyList.h"
#include "shared/UnicodeText.h"

#include <cstring>
#include <iterator>
#include <span>
#include <utility>

namespace Wire {

namespace {

// Messages nest three containers deep at most (message, arguments, list of texts).
constexpr std::size_t maxNesting = 8;

namespace Plist = BinaryPropertyList;

// The values under the keys that messages are read by.
struct Fields {
    std::optional<Plist::Node> id;
    std::optional<Plist::Node> selector;
    std::optional<Plist::Node> arguments;
    std::optional<Plist::Node> reply;
};

// The message of a frame body: false when the body is not a binary property
// list within the bounds, its top is not a dictionary, or a key that messages
// are read by appears twice (a message that says two things under one key is
// of the wrong shape).
bool readMessage(std::string_view body, const Plist::Document& document, Fields& fields) {
    // The message and its few entries come back from judging, read once.
    Plist::Node judged[9];
    if (body.size() > maxBodyLength || !document.judge(maxNesting, messageBudget, judged)) return false;
    const Plist::Node& message = judged[0];
    if (message.type() != Plist::Type::dictionary) return false;
    const bool judgedEntries = 1 + 2 * message.count() <= std::size(judged);
    const Plist::Node* entries = judged + 1;
    const std::pair<std::string_view, std::optional<Plist::Node>*> named[] = {
        {"id", &fields.id}, {"selector", &fields.selector}, {"arguments", &fields.arguments}, {"reply", &fields.reply}};
    for (std::size_t i = 0; i < message.count(); ++i) {
        const Plist::Node key = judgedEntries ? entries[i] : message.key(i);
        for (const auto& [name, field] : named) {
            if (!key.textIs(name)) continue;
            if (field->has_value()) return false;
            *field = judgedEntries ? entries[message.count() + i] : message.value(i);
            break;
        }
    }
    return true;
}

// Whether the selector's argument at `index` is a list of paths.
bool isPathList(Selector selector, std::size_t index) {
    return index == 0 && (selector == Selector::removeItems || selector == Selector::removeChosenItems);
}

// Nothing when the argument makes the message of the wrong shape: a path list
// holding anything but strings. Elsewhere such an array is of another type.
std::optional<Argument> argumentOf(const Plist::Node& value, bool pathList) {
    switch (value.type()) {
    case Plist::Type::boolean:
    case Plist::Type::integer:
        return Argument{value.number() != 0};
    case Plist::Type::string:
        return Argument{value.text()};
    case Plist::Type::array: {
        for (std::size_t i = 0; i < value.count(); ++i) {
            if (value.item(i).type() != Plist::Type::string) return pathList ? std::nullopt : std::optional(Argument{});
        }
        std::vector<std::string> texts;
        texts.reserve(value.count());
        for (std::size_t i = 0; i < value.count(); ++i) texts.push_back(value.item(i).text());
        return Argument{std::move(texts)};
    }
    case Plist::Type::other:
    case Plist::Type::dictionary:
        break;
    }
    return Argument{};
}

uint64_t putArgument(Plist::Writer& writer, const Argument& argument) {
    struct Visitor {
        Plist::Writer& writer;
        uint64_t operator()(std::monostate) const { return writer.putOther(); }
        uint64_t operator()(const std::string& text) const { return writer.putString(text); }
        uint64_t operator()(bool flag) const { return writer.putBoolean(flag); }
        uint64_t operator()(const std::vector<std::string>& texts) const {
            std::vector<uint64_t> items;
            items.reserve(texts.size());
            for (const auto& text : texts) items.push_back(writer.putString(text));
            return writer.putArray(items);
        }
    };
    return std::visit(Visitor{writer}, argument);
}

// Fills in the header of a frame of `size` bytes whose body follows it.
void putHeader(char* frame, std::size_t size) {
    const uint64_t length = size - headerLength;
    for (std::size_t i = 0; i < headerLength; ++i) frame[i] = static_cast<char>((length >> (8 * (3 - i))) & 0xff);
}

// The common replies, a short ASCII text (the version) or a truth value, put
// together from their fixed parts: the same bytes as the writer's, without
// its bookkeeping. False for any other reply.
bool encodeShortReply(uint64_t id, const ReplyValue& value, std::string& frame) {
    const auto* text = std::get_if<std::string>(&value);
    const auto* flag = std::get_if<bool>(&value);
    // The writer writes equal strings once: a text equal to a key is left to it.
    if (flag == nullptr && (text == nullptr || text->size() >= 15 || std::string_view(*text) == "id" ||
                            std::string_view(*text) == "reply" || !UnicodeText::isASCII(*text)))
        return false;
    char number[17];  // the id as the writer puts an integer: a marker, then big-endian bytes
    std::size_t numberLength = 0;
    if (id > static_cast<uint64_t>(INT64_MAX)) {
        number[0] = '\x14';
        for (std::size_t i = 0; i < 16; ++i) number[1 + i] = i < 8 ? '\0' : static_cast<char>(id >> (8 * (15 - i)));
        numberLength = 17;
    } else {
        const unsigned power = id <= 0xFF ? 0 : id <= 0xFFFF ? 1 : id <= 0xFFFFFFFF ? 2 : 3;
        const std::size_t width = std::size_t{1} << power;
        number[0] = static_cast<char>(0x10 | power);
        for (std::size_t i = 0; i < width; ++i) number[1 + i] = static_cast<char>(id >> (8 * (width - 1 - i)));
        numberLength = 1 + width;
    }
    // Objects: 0 "id", 1 the id, 2 "reply", 3 the value, 4 the message; all
    // within 255 bytes, so offsets and references take one byte each. The
    // frame is put together on the stack and copied out once.
    const std::size_t idAt = 8, numberAt = 11, replyAt = numberAt + numberLength, valueAt = replyAt + 6;
    const std::size_t messageAt = valueAt + (text != nullptr ? 1 + text->size() : 1);
    const std::size_t tableAt = messageAt + 5;
    char bytes[headerLength + 128];
    char* at = bytes + headerLength;
    const auto put = [&at](const char* part, std::size_t length) {
        std::memcpy(at, part, length);
        at += length;
    };
    put("bplist00\x52id", 11);
    put(number, numberLength);
    put("\x55reply", 6);
    if (text != nullptr) {
        *at++ = static_cast<char>(0x50 | text->size());
        put(text->data(), text->size());
    } else {
        *at++ = *flag ? '\x09' : '\x08';
    }
    put("\xD2\x00\x02\x01\x03", 5);
    const char table[] = {static_cast<char>(idAt), static_cast<char>(numberAt), static_cast<char>(replyAt),
                          static_cast<char>(valueAt), static_cast<char>(messageAt)};
    put(table, sizeof table);
    // The trailer: widths of offsets and references, 5 objects, the top is 4, where the table starts.
    char trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 4};
    trailer[31] = static_cast<char>(tableAt);
    put(trailer, sizeof trailer);
    putHeader(bytes, static_cast<std::size_t>(at - bytes));
    frame.assign(bytes, static_cast<std::size_t>(at - bytes));
    return true;
}

}  // namespace

std::string socketPath(std::string_view machServiceName) {
    return std::string(socketFolder) + std::string(machServiceName);
}

std::string encodeRequest(const Request& request) {
    std::size_t objects = 7;  // the message, its three keys, the id, the selector, the arguments
    for (const auto& argument : request.arguments) {
        const auto* texts = std::get_if<std::vector<std::string>>(&argument);
        objects += 1 + (texts != nullptr ? texts->size() : 0);
    }
    std::string frame(headerLength, '\0');
    Plist::Writer writer(frame, objects);
    uint64_t entries[6];
    entries[0] = writer.putString("id");
    entries[3] = writer.putInteger(request.id);
    entries[1] = writer.putString("selector");
    entries[4] = writer.putString(info(request.selector).name);
    entries[2] = writer.putString("arguments");
    std::vector<uint64_t> items;
    items.reserve(request.arguments.size());
    for (const auto& argument : request.arguments) items.push_back(putArgument(writer, argument));
    entries[5] = writer.putArray(items);
    writer.finish(writer.putDictionary(entries));
    putHeader(frame.data(), frame.size());
    return frame;
}

void encodeReply(uint64_t id, const ReplyValue& value, std::string& frame) {
    if (encodeShortReply(id, value, frame)) return;
    const auto* text = std::get_if<std::string>(&value);
    const auto* texts = std::get_if<TextDictionary>(&value);
    std::size_t textBytes = text != nullptr ? text->size() : 0;
    if (texts != nullptr) {
        for (const auto& [key, item] : *texts) textBytes += key.size() + item.size() + 24;
    }
    frame.assign(headerLength, '\0');
    frame.reserve(128 + textBytes + textBytes / 2);

    // The message, its keys, the id and the reply; a dictionary's entries besides.
    const bool hasReply = !std::holds_alternative<std::monostate>(value);
    Plist::Writer writer(frame, 3 + (hasReply ? 2 : 0) + (texts != nullptr ? 2 * texts->size() : 0));
    uint64_t entries[4];
    entries[0] = writer.putString("id");
    entries[hasReply ? 2 : 1] = writer.putInteger(id);
    if (hasReply) {
        entries[1] = writer.putString("reply");
        if (text != nullptr) {
            entries[3] = writer.putString(*text);
        } else if (const auto* flag = std::get_if<bool>(&value)) {
            entries[3] = writer.putBoolean(*flag);
        } else {
            std::vector<uint64_t> references(2 * texts->size());
            std::size_t i = 0;
            for (const auto& [key, item] : *texts) {
                references[i] = writer.putString(key);
                references[texts->size() + i] = writer.putString(item);
                ++i;
            }
            entries[3] = writer.putDictionary(references);
        }
    }
    writer.finish(writer.putDictionary(std::span(entries, hasReply ? 4 : 2)));
    putHeader(frame.data(), frame.size());
}

std::string encodeReply(const Reply& reply) {
    std::string frame;
    encodeReply(reply.id, reply.value, frame);
    return frame;
}

std::optional<Request> decodeRequest(std::string_view body) {
    const Plist::Document document(body);
    Fields fields;
    if (!readMessage(body, document, fields)) return std::nullopt;
    if (!fields.id || fields.id->type() != Plist::Type::integer) return std::nullopt;
    if (!fields.selector || !fields.arguments || fields.arguments->type() != Plist::Type::array) return std::nullopt;
    std::optional<Selector> selector;
    for (const auto& entry : selectors()) {
        if (fields.selector->textIs(entry.name)) selector = entry.selector;
    }
    if (!selector || fields.arguments->count() > info(*selector).arity) return std::nullopt;

    Request request;
    request.id = fields.id->number();
    request.selector = *selector;
    request.arguments.reserve(fields.arguments->count());
    for (std::size_t i = 0; i < fields.arguments->count(); ++i) {
        auto argument = argumentOf(fields.arguments->item(i), isPathList(request.selector, i));
        if (!argument) return std::nullopt;
        request.arguments.push_back(std::move(*argument));
    }
    return request;
}

std::optional<Reply> decodeReply(std::string_view body) {
    const Plist::Document document(body);
    Fields fields;
    if (!readMessage(body, document, fields)) return std::nullopt;
    if (!fields.id || fields.id->type() != Plist::Type::integer) return std::nullopt;
    Reply reply;
    reply.id = fields.id->number();
    if (!fields.reply) return reply;  // a nil text
    const Plist::Node& value = *fields.reply;
    switch (value.type()) {
    case Plist::Type::string:
        reply.value = value.text();
        return reply;
    case Plist::Type::boolean:
        reply.value = value.number() != 0;
        return reply;
    case Plist::Type::dictionary: {
        TextDictionary texts;
        for (std::size_t i = 0; i < value.count(); ++i) {
            const Plist::Node item = value.value(i);
            if (item.type() != Plist::Type::string || !texts.emplace(value.key(i).text(), item.text()).second)
                return std::nullopt;
        }
        reply.value = std::move(texts);
        return reply;
    }
    default:
        return std::nullopt;
    }
}

uint32_t bodyLength(const unsigned char (&header)[headerLength]) noexcept {
    return (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) | uint32_t{header[3]};
}

}  // namespace Wire
