#pragma once

#include "shared/LaunchctlResult.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The launchctl side of enabling and disabling a job.
namespace LaunchJobPlan {

// The verbs that change a job. The runner accepts these and "print" (the
// lookup) and nothing else.
inline constexpr std::array<std::string_view, 4> changingVerbs = {"enable", "disable", "bootstrap", "bootout"};
inline constexpr std::string_view lookupVerb = "print";

// The service target: domain, "/", label.
std::string target(std::string_view domain, std::string_view label);

// The two commands of a change: `persist` records the enabled or disabled
// state ("enable"/"disable" target), `live` changes what is loaded now
// ("bootstrap" domain plist / "bootout" target).
struct Steps {
    std::vector<std::string> persist;
    std::vector<std::string> live;
    friend bool operator==(const Steps&, const Steps&) = default;
};
Steps steps(std::string_view domain, std::string_view label, std::string_view plistPath, bool enabled);

// Runs one launchctl argument list to its end.
using Runner = std::function<LaunchctlResult(const std::vector<std::string>& arguments)>;

// The change sequence, one command after the other: `persist`, then `live`;
// a failing `live` is checked with the lookup ("print" target), and counts
// only when the job's presence contradicts the request (a bootstrap of a job
// that is loaded anyway, or a bootout of one that is not, succeeded).
// Answers the failure text of the first command that counts, or nothing.
// Blocks its thread for the whole sequence; the request layer runs it on the
// connection's executor for launch sequences.
std::optional<std::string> apply(std::string_view domain, std::string_view label, std::string_view plistPath,
                                 bool enabled, const Runner& run);

}  // namespace LaunchJobPlan
