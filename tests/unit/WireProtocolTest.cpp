// The wire: bodies decoded into messages exactly or
// refused whole, and the shape checks made before a property list is parsed.
#include "platform/transport/WireProtocol.h"
#include "shared/PlistShape.h"
#include "support/HandMadePlist.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* unload = "unloadLaunchDaemonWithLabel:plistPath:toTrash:reply:";
constexpr const char* version = "versionWithReply:";
constexpr const char* removeItems = "removeItemsAtPaths:toTrash:reply:";

std::string marker(unsigned type, std::size_t count) {
    if (count < 15) return std::string(1, char(type << 4 | count));
    return {char(type << 4 | 0xF), '\x11', char(count >> 8), char(count)};
}
std::string ascii(std::string_view text) { return marker(0x5, text.size()) + std::string(text); }
std::string utf16(std::u16string_view units) {
    std::string object = marker(0x6, units.size());
    for (char16_t unit : units) object += {char(unit >> 8), char(unit)};
    return object;
}
std::string arrayOf(const std::vector<int>& children) {
    std::string object = marker(0xA, children.size());
    for (int child : children) object += char(child);
    return object;
}

// {id: 7, selector: `selector`, arguments: object 6}; `rest` are objects 6 onwards.
std::string handMadeRequest(std::string_view selector, const std::vector<std::string>& rest) {
    std::vector<std::string> objects{"\xd3\x01\x02\x03\x04\x05\x06",
                                     ascii("id"),
                                     ascii("selector"),
                                     ascii("arguments"),
                                     "\x10\x07",
                                     ascii(selector)};
    objects.insert(objects.end(), rest.begin(), rest.end());
    return handMadePlist(objects);
}

// A removal whose path list holds `path` (object 8).
std::string removalOf(const std::string& path) {
    return handMadeRequest(removeItems, {arrayOf({7}), arrayOf({8}), path});
}

}  // namespace

// Ids of every integer width; texts with NULs, and with characters that take
// two UTF-16 units. The frame codec's corpus holds the other kinds of message.
TEST(WireProtocol, MessagesDecodeToExactlyWhatWasEncoded) {
    const Wire::ReplyValue value = Wire::TextDictionary{{std::string("/x\0", 3), "bad"}, {"/\u00e9", "ok"}};
    const std::vector<std::string> paths{"/\u65e5\U0001F600", std::string("/Thesis\0.bak", 12)};
    for (const uint64_t id : {uint64_t{0}, uint64_t{1} << 32, uint64_t{1} << 63, uint64_t{UINT64_MAX}}) {
        const auto reply = Wire::decodeReply(Wire::encodeReply({id, value}).substr(Wire::headerLength));
        ASSERT_TRUE(reply);
        EXPECT_EQ(std::pair(reply->id, reply->value), std::pair(id, value));
        const Wire::Request request{id, Wire::Selector::removeChosenItems, {paths, true}};
        const auto decoded = Wire::decodeRequest(Wire::encodeRequest(request).substr(Wire::headerLength));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(std::tuple(decoded->id, decoded->selector, decoded->arguments),
                  std::tuple(id, request.selector, request.arguments));
    }
}

