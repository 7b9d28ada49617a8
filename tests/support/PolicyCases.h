#pragma once

#include <nlohmann/json.hpp>

// The answer of one sorvane-policy op to a request, through the tool's own op
// table: the value of "result", or {"error": TEXT} for a request it cannot take.
nlohmann::json policyAnswer(const nlohmann::json& request);
