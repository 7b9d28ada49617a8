#include "shared/PathText.h"

namespace PathText {

namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

}  // namespace

std::string lastPathComponent(std::string_view path) {
    std::string_view p = withoutTrailingSlashes(path);
    if (p == "/") return "/";
    size_t slash = p.rfind('/');
    if (slash == std::string_view::npos) return std::string(p);
    return std::string(p.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
    std::string_view p = withoutTrailingSlashes(path);
    if (p == "/") return "/";
    size_t slash = p.rfind('/');
    if (slash == std::string_view::npos) return "";
    if (slash == 0) return "/";
    return std::string(p.substr(0, slash));
}

std::string pathExtension(std::string_view path) {
    std::string name = lastPathComponent(path);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
    return name.substr(dot + 1);
}

std::string deletingPathExtension(std::string_view path) {
    std::string_view p = withoutTrailingSlashes(path);
    std::string extension = pathExtension(p);
    if (extension.empty()) return std::string(p);
    return std::string(p.substr(0, p.size() - extension.size() - 1));
}

std::string joined(std::string_view folder, std::string_view name) {
    std::string out;
    if (folder == "/") {
        out.reserve(1 + name.size());
        out += '/';
    } else {
        out.reserve(folder.size() + 1 + name.size());
        out += folder;
        out += '/';
    }
    out += name;
    return out;
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start) pieces.push_back(path.substr(start, end - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return pieces;
}

std::string_view lastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace PathText
