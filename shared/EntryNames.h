#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace AnchoredFiles {

// A folder's listing held as one buffer: every entry name followed by a NUL,
// in directory order (what SystemCalls::readEntryNames appends). A folder of
// any size costs one growing allocation instead of one string per entry.

// The name that starts at `at`, NUL-terminated as the system calls take it;
// `at` moves past it. Only for `at` below the buffer's size.
inline const char* takeEntryName(const std::string& names, size_t& at) noexcept {
    const char* name = names.data() + at;
    at += std::strlen(name) + 1;
    return name;
}

}  // namespace AnchoredFiles
