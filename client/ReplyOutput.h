#pragma once

#include "platform/transport/WireProtocol.h"

#include <nlohmann/json.hpp>

#include <string>

// How sorvanectl shows a reply.
namespace ReplyOutput {

// The reply as JSON: a string, null, an object of strings, true or false.
nlohmann::json json(const Wire::ReplyValue& value);

// One line of JSON, as printed.
std::string jsonLine(const nlohmann::json& value);

// The reply as text for a person, one or more lines, each ending in a line end.
std::string text(Wire::Selector selector, const Wire::ReplyValue& value);

}  // namespace ReplyOutput
