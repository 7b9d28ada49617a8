#pragma once

#include <plist/plist.h>

#include <memory>

// Sole owner of one libplist tree: frees it (and everything below it) once.
struct PlistFree {
    void operator()(void* node) const noexcept { plist_free(static_cast<plist_t>(node)); }
};
using PlistNode = std::unique_ptr<void, PlistFree>;
