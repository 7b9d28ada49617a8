#pragma once

#include "tools/PolicyOps.h"

// The answer of one sorvane-policy op to a request, through the tool's own
// answer: the value of "result", or {"error": TEXT} for a request it cannot take.
inline nlohmann::json policyAnswer(const nlohmann::json& request) {
    const nlohmann::json answer = PolicyOps::answer(request);
    return answer.contains("result") ? answer["result"] : answer;
}
