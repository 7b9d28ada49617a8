#include "tools/PolicyOps.h"

namespace PolicyOps {

nlohmann::json answer(const nlohmann::json& request) {
    static const Table table = [] {
        Table ops;
        addPathOps(ops);
        addFileOps(ops);
        addLaunchOps(ops);
        addPrivacyOps(ops);
        return ops;
    }();
    try {
        if (!request.is_object()) throw BadInput("a request is a JSON object");
        auto op = request.find("op");
        if (op == request.end() || !op->is_string()) throw BadInput("missing \"op\"");
        auto entry = table.find(op->get<std::string>());
        if (entry == table.end()) throw BadInput("unknown op: " + op->get<std::string>());
        return {{"result", entry->second(request)}};
    } catch (const nlohmann::json::exception& e) {
        return {{"error", std::string("not JSON: ") + e.what()}};
    } catch (const std::exception& e) {
        return {{"error", e.what()}};
    }
}

}  // namespace PolicyOps
