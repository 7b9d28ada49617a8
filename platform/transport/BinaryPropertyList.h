#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Binary property lists ("bplist00") of the values messages use: integers,
// truth values, strings, arrays and dictionaries. Strings are kept byte for
// byte, NUL included, as UTF-8.
namespace BinaryPropertyList {

struct Value;
struct Entry;
using Array = std::vector<Value>;
using Dictionary = std::vector<Entry>;  // in the order written

// A value of a type messages do not use: a real, date, data, UID, set or null.
struct Other {
    bool operator==(const Other&) const = default;
};

struct Value {
    std::variant<Other, bool, uint64_t, std::string, Array, Dictionary> content;
};

struct Entry {
    std::string key;
    Value value;
};

// What one reference costs against a reader's budget, besides the bytes of
// the string it names: about what the reader allocates for it.
inline constexpr std::size_t referenceCost = sizeof(Value) + sizeof(std::string);

// The top object of a binary property list. Nothing when the bytes are not
// one, a string is not well-formed (an ASCII string with a byte above 0x7F, a
// UTF-16 string with a lone surrogate), a dictionary key is not a string, an
// object is nested more than `maxDepth` containers deep (which also bounds the
// reader's recursion), or the objects reached from the top would cost more
// than `budget`: every reference counts, so an object referred to many times
// counts as often. All of this is judged before anything is copied.
// An 8-byte integer is read as its 64 bits; a 16-byte one whose value does
// not fit 64 bits is Other.
std::optional<Value> read(std::string_view bytes, std::size_t maxDepth, std::size_t budget);

// Appends the binary property list of `top` to `out`. Strings holding only
// ASCII are written as ASCII strings, others as UTF-16; a string that is not
// well-formed UTF-8 is written with each bad sequence replaced by U+FFFD.
// Other is written as the real 0.
void write(const Value& top, std::string& out);

}  // namespace BinaryPropertyList
