#include "helper/OwnExecutable.h"

#include "shared/OwnFiles.h"

#include <unistd.h>

#include <climits>

namespace {

std::string& commandLineFallback() {
    static std::string fallback;  // written once by the entry point, before any other thread exists
    return fallback;
}

std::string computedExecutablePath() {
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length > 0 && static_cast<std::size_t>(length) < path.size()) {
        path.resize(static_cast<std::size_t>(length));
        return path;
    }
    return commandLineFallback();
}

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
