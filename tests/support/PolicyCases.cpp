#include "support/PolicyCases.h"

#include "tools/PolicyOps.h"

#include <cctype>

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

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
