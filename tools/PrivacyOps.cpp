#include "tools/PolicyOps.h"

#include "shared/TCCResetPolicy.h"

namespace PolicyOps {

namespace {

const char* caseName(TCCResetPolicy::Rejection rejection) {
    switch (rejection) {
    case TCCResetPolicy::Rejection::unknownService:
        return "unknownService";
    case TCCResetPolicy::Rejection::invalidBundleID:
        return "invalidBundleID";
    case TCCResetPolicy::Rejection::appleClient:
        return "appleClient";
    case TCCResetPolicy::Rejection::protectedClient:
        return "protectedClient";
    }
    return "unknown";
}

}  // namespace

void addPrivacyOps(Table& table) {
    table["tcc"] = [](const nlohmann::json& request) -> nlohmann::json {
        auto rejection = TCCResetPolicy::validate(stringField(request, "service"), stringField(request, "bundle"));
        if (!rejection) return nullptr;
        return caseName(*rejection);
    };
    table["tcc-arguments"] = [](const nlohmann::json& request) -> nlohmann::json {
        auto arguments = TCCResetPolicy::arguments(stringField(request, "service"), stringField(request, "bundle"));
        if (!arguments) return nullptr;
        return *arguments;
    };
}

}  // namespace PolicyOps
