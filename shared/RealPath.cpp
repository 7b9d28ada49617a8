#include "shared/RealPath.h"

#include <cstdlib>
#include <memory>

std::optional<std::string> realPath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(std::string(path).c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}
