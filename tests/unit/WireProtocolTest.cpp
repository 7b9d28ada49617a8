#include "platform/transport/FrameStream.h"
#include "shared/linux/PlistNode.h"
#include "shared/PlistShape.h"
#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"

#include <gtest/gtest.h>

#include <plist/plist.h>
#include <sys/socket.h>
#include <unistd.h>


namespace {

std::string bodyOf(const std::string& frame) { return frame.substr(Wire::headerLength); }

std::string binary(plist_t message) {
    PlistNode owner(message);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(message, &bytes, &length);
    std::string body(bytes, length);
    plist_to_bin_free(bytes);
    return body;
}

// A request dictionary; `arguments` is adopted (nullptr leaves the key out).
plist_t message(plist_t id, const char* selector, plist_t arguments) {
    plist_t dict = plist_new_dict();
    if (id) plist_dict_set_item(dict, "id", id);
    if (selector) plist_dict_set_item(dict, "selector", plist_new_string(selector));
    if (arguments) plist_dict_set_item(dict, "arguments", arguments);
    return dict;
}

plist_t array(std::initializer_list<plist_t> items) {
    plist_t list = plist_new_array();
    for (plist_t item : items) plist_array_append_item(list, item);
    return list;
}

// A binary property list built object by object: containers name their
// children by index; object 0 is the top.
std::string handMade(const std::vector<std::string>& objects) {
    std::string data = "bplist00";
    std::vector<uint32_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(static_cast<uint32_t>(data.size()));
        data += object;
    }
    const auto table = static_cast<uint64_t>(data.size());
    auto put = [&](uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) data += char((value >> (8 * i)) & 0xff);
    };
    for (auto offset : offsets) put(offset, 4);
    data += std::string(6, '\0');
    data += char(4);
    data += char(1);
    put(objects.size(), 8);
    put(0, 8);
    put(table, 8);
    return data;
}

// Objects of a hand-made list.
std::string withLength(unsigned type, std::size_t count) {
    if (count < 15) return std::string(1, char((type << 4) | count));
    return std::string{char((type << 4) | 0xF), '\x11', char(count >> 8), char(count & 0xff)};
}
std::string ascii(std::string_view text) { return withLength(0x5, text.size()) + std::string(text); }
std::string utf16(std::u16string_view units) {
    std::string object = withLength(0x6, units.size());
    for (char16_t unit : units) object += {char(unit >> 8), char(unit & 0xff)};
    return object;
}
std::string arrayOf(const std::vector<int>& children) {
    std::string object = withLength(0xA, children.size());
    for (int child : children) object += char(child);
    return object;
}

// A request to `selector` whose arguments array is object 6; `rest` are
// objects 6 onwards.
std::string handMadeRequest(std::string_view selector, const std::vector<std::string>& rest) {
    std::vector<std::string> objects{"\xd3\x01\x02\x03\x04\x05\x06", ascii("id"), ascii("selector"),
                                     ascii("arguments"), "\x10\x07", ascii(selector)};
    objects.insert(objects.end(), rest.begin(), rest.end());
    return handMade(objects);
}

constexpr std::string_view removeItems = "removeItemsAtPaths:toTrash:reply:";

}  // namespace

TEST(WireProtocol, MessagesSurviveEncodingAndDecodingAndKeepTheirIds) {
    const Wire::ReplyValue values[] = {
        std::monostate{}, std::string("1.6"), true, false, Wire::TextDictionary{},
        Wire::TextDictionary{{"/Library/Caches/x", "Path is not allowed"},
                             {std::string("/Library/Caches/x\0", 18), "remove: Invalid argument"},
                             {std::string("/\u00e9\0", 4), "stat x: No such file"}},
    };
    for (const uint64_t id : {uint64_t{0}, uint64_t{255}, uint64_t{1} << 32, uint64_t{INT64_MAX}, uint64_t{1} << 63,
                              uint64_t{UINT64_MAX}}) {
        for (const auto& value : values) {
            const auto reply = Wire::decodeReply(bodyOf(Wire::encodeReply({id, value})));
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->id, id);
            EXPECT_EQ(reply->value, value);
        }
        const Wire::Request request{id, Wire::Selector::removeChosenItems,
                                    {std::vector<std::string>{"/Users/ann/Desktop/Caf\u00e9", "/a/\u65e5\u672c\U0001F600",
                                                              std::string("/Users/ann/Desktop/Thesis\0.bak", 30),
                                                              std::string("/Caf\u00e9\0", 7)},
                                     true}};
        const auto decoded = Wire::decodeRequest(bodyOf(Wire::encodeRequest(request)));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->id, id);
        EXPECT_EQ(decoded->selector, request.selector);
        EXPECT_EQ(decoded->arguments, request.arguments);
    }
    const std::string frame = Wire::encodeRequest({});
    const unsigned char header[4] = {static_cast<unsigned char>(frame[0]), static_cast<unsigned char>(frame[1]),
                                     static_cast<unsigned char>(frame[2]), static_cast<unsigned char>(frame[3])};
    EXPECT_EQ(Wire::bodyLength(header), frame.size() - 4);
    const unsigned char big[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(Wire::bodyLength(big), 0x01020304u);
}