TEST(WireProtocol, MessagesOfTheWrongShapeAreRefusedWhole) {
    std::vector<std::string> nested;
    for (int i = 1; i <= 9; ++i) nested.push_back(arrayOf({i}));
    nested.push_back(arrayOf({}));
    const std::string twoKeys = "\xd2\x01\x02\x03\x04";  // a dictionary: keys objects 1 and 2, values 3 and 4
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {"not a property list", "this is not a property list"},
        {"not a dictionary", handMadePlist({arrayOf({})})},
        {"id missing", handMadePlist({twoKeys, ascii("selector"), ascii("arguments"), ascii(version), arrayOf({})})},
        {"selector missing", handMadePlist({twoKeys, ascii("id"), ascii("arguments"), "\x10\x01", arrayOf({})})},
        {"arguments missing", handMadePlist({twoKeys, ascii("id"), ascii("selector"), "\x10\x01", ascii(version)})},
        {"selector with a suffix", handMadeRequest(std::string_view("versionWithReply:\0junk", 22), {arrayOf({})})},
        {"too many arguments", handMadeRequest("setMotionSensorWithEnabled:reply:", {arrayOf({7, 7}), "\x09"})},
        {"id twice", handMadePlist({"\xd4\x01\x02\x03\x01\x04\x05\x06\x07", ascii("id"), ascii("selector"),
                               ascii("arguments"), "\x10\x07", ascii(version), arrayOf({}), "\x10\x08"})},
        {"a count running into the offset table", handMadeRequest(version, {"\xaf\x13\x00"})},
        {"ASCII string with the byte 0xFF", removalOf(ascii("/a\xff"))},
        {"UTF-16 string ending in a high surrogate", removalOf(utf16(u"/a\xD83D"))},
        {"UTF-16 string with a lone low surrogate", removalOf(utf16(u"/\xDE00" u"a"))},
        {"path list element not a string",
         handMadeRequest(removeItems, {arrayOf({7}), arrayOf({8, 9}), ascii("/a"), "\x10\x03"})},
        {"one 4 KiB path referred to 20,000 times",
         handMadeRequest(removeItems,
                         {arrayOf({7}), arrayOf(std::vector<int>(20000, 8)), ascii("/" + std::string(4095, 'x'))})},
        {"nested deeper than any message", handMadePlist(nested)},
    };
    // clang-format on
    for (const auto& [what, body] : cases) EXPECT_FALSE(Wire::decodeRequest(body)) << what;
}

// Only a path list must be what it is declared to be; any other argument of
// another type, or missing, converts as absent. A non-zero integer is true.
TEST(WireProtocol, ArgumentsOfAnotherTypeConvertAsAbsent) {
    const struct {
        std::vector<std::string> objects;  // the argument, then the objects it refers to
        std::string text;
        bool flag;
        std::vector<std::string> list;
    } cases[] = {
        {{ascii("/p")}, "/p", false, {}},
        {{"\x10\x02"}, "", true, {}},  // integers
        {{std::string("\x10\x00", 2)}, "", false, {}},
        {{"\x09"}, "", true, {}},                          // true
        {{"\x23" + std::string(8, '\0')}, "", false, {}},  // a real
        {{"\xd0"}, "", false, {}},                         // a dictionary
        {{arrayOf({8}), "\x10\x05"}, "", false, {}},
        {{arrayOf({8, 9}), ascii("/a"), ascii("/b")}, "", false, {"/a", "/b"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> objects{arrayOf({7})};
        objects.insert(objects.end(), c.objects.begin(), c.objects.end());
        const auto request = Wire::decodeRequest(handMadeRequest(unload, objects));
        ASSERT_TRUE(request) << c.text;
        EXPECT_EQ(Wire::textArgument(*request, 0), c.text);
        EXPECT_EQ(Wire::flagArgument(*request, 0), c.flag) << c.text;
        EXPECT_EQ(Wire::textListArgument(*request, 0), c.list);
        EXPECT_FALSE(Wire::flagArgument(*request, 1));
    }
}

TEST(PlistShape, DeepOrSharedContainersAreRefusedBeforeParsing) {
    const struct {
        std::string bytes;
        std::size_t maxDepth;
        bool shallowTree;
    } cases[] = {
        {handMadePlist({arrayOf({1, 1}), ascii("x")}), 4, true},  // a shared scalar
        {handMadePlist({arrayOf({1}), arrayOf({2}), arrayOf({})}), 3, true},
        {handMadePlist({arrayOf({1}), arrayOf({2}), arrayOf({})}), 2, false},
        {handMadePlist({arrayOf({0})}), 8, false},                                   // a cycle
        {handMadePlist({arrayOf({1, 1}), arrayOf({2, 2}), arrayOf({})}), 8, false},  // a shared container
        // A reference one past the last object, where the trailer's unused bytes read as object 1's offset.
        {handMadePlist({arrayOf({2}), ascii("x")}, 4, 1, std::string("\0\0\0\x0a\0\0", 6)), 8, false},
        {handMadePlist({arrayOf({})}).substr(0, 44), 8, false},  // the trailer cut short
    };
    for (const auto& c : cases) EXPECT_EQ(PlistShape::isShallowBinaryTree(c.bytes, c.maxDepth), c.shallowTree);
    EXPECT_TRUE(PlistShape::isSmallXML("<plist><dict><key>a</key><array/></dict></plist>", 2));
    EXPECT_FALSE(PlistShape::isSmallXML("<plist><array><array><array></array></array></array></plist>", 2));
}
