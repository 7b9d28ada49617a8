#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Path-text functions with the platform's rules for path strings. They look
// only at the text, never at the file system.
namespace PathText {

// The last component after trailing "/" characters are dropped; "/" for "/"
// (and for any text made only of "/"); the text itself when it has no "/".
std::string_view lastPathComponent(std::string_view path);

// Trailing "/" characters dropped (a lone "/" stays), then everything before
// the last "/", or "/" when that "/" is the first character; the empty text
// when there is no "/" at all.
std::string deletingLastPathComponent(std::string_view path);

// The extension of the last component: the text after its last ".", provided
// that "." is neither the component's first nor its last character; empty
// otherwise. So ".profile" and "name." have no extension.
std::string pathExtension(std::string_view path);

// The path without the extension that pathExtension reports (and without the
// "." before it); unchanged when there is none.
std::string deletingPathExtension(std::string_view path);

// Joins a holding folder and a name: "/" followed by the name when the folder
// is "/", otherwise folder, "/", name.
std::string joined(std::string_view folder, std::string_view name);

// The non-empty pieces of a path between "/" characters, in order, as views
// into the text: "//a///b/" gives "a" and "b", "/" gives nothing. Walked with
// a range-for; nothing is copied.
class Components {
public:
    class Iterator {
    public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;

        Iterator() noexcept = default;
        explicit Iterator(std::string_view rest) noexcept : rest_(rest) { ++*this; }

        std::string_view operator*() const noexcept { return piece_; }
        Iterator& operator++() noexcept;
        Iterator operator++(int) noexcept {
            Iterator before = *this;
            ++*this;
            return before;
        }
        // Equal when both are at the end or at the same piece of one text.
        friend bool operator==(const Iterator& a, const Iterator& b) noexcept {
            return a.piece_.data() == b.piece_.data();
        }

    private:
        std::string_view rest_;   // what follows the current piece
        std::string_view piece_;  // empty (no data) at the end
    };

    explicit Components(std::string_view path) noexcept : path_(path) {}
    Iterator begin() const noexcept { return Iterator(path_); }
    Iterator end() const noexcept { return Iterator(); }

private:
    std::string_view path_;
};

// The pieces of Components(path), collected.
std::vector<std::string_view> components(std::string_view path);

}  // namespace PathText
