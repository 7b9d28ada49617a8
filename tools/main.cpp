// sorvane-policy: the shared module's pure decisions, one JSON object a line in,
// one JSON object a line out.
#include "tools/PolicyOps.h"

#include <iostream>
#include <string>

int main() {
    PolicyOps::Table table;
    PolicyOps::addPathOps(table);
    PolicyOps::addFileOps(table);
    PolicyOps::addLaunchOps(table);
    PolicyOps::addPrivacyOps(table);

    std::string line;
    while (std::getline(std::cin, line)) {
        nlohmann::json answer;
        try {
            nlohmann::json request = nlohmann::json::parse(line);
            if (!request.is_object()) throw PolicyOps::BadInput("a request is a JSON object");
            auto op = request.find("op");
            if (op == request.end() || !op->is_string()) throw PolicyOps::BadInput("missing \"op\"");
            auto entry = table.find(op->get<std::string>());
            if (entry == table.end()) throw PolicyOps::BadInput("unknown op: " + op->get<std::string>());
            answer["result"] = entry->second(request);
        } catch (const nlohmann::json::exception& e) {
            answer = {{"error", std::string("not JSON: ") + e.what()}};
        } catch (const std::exception& e) {
            answer = {{"error", e.what()}};
        }
        std::cout << answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
    }
    return 0;
}
