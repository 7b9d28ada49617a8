#include "helper/OwnExecutable.h"

#include "shared/OwnFiles.h"

namespace Helper {

namespace {

std::string& commandLineFallback() {
    static std::string fallback;  // written once by the entry point, before any other thread exists
    return fallback;
}

std::string computedExecutablePath() { return systemExecutablePath().value_or(commandLineFallback()); }

}  // namespace

void setCommandLineFallback(const char* firstArgument) {
    if (firstArgument != nullptr) commandLineFallback() = firstArgument;
}

const std::string& ownExecutablePath() {
    static const std::string path = computedExecutablePath();
    return path;
}

const std::optional<std::string>& applicationBundlePath() {
    static const std::optional<std::string> bundle = OwnFiles::applicationBundlePath(ownExecutablePath());
    return bundle;
}

}  // namespace Helper
