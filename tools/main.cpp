// sorvane-policy: the shared module's pure decisions, one JSON object a line in,
// one JSON object a line out.
#include "tools/PolicyOps.h"

#include <iostream>
#include <string>

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        nlohmann::json answer;
        try {
            answer = PolicyOps::answer(nlohmann::json::parse(line));
        } catch (const nlohmann::json::exception& e) {
            answer = {{"error", std::string("not JSON: ") + e.what()}};
        }
        std::cout << answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
    }
    return 0;
}
