#pragma once

#include "shared/HelperProtocol.h"

#include <string>
#include <variant>
#include <vector>

// The words of one request as a person or a script writes them, for example
// {"remove", "--trash", "/Library/Caches/Foo"}:
//   version
//   remove [--trash] PATH...
//   remove-chosen [--trash] PATH...
//   launch-job enable|disable LABEL PLIST
//   unload-daemon [--trash] LABEL PLIST
//   reset-privacy SERVICE BUNDLE_ID
//   motion on|off
// Paths, labels and names are sent exactly as given.
namespace CommandWords {

struct Command {
    HelperProtocol::Selector selector = HelperProtocol::Selector::version;
    std::vector<HelperProtocol::Argument> arguments;
};

struct UsageError {
    std::string message;
};

std::variant<Command, UsageError> parse(const std::vector<std::string>& words);

// The usage text of all request words.
std::string usage();

}  // namespace CommandWords
