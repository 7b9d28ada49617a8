#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Binary property lists ("bplist00") of the values messages use: integers,
// truth values, strings, arrays and dictionaries. Strings are kept byte for
// byte, NUL included, as UTF-8. Both directions work on the bytes in place:
// a reader judges a list whole and then answers questions about its objects,
// a writer appends objects one by one; neither builds a tree of values.
namespace BinaryPropertyList {

// What one reference costs against a reader's budget, besides the bytes of
// the string it names: about what copying it out takes (a slot for a value
// and one for a string).
inline constexpr std::size_t referenceCost = 72;

// The types messages tell apart; every other type (real, date, data, UID,
// set, null) is Other, as is an integer that does not fit 64 bits.
enum class Type { other, boolean, integer, string, array, dictionary };

class Document;

// One object of a judged document, read where it lies.
class Node {
public:
    Type type() const { return type_; }
    // A truth value as 0 or 1, an integer's value.
    uint64_t number() const { return count_; }
    // The entries of an array or a dictionary.
    std::size_t count() const { return isContainer() ? static_cast<std::size_t>(count_) : 0; }
    // An array's element, a dictionary's key or value; Other past the end.
    Node item(std::size_t index) const;
    Node key(std::size_t index) const;
    Node value(std::size_t index) const;
    // A string as UTF-8; empty for anything else.
    std::string text() const;
    // Whether this is a string of exactly these ASCII characters.
    bool textIs(std::string_view ascii) const {
        return type_ == Type::string && count_ == ascii.size() && sameUnits(ascii);
    }

private:
    friend class Document;
    bool isContainer() const { return type_ == Type::array || type_ == Type::dictionary; }
    Node reference(std::size_t slot) const;
    bool sameUnits(std::string_view ascii) const;  // a string's units against as many ASCII characters

    const Document* document_ = nullptr;
    Type type_ = Type::other;
    bool utf16_ = false;
    uint64_t count_ = 0;     // integer: the value; boolean: 0 or 1; strings: units; containers: entries
    std::size_t start_ = 0;  // first byte after the marker and any length
};

// The bytes of one binary property list, which must outlive the document and
// its nodes.
class Document {
public:
    explicit Document(std::string_view bytes);
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Whether the bytes are a binary property list whose objects reached from
    // the top are all well-formed: no string that is not (an ASCII string with
    // a byte above 0x7F, a UTF-16 string with a lone surrogate), no dictionary
    // key that is not a string, no object nested more than `maxDepth`
    // containers deep, and a cost of at most `budget`: every reference counts,
    // so an object referred to many times counts as often. Nothing is copied
    // to judge; the walk stops as soon as the budget is spent.
    //
    // What the walk met first is handed back in `judged`, so that a reader
    // need not look it up again: the top object, then, when the top is a
    // dictionary whose keys and values fit after it, its keys and then its
    // values in the same order.
    bool judge(std::size_t maxDepth, std::size_t budget, std::span<Node> judged = {}) const;

    // The top object. Only a judged document's nodes may be asked about.
    Node top() const { return node(top_); }

private:
    friend class Node;
    Node node(uint64_t index) const;
    bool wellFormed(const Node& string) const;

    const unsigned char* bytes_;
    std::size_t offsetWidth_ = 0;
    std::size_t referenceWidth_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t top_ = 0;
    std::size_t tableStart_ = 0;
    bool usable_ = false;
};

// Appends one binary property list to a string, each object after the
// objects it refers to: a put returns the index by which containers refer to
// the object. Strings holding only ASCII are written as ASCII strings, others
// as UTF-16; a string that is not well-formed UTF-8 is written with each bad
// sequence replaced by U+FFFD. Equal strings are written once: the texts
// given must stay alive until finish.
class Writer {
public:
    // `mostObjects` bounds the number of puts; it fixes the width of references.
    Writer(std::string& out, std::size_t mostObjects);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    uint64_t putInteger(uint64_t number);
    uint64_t putBoolean(bool flag);
    uint64_t putOther();  // written as the real 0
    uint64_t putString(std::string_view text);
    uint64_t putArray(std::span<const uint64_t> items);
    // The keys' references, then the values' in the same order.
    uint64_t putDictionary(std::span<const uint64_t> keysThenValues);

    // Writes the offset table and the trailer, with `top` as the top object.
    void finish(uint64_t top);

private:
    uint64_t begin();
    void putMarker(unsigned type, std::size_t count);
    void putNumber(uint64_t number);
    uint64_t putContainer(unsigned type, std::size_t count, std::span<const uint64_t> references);
    uint64_t* knownString(std::string_view text);

    static constexpr std::size_t fewObjects = 16;

    std::string& out_;
    const std::size_t base_;
    const std::size_t mostObjects_;
    const std::size_t referenceWidth_;
    // The objects' offsets: in place for a few, on the heap beyond.
    std::array<uint64_t, fewObjects> fewOffsets_;
    std::vector<uint64_t> manyOffsets_;
    uint64_t* offsets_;
    std::size_t objectCount_ = 0;
    // Strings written so far: a few are looked for one by one, more by hash.
    struct KnownString {
        const char* data;
        std::size_t size;
        uint64_t index;
    };
    std::array<KnownString, fewObjects> fewStrings_;  // the first fewStringCount_ are set
    std::size_t fewStringCount_ = 0;
    std::unordered_map<std::string_view, uint64_t> manyStrings_;
};

}  // namespace BinaryPropertyList
