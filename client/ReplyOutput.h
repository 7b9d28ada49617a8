#pragma once

#include "shared/HelperProtocol.h"

#include <nlohmann/json.hpp>

#include <string>

// How sorvanectl shows a reply.
namespace ReplyOutput {

// The reply as JSON: a string, null, an object of strings, true or false.
nlohmann::json json(const HelperProtocol::ReplyValue& value);

// One line of JSON, as printed.
std::string jsonLine(const nlohmann::json& value);

// The reply as text for a person, one or more lines, each ending in a line end.
std::string text(HelperProtocol::Selector selector, const HelperProtocol::ReplyValue& value);

}  // namespace ReplyOutput
