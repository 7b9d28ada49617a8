#include "shared/PathText.h"

namespace PathText {

namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

}  // namespace

std::string_view lastPathComponent(std::string_view path) {
    std::string_view p = withoutTrailingSlashes(path);
    if (p == "/") return p;
    size_t slash = p.rfind('/');
    if (slash == std::string_view::npos) return p;
    return p.substr(slash + 1);
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
    std::string_view name = lastPathComponent(path);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return "";
    return std::string(name.substr(dot + 1));
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

Components::Iterator& Components::Iterator::operator++() noexcept {
    while (!rest_.empty() && rest_.front() == '/') rest_.remove_prefix(1);
    if (rest_.empty()) {
        piece_ = {};
        return *this;
    }
    piece_ = rest_.substr(0, rest_.find('/'));
    rest_.remove_prefix(piece_.size());
    return *this;
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> pieces;
    for (std::string_view piece : Components(path)) pieces.push_back(piece);
    return pieces;
}

}  // namespace PathText