TEST(WireProtocol, MessagesOfTheWrongShapeAreRefused) {
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"garbage", "this is not a property list at all"},
        {"not a dictionary", binary(array({plist_new_uint(1)}))},
        {"id missing", binary(message(nullptr, "versionWithReply:", array({})))},
        {"id not an integer", binary(message(plist_new_string("1"), "versionWithReply:", array({})))},
        {"selector missing", binary(message(plist_new_uint(1), nullptr, array({})))},
        {"selector unknown", binary(message(plist_new_uint(1), "versionWithReply", array({})))},
        {"arguments missing", binary(message(plist_new_uint(1), "versionWithReply:", nullptr))},
        {"arguments not an array", binary(message(plist_new_uint(1), "versionWithReply:", plist_new_dict()))},
        {"too many arguments",
         binary(message(plist_new_uint(1), "setMotionSensorWithEnabled:reply:", array({plist_new_bool(1), plist_new_bool(1)})))},
        {"selector with a suffix", handMadeRequest(std::string_view("versionWithReply:\0junk", 22), {arrayOf({})})},
        {"ASCII string with the byte 0xFF", handMadeRequest(removeItems, {arrayOf({7}), arrayOf({8}), ascii("/a\xff")})},
        {"UTF-16 string ending in a lone surrogate",
         handMadeRequest(removeItems, {arrayOf({7}), arrayOf({8}), utf16(u"/a\xD83D")})},
        {"UTF-16 string with a lone low surrogate",
         handMadeRequest(removeItems, {arrayOf({7}), arrayOf({8}), utf16(u"/\xDE00" u"a")})},
        {"path list element not a string", handMadeRequest(removeItems, {arrayOf({7}), arrayOf({8, 9}), ascii("/a"), "\x10\x03"})},
        {"one 4 KiB path referred to 20,000 times",
         handMadeRequest(removeItems, {arrayOf({7}), arrayOf(std::vector<int>(20000, 8)), ascii("/" + std::string(4095, 'x'))})},
    };
    for (const auto& c : cases) EXPECT_FALSE(Wire::decodeRequest(c.body)) << c.what;
}

