#include "shared/SafetyPolicy.h"
#include "shared/SafetyPolicyTables.h"

#include "shared/PathText.h"
#include "shared/UnicodeText.h"

#include <cstdint>

namespace SafetyPolicy {

namespace {

constexpr std::string_view applePrefix = "com.apple.";

// Memory for the temporary texts of one decision: a buffer on the stack, then
// the heap for texts too long for it. Keys of ASCII paths never reach the heap.
class Scratch {
public:
    std::pmr::memory_resource* memory() noexcept { return &arena_; }

private:
    alignas(std::max_align_t) std::array<std::byte, 2048> buffer_;
    std::pmr::monotonic_buffer_resource arena_{buffer_.data(), buffer_.size()};
};

char asciiLower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// folded(text), written into `key`; an ASCII text is lower-cased in place.
void foldInto(std::string_view text, std::pmr::string& key) {
    if (UnicodeText::isASCII(text)) {
        key.assign(text);
        for (char& c : key) c = asciiLower(c);
    } else {
        UnicodeText::composedLowercased(text, key);
    }
}

// The canonical composition of a text: an ASCII text as it is, any other
// written into `storage`.
std::string_view composedView(std::string_view text, std::pmr::string& storage) {
    if (UnicodeText::isASCII(text)) return text;
    UnicodeText::composed(text, storage);
    return storage;
}

bool isInsideOrEqual(std::string_view key, std::string_view rootKey) noexcept {
    return key == rootKey || isInsideKey(key, rootKey);
}

// The rule that applies below a removal root besides the common ones.
enum class RootKind { plain, applications, library, users, folders };

// A removal root with everything the decision needs to know about it.
struct RootRule {
    std::string_view original;
    std::string_view key;
    bool appleGuarded;
    const KeySet* protectedChildren;  // nothing when the root has no protected names
    RootKind kind;
};

RootKind kindOf(std::string_view root) {
    if (root == "/Applications") return RootKind::applications;
    if (root == "/Library") return RootKind::library;
    if (root == "/Users") return RootKind::users;
    if (root == "/private/var/folders") return RootKind::folders;
    return RootKind::plain;
}

const std::vector<RootRule>& rootRules() {
    static const std::vector<RootRule> rules = [] {
        std::vector<RootRule> out;
        for (const Location& root : removalRoots()) {
            // Every root below /usr/local shares the protected names of /usr/local.
            std::string_view lookup = std::string_view(root.original).starts_with("/usr/local/")
                                          ? std::string_view("/usr/local")
                                          : std::string_view(root.original);
            out.push_back({root.original, root.folded, appleNameGuardedRoots().contains(root.folded),
                           protectedChildKeys(lookup), kindOf(root.original)});
        }
        return out;
    }();
    return rules;
}

std::vector<std::string> keysInOrder(std::span<const std::string_view> texts) {
    std::vector<std::string> keys;
    for (std::string_view text : texts) keys.push_back(folded(text));
    return keys;
}

const std::vector<std::string>& systemRootKeys() {
    static const std::vector<std::string> keys = keysInOrder(systemRoots);
    return keys;
}

const std::vector<std::string>& systemRootExceptionKeys() {
    static const std::vector<std::string> keys = keysInOrder(systemRootExceptions);
    return keys;
}

bool isSystemKey(std::string_view key) {
    bool inSystemRoot = false;
    for (const std::string& root : systemRootKeys()) {
        if (isInsideOrEqual(key, root)) {
            inSystemRoot = true;
            break;
        }
    }
    if (!inSystemRoot) return false;
    for (const std::string& exception : systemRootExceptionKeys())
        if (isInsideOrEqual(key, exception)) return false;
    return true;
}

// userRemovalAllowed on texts already composed, the path a normalized one.
bool composedUserRemovalAllowed(std::string_view composedPath, std::string_view composedHome);

// The "/Users" rule: only inside the client's own home folder.
bool homeAllows(std::string_view candidate, std::optional<std::string_view> home) {
    if (!home) return false;
    std::string_view homePath = homeFolderPath(*home);
    if (!isNormalized(homePath)) return false;
    Scratch scratch;
    std::pmr::string candidateStorage(scratch.memory());
    std::pmr::string homeStorage(scratch.memory());
    std::string_view composedCandidate = composedView(candidate, candidateStorage);
    std::string_view composedHome = composedView(homePath, homeStorage);
    if (!isInsideKey(composedCandidate, composedHome)) return false;
    return composedUserRemovalAllowed(composedCandidate, composedHome);
}

// Steps that judge one candidate (the path as sent, or rebuilt on its holding folder).
bool candidateAllowed(std::string_view candidate, std::optional<std::string_view> home) {
    Scratch scratch;
    std::pmr::string key(scratch.memory());
    foldInto(candidate, key);
    if (isSystemKey(key)) return false;

    // The longest removal root that holds the key; a root is not inside itself.
    const RootRule* chosen = nullptr;
    for (const RootRule& rule : rootRules())
        if (isInsideKey(key, rule.key) && (chosen == nullptr || rule.key.size() > chosen->key.size())) chosen = &rule;
    if (chosen == nullptr) return false;

    std::pmr::vector<std::string_view> parts = relativeComponents(key, chosen->key, scratch.memory());
    if (parts.empty()) return false;
    std::string_view firstLevel = parts.front();
    if (chosen->appleGuarded && firstLevel.starts_with(applePrefix)) return false;
    if (chosen->protectedChildren != nullptr && chosen->protectedChildren->contains(firstLevel)) return false;

    switch (chosen->kind) {
    case RootKind::applications:
        return allowsInApplications(parts);
    case RootKind::library:
        return !libraryFolderKeys().contains(firstLevel) && !firstLevel.starts_with('.');
    case RootKind::users:
        return homeAllows(candidate, home);
    case RootKind::folders:
        return parts.size() >= 4;
    case RootKind::plain:
        return true;
    }
    return false;
}

}  // namespace

bool isNormalized(std::string_view path) noexcept {
    if (path.size() < 2 || path.front() != '/' || path.back() == '/') return false;
    // Every piece between two "/" is a component: none may be empty, "." or "..".
    for (size_t start = 1;;) {
        const size_t slash = path.find('/', start);
        const std::string_view piece = path.substr(start, slash - start);
        if (piece.empty() || piece == "." || piece == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

std::string folded(std::string_view text) {
    return UnicodeText::isASCII(text) ? UnicodeText::lowercased(text) : UnicodeText::composedLowercased(text);
}

bool isInsideKey(std::string_view key, std::string_view rootKey) noexcept {
    // The separator is tested first: it rules out most roots without comparing texts.
    return key.size() > rootKey.size() && key[rootKey.size()] == '/' && key.starts_with(rootKey);
}

std::pmr::vector<std::string_view> relativeComponents(std::string_view key, std::string_view rootKey,
                                                      std::pmr::memory_resource* memory) {
    std::pmr::vector<std::string_view> pieces(memory);
    if (!isInsideKey(key, rootKey)) return pieces;
    pieces.reserve(16);
    for (std::string_view piece : PathText::Components(key.substr(rootKey.size() + 1))) pieces.push_back(piece);
    return pieces;
}

std::string_view homeFolderPath(std::string_view home) noexcept {
    if (home.size() >= 2 && home.back() == '/') home.remove_suffix(1);
    return home;
}

bool privilegedRemovalAllowed(std::string_view path, std::string_view holdingFolder,
                              std::optional<std::string_view> home) {
    if (!isNormalized(path)) return false;
    if (holdingFolder != "/" && !isNormalized(holdingFolder)) return false;
    std::string_view name = PathText::lastPathComponent(path);

    Scratch scratch;
    std::pmr::string resolved(scratch.memory());
    resolved.reserve(holdingFolder.size() + 1 + name.size());
    if (holdingFolder != "/") resolved += holdingFolder;
    resolved += '/';
    resolved += name;

    if (!candidateAllowed(path, home)) return false;
    // The decision on a candidate depends on its text alone: the same text
    // need not be judged twice.
    return resolved == path || candidateAllowed(resolved, home);
}

bool isSystemLocation(std::string_view path) {
    Scratch scratch;
    std::pmr::string key(scratch.memory());
    foldInto(path, key);
    return isSystemKey(key);
}

bool allowsInApplications(std::span<const std::string_view> components) {
    if (components.empty()) return false;
    Scratch scratch;
    std::pmr::vector<std::pmr::string> keys(scratch.memory());
    keys.reserve(components.size());
    for (std::string_view component : components) foldInto(component, keys.emplace_back());

    const std::pmr::string& last = keys.back();
    if (last.ends_with(".app")) {
        for (size_t i = 0; i + 1 < keys.size(); ++i)
            if (keys[i].ends_with(".app")) return false;
        return true;
    }
    return keys.size() == 1 && !last.starts_with('.') && !applicationsFolderKeys().contains(std::string_view(last));
}

bool userRemovalAllowed(std::string_view path, std::string_view home) {
    if (!isNormalized(path)) return false;
    Scratch scratch;
    std::pmr::string pathStorage(scratch.memory());
    std::pmr::string homeStorage(scratch.memory());
    return composedUserRemovalAllowed(composedView(path, pathStorage), composedView(homeFolderPath(home), homeStorage));
}

namespace {

bool composedUserRemovalAllowed(std::string_view composedPath, std::string_view composedHome) {
    if (!composedPath.starts_with(composedHome) || composedPath.size() <= composedHome.size() ||
        composedPath[composedHome.size()] != '/')
        return false;

    // Keys of the pieces below the home folder: only the first two and their
    // number matter, and the second only inside Library.
    Scratch scratch;
    std::pmr::string topLevel(scratch.memory());
    std::string_view secondPiece;
    size_t depth = 0;
    for (std::string_view piece : PathText::Components(composedPath.substr(composedHome.size() + 1))) {
        if (depth == 0) foldInto(piece, topLevel);
        if (depth == 1) secondPiece = piece;
        ++depth;
    }
    if (depth == 0) return false;

    // Directly in the home folder: the standard folders (plain names) stay.
    if (depth == 1 && !topLevel.starts_with('.') && topLevel.find('.') == std::string::npos) return false;
    if (topLevel != "library") return true;
    if (depth == 1) return false;
    if (depth >= 3) return true;
    std::pmr::string second(scratch.memory());
    foldInto(secondPiece, second);
    if (userLibraryFolderKeys().contains(std::string_view(second))) return false;
    if (second.starts_with('.')) return false;
    if (second.starts_with(applePrefix)) return false;
    return true;
}

}  // namespace

}  // namespace SafetyPolicy
