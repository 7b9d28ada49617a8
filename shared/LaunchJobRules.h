#pragma once

#include "shared/LaunchJobFacts.h"
#include "shared/PrivilegedLaunchFolder.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>

// The rules for launch-job requests. They look only at the requested label,
// the client user and the facts read from disk; they never ask the file
// system themselves.
namespace SafetyPolicy {

// The job folder that directly holds the plist: a canonical path ending in
// ".plist", whose name does not begin with "." and is longer than ".plist",
// in exactly "/Library/LaunchAgents" or "/Library/LaunchDaemons".
std::optional<PrivilegedLaunchFolder> privilegedLaunchFolder(std::string_view of);

// A label of at most 255 bytes of ASCII letters, digits and "._-@", beginning
// with a letter or digit, that is neither Apple's ("com.apple", "com.apple.*")
// nor the application's own (its identifier, or below it), in any letter case.
bool launchLabelAllowed(std::string_view label);

// Neither the program nor its resolved path lies in /System, in any letter
// case. Absent values are skipped.
bool launchProgramAllowed(const std::optional<std::string>& program, const std::optional<std::string>& resolved);

// The program is a regular file that no one outside `owners` could replace:
// it and its folder are owned by one of them and not group- or other-writable,
// and no folder above it is other-writable.
bool launchProgramTrusted(const std::optional<ProgramIntegrity>& integrity, const std::set<uint32_t>& owners);

// May the job be disabled (and the first half of the enable rule): a root-owned
// regular plist, reached without any link, writable by root alone, in a job
// folder, declaring exactly the requested allowed label, whose program lies
// outside /System.
bool privilegedLaunchJobToggleAllowed(std::string_view label, const LaunchJobFacts& facts);

// May the job be enabled: the toggle rule, and a program no other user could
// replace (owners: root for daemons, root and the client for agents).
bool privilegedLaunchJobEnableAllowed(std::string_view label, const LaunchJobFacts& facts, uint32_t clientUID);

// May the job be unloaded and its plist removed: a root-owned regular plist,
// reached without any link, in a job folder, declaring exactly the requested
// allowed label.
bool privilegedLaunchJobUnloadAllowed(std::string_view label, const LaunchJobFacts& facts);

}  // namespace SafetyPolicy
