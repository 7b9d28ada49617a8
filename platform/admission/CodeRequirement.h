#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Code requirements, evaluated on this platform against what can be proven
// about an executable file. The understood clauses, joined by "and":
//   identifier "X"                        the embedded property list's CFBundleIdentifier is X
//   anchor apple generic                  the file was installed by root
//   certificate leaf[subject.OU] = "T"    the embedded property list's TeamIdentifier is T
// Any other clause (and any other operator) is never satisfied.
namespace CodeRequirement {

struct Clause {
    enum class Kind { identifier, anchorAppleGeneric, teamIdentifier, unsupported };
    Kind kind = Kind::unsupported;
    std::string value;  // the identifier or team for the two kinds that name one

    friend bool operator==(const Clause&, const Clause&) = default;
};

// The clauses of a requirement text, in order. An empty text gives one
// unsupported clause, so that it is never satisfied.
std::vector<Clause> parse(std::string_view text);

// What is known about one executable.
struct ExecutableFacts {
    std::optional<std::string> bundleIdentifier;  // CFBundleIdentifier of the embedded property list
    std::optional<std::string> teamIdentifier;    // TeamIdentifier of the embedded property list
    bool installedByRoot = false;  // file and every folder above it owned by root, not group/other-writable
};

bool isSatisfied(const std::vector<Clause>& clauses, const ExecutableFacts& facts);

}  // namespace CodeRequirement
