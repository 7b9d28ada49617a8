// Ops of the path rules, the removal policies and the own files.
#include "shared/OwnFiles.h"
#include "shared/SafetyPolicy.h"
#include "shared/StorageRemovalPolicy.h"
#include "tools/PolicyOps.h"

namespace PolicyOps {

namespace {

using nlohmann::json;

// The own-files list of a request: its "own" array, or the list of a helper
// outside any application bundle when the field is missing.
std::vector<std::string> ownFiles(const json& request) {
    if (!request.contains("own")) return OwnFiles::protectedPaths(std::nullopt);
    return stringArrayField(request, "own");
}

json optionalText(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

}  // namespace

void addPathOps(Table& table) {
    table["is-normalized"] = [](const json& request) {
        return json(SafetyPolicy::isNormalized(stringField(request, "path")));
    };
    table["normalized"] = [](const json& request) {
        return optionalText(StorageRemovalPolicy::normalized(stringField(request, "path")));
    };
    table["folded"] = [](const json& request) { return json(SafetyPolicy::folded(stringField(request, "text"))); };
    table["system-location"] = [](const json& request) {
        return json(SafetyPolicy::isSystemLocation(stringField(request, "path")));
    };
    table["removal"] = [](const json& request) {
        const std::string path = stringField(request, "path");
        const std::string parent = stringField(request, "parent");
        const std::optional<std::string> home = optionalStringField(request, "home");
        std::optional<std::string_view> homeView;
        if (home) homeView = *home;
        return json(SafetyPolicy::privilegedRemovalAllowed(path, parent, homeView));
    };
    table["user-removal"] = [](const json& request) {
        return json(SafetyPolicy::userRemovalAllowed(stringField(request, "path"), stringField(request, "home")));
    };
    table["own-paths"] = [](const json& request) {
        return json(OwnFiles::protectedPaths(optionalStringField(request, "bundle")));
    };
    table["own"] = [](const json& request) {
        const std::string path = stringField(request, "path");
        const std::string parent = stringField(request, "parent");
        return json(OwnFiles::isProtected(path, parent, ownFiles(request)));
    };
    table["chosen"] = [](const json& request) {
        const std::string path = stringField(request, "path");
        const std::string parent = stringField(request, "parent");
        const std::string home = stringField(request, "home");
        const std::optional<StorageRemovalPolicy::Route> route =
            StorageRemovalPolicy::route(path, parent, home, ownFiles(request));
        if (!route) return json(nullptr);
        return json(*route == StorageRemovalPolicy::Route::user ? "user" : "privileged");
    };
}

}  // namespace PolicyOps
