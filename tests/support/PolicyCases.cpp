#include "support/PolicyCases.h"

#include "tools/PolicyOps.h"

nlohmann::json policyAnswer(const nlohmann::json& request) {
    static const PolicyOps::Table table = [] {
        PolicyOps::Table ops;
        PolicyOps::addPathOps(ops);
        PolicyOps::addFileOps(ops);
        PolicyOps::addLaunchOps(ops);
        PolicyOps::addPrivacyOps(ops);
        return ops;
    }();
    try {
        return table.at(request.at("op").get<std::string>())(request);
    } catch (const PolicyOps::BadInput& e) {
        return {{"error", e.what()}};
    }
}
