#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The outcome of one /bin/launchctl run.
struct LaunchctlResult {
    // The child's termination status; -1 when the command was refused or no
    // process could be started.
    int32_t status = -1;
    // Standard output decoded as UTF-8 (ill-formed bytes as U+FFFD); empty when
    // no process ran.
    std::string output;
    // Standard error decoded the same way; when no process ran, the runner's
    // own failure text.
    std::string error;

    bool succeeded() const noexcept { return status == 0; }

    friend bool operator==(const LaunchctlResult&, const LaunchctlResult&) = default;
};

// The one-line text a launch-job request answers for a failed run:
// "launchctl VERB failed (STATUS)", followed by ": " and the trimmed error text
// (or the trimmed output when the error text is empty) unless that is empty.
std::string launchctlFailureMessage(const std::vector<std::string>& arguments, const LaunchctlResult& result);
