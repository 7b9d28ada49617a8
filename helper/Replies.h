#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace Helper {

// The reply blocks of the protocol. Every operation calls its reply exactly once.
using TextReply = std::function<void(std::optional<std::string>)>;  // nullopt: success
using DictionaryReply = std::function<void(std::map<std::string, std::string>)>;
using BoolReply = std::function<void(bool)>;
using VersionReply = std::function<void(std::string)>;

}  // namespace Helper