TEST(WireProtocol, ArgumentsOfAnotherTypeConvertAsAbsent) {
    const auto body = binary(message(plist_new_uint(7), "unloadLaunchDaemonWithLabel:plistPath:toTrash:reply:",
                                     array({array({plist_new_uint(5)}), plist_new_string("/p"), plist_new_uint(2)})));
    auto request = Wire::decodeRequest(body);
    ASSERT_TRUE(request) << "only a path list must hold strings alone";
    EXPECT_EQ(Wire::textArgument(*request, 0), "") << "a list is not a text";
    EXPECT_EQ(Wire::textArgument(*request, 1), "/p");
    EXPECT_TRUE(Wire::flagArgument(*request, 2)) << "any non-zero integer is true";
    EXPECT_FALSE(Wire::flagArgument(*request, 1)) << "a text is not a truth value";
    EXPECT_FALSE(Wire::flagArgument(*request, 3)) << "missing";

    const auto listBody = binary(message(plist_new_uint(8), "removeItemsAtPaths:toTrash:reply:",
                                         array({array({plist_new_string("/a"), plist_new_string("/b")}),
                                                plist_new_real(1.0)})));
    request = Wire::decodeRequest(listBody);
    ASSERT_TRUE(request);
    EXPECT_EQ(Wire::textListArgument(*request, 0), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_FALSE(Wire::flagArgument(*request, 1)) << "a real is not a truth value";
    EXPECT_TRUE(Wire::textListArgument(*request, 1).empty());
}

TEST(WireProtocol, StringsArriveWithEveryByte) {
    const auto request = Wire::decodeRequest(handMadeRequest(
        removeItems, {arrayOf({7}), arrayOf({8, 9, 10, 10}), ascii(std::string_view("/Users/ann/Desktop/Thesis\0.bak", 30)),
                      utf16(std::u16string_view(u"/Caf\u00e9\0", 6)), utf16(u"/\xD83D\xDE00")}));
    ASSERT_TRUE(request);
    EXPECT_EQ(Wire::textListArgument(*request, 0),
              (std::vector<std::string>{std::string("/Users/ann/Desktop/Thesis\0.bak", 30), std::string("/Caf\u00e9\0", 7),
                                        "/\U0001F600", "/\U0001F600"}));
}

TEST(PlistShape, DeepOrSharedContainersAreRefusedBeforeParsing) {
    const std::string emptyArray = "\xa0";
    auto arrayOf = [](std::initializer_list<int> children) {
        std::string object(1, char(0xa0 | children.size()));
        for (int child : children) object += char(child);
        return object;
    };
    EXPECT_TRUE(PlistShape::isShallowBinaryTree(handMade({arrayOf({1, 1}), "\x51x"}), 4)) << "shared scalar";
    EXPECT_TRUE(PlistShape::isShallowBinaryTree(handMade({arrayOf({1}), arrayOf({2}), emptyArray}), 3));
    EXPECT_FALSE(PlistShape::isShallowBinaryTree(handMade({arrayOf({1}), arrayOf({2}), emptyArray}), 2)) << "too deep";
    EXPECT_FALSE(PlistShape::isShallowBinaryTree(handMade({arrayOf({0})}), 8)) << "cycle";
    EXPECT_FALSE(PlistShape::isShallowBinaryTree(handMade({arrayOf({1, 1}), arrayOf({2, 2}), emptyArray}), 8))
        << "shared container";
    EXPECT_FALSE(PlistShape::isShallowBinaryTree(handMade({arrayOf({5})}), 8)) << "reference out of range";
    std::string truncated = handMade({emptyArray});
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(PlistShape::isShallowBinaryTree(truncated, 8));

    // Nested deeper than any message: refused without reaching the parser.
    EXPECT_FALSE(Wire::decodeRequest(handMade({arrayOf({1}), arrayOf({2}), arrayOf({3}), arrayOf({4}), arrayOf({5}),
                                               arrayOf({6}), arrayOf({7}), arrayOf({8}), arrayOf({9}), emptyArray})));

    EXPECT_TRUE(PlistShape::isSmallXML("<plist><dict><key>a</key><array/></dict></plist>", 2));
    EXPECT_FALSE(PlistShape::isSmallXML("<plist><array><array><array></array></array></array></plist>", 2));
}

TEST(FrameStream, FramesAreReassembledAndOversizedLengthsRefusedUnread) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd reading(fds[0]), writing(fds[1]);
    FrameStream::Reader reader(reading.get());
    std::string body;

    const std::string two = Wire::encodeRequest({}) + Wire::encodeReply({3, true});
    for (char byte : two) ASSERT_EQ(::write(writing.get(), &byte, 1), 1);  // one byte at a time
    ASSERT_EQ(reader.next(body), FrameStream::ReadStatus::frame);
    EXPECT_TRUE(Wire::decodeRequest(body));
    ASSERT_EQ(reader.next(body), FrameStream::ReadStatus::frame);
    EXPECT_TRUE(Wire::decodeReply(body));

    // Exactly 16 MiB is allowed; one byte more is refused before any body byte is read.
    ASSERT_EQ(::write(writing.get(), "\x01\x00\x00\x01", 4), 4);
    EXPECT_EQ(reader.next(body), FrameStream::ReadStatus::broken);

    ::shutdown(writing.get(), SHUT_WR);
    FrameStream::Reader atEnd(reading.get());
    EXPECT_EQ(atEnd.next(body), FrameStream::ReadStatus::ended);
}
