#pragma once

#include <string>
#include <string_view>
#include <vector>

// Path-text functions with the platform's rules for path strings. They look
// only at the text, never at the file system.
namespace PathText {

// The last component after trailing "/" characters are dropped; "/" for "/"
// (and for any text made only of "/"); the text itself when it has no "/".
std::string lastPathComponent(std::string_view path);

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

// Splits at every "/" and drops empty pieces.
std::vector<std::string_view> components(std::string_view path);

// The last piece of components(path), or the empty text when there is none.
std::string_view lastComponent(std::string_view path);

}  // namespace PathText
