#pragma once

#include <optional>
#include <string>

// The information property list that an executable carries in its ELF section
// "__info_plist" (XML or binary).
namespace EmbeddedInfoPlist {

struct Identity {
    std::optional<std::string> bundleIdentifier;  // CFBundleIdentifier
    std::optional<std::string> teamIdentifier;    // TeamIdentifier
};

// The raw section of the open executable; nothing when the file is not ELF,
// has no such section, or the section is empty or implausibly large.
std::optional<std::string> sectionBytes(int fd);

// The identity keys of the embedded property list; both absent when there is
// none, it does not parse, or it is not a dictionary.
Identity identity(int fd);

}  // namespace EmbeddedInfoPlist
