#include "shared/LaunchJobRules.h"

#include "shared/HelperConstants.h"
#include "shared/PathText.h"
#include "shared/SafetyPolicy.h"
#include "shared/UnicodeText.h"

namespace SafetyPolicy {

namespace {

constexpr std::string_view plistSuffix = ".plist";
constexpr size_t labelByteLimit = 255;

// Canonically equivalent texts count as equal; ill-formed UTF-8 is equal only
// to the same bytes. The fixed texts these rules compare against are ASCII
// without any character that has a non-ASCII canonical equivalent, so byte
// tests against them need no composition.
bool sameText(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (UnicodeText::isASCII(a) && UnicodeText::isASCII(b)) return false;
    if (!UnicodeText::isValidUTF8(a) || !UnicodeText::isValidUTF8(b)) return false;
    return UnicodeText::composed(a) == UnicodeText::composed(b);
}

bool isASCIILetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool isLabelCharacter(char c) { return isASCIILetterOrDigit(c) || c == '.' || c == '_' || c == '-' || c == '@'; }

bool isBelow(std::string_view key, std::string_view root) {
    return key == root || (key.starts_with(root) && key.size() > root.size() && key[root.size()] == '.');
}

bool liesInSystem(std::string_view path) {
    std::string key = UnicodeText::composed(UnicodeText::lowercased(path));
    return key == "/system" || key.starts_with("/system/");
}

// Steps shared by the toggle and unload rules: a root-owned regular plist in a
// job folder, reached without any link, declaring exactly the requested label.
bool plistDeclaresLabel(std::string_view label, const LaunchJobFacts& facts, bool requireRootWritableOnly) {
    if (!privilegedLaunchFolder(facts.plistPath)) return false;
    if (!facts.isRegularFile) return false;
    if (!facts.resolvedPath || !sameText(*facts.resolvedPath, facts.plistPath)) return false;
    if (!facts.ownerUID || *facts.ownerUID != 0) return false;
    if (requireRootWritableOnly && facts.writableByOthers) return false;
    if (!launchLabelAllowed(label)) return false;
    return facts.label && sameText(*facts.label, label);
}

}  // namespace

std::optional<PrivilegedLaunchFolder> privilegedLaunchFolder(std::string_view of) {
    if (!isNormalized(of)) return std::nullopt;
    if (!of.ends_with(plistSuffix)) return std::nullopt;
    std::string folder = PathText::deletingLastPathComponent(of);
    std::string_view name = PathText::lastPathComponent(of);
    if (name.starts_with('.')) return std::nullopt;
    if (name.size() <= plistSuffix.size()) return std::nullopt;
    if (folder == PrivilegedLaunchFolder::agentsPath) return PrivilegedLaunchFolder::agents;
    if (folder == PrivilegedLaunchFolder::daemonsPath) return PrivilegedLaunchFolder::daemons;
    return std::nullopt;
}

bool launchLabelAllowed(std::string_view label) {
    if (label.empty() || label.size() > labelByteLimit) return false;
    if (!isASCIILetterOrDigit(label.front())) return false;
    for (char c : label)
        if (!isLabelCharacter(c)) return false;

    std::string key = UnicodeText::lowercased(label);
    if (isBelow(key, "com.apple")) return false;
    std::string application = UnicodeText::lowercased(HelperConstants::appBundleID);
    return !isBelow(key, application);
}

bool launchProgramAllowed(const std::optional<std::string>& program, const std::optional<std::string>& resolved) {
    if (program && liesInSystem(*program)) return false;
    if (resolved && liesInSystem(*resolved)) return false;
    return true;
}

bool launchProgramTrusted(const std::optional<ProgramIntegrity>& integrity, const std::set<uint32_t>& owners) {
    if (!integrity || !integrity->isRegularFile) return false;
    if (owners.empty()) return false;
    if (!owners.contains(integrity->ownerUID)) return false;
    if (integrity->writableByOthers) return false;
    if (!owners.contains(integrity->parentOwnerUID)) return false;
    return !integrity->parentWritableByOthers && !integrity->underWorldWritableFolder;
}

bool privilegedLaunchJobToggleAllowed(std::string_view label, const LaunchJobFacts& facts) {
    if (!plistDeclaresLabel(label, facts, true)) return false;
    return launchProgramAllowed(facts.program, facts.resolvedProgram);
}

bool privilegedLaunchJobEnableAllowed(std::string_view label, const LaunchJobFacts& facts, uint32_t clientUID) {
    if (!privilegedLaunchJobToggleAllowed(label, facts)) return false;
    auto folder = privilegedLaunchFolder(facts.plistPath);
    if (!folder) return false;
    return launchProgramTrusted(facts.programIntegrity, PrivilegedLaunchFolder::allowedOwners(*folder, clientUID));
}

bool privilegedLaunchJobUnloadAllowed(std::string_view label, const LaunchJobFacts& facts) {
    return plistDeclaresLabel(label, facts, false);
}

}  // namespace SafetyPolicy
