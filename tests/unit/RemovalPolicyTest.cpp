// The path rules and the protected locations of found items, through the
// policy tool's ops.
#include "shared/PathText.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

// The decision for a path held by its lexical holding folder (or by `parent`).
json removal(const std::string& path, const json& home = "/Users/bob", std::string parent = "") {
    if (parent.empty()) parent = PathText::deletingLastPathComponent(path);
    return policyAnswer({{"op", "removal"}, {"path", path}, {"parent", parent}, {"home", home}});
}

TEST(PathRules, CanonicalFormsAndComparisonKeys) {
    // clang-format off
    const std::tuple<const char*, const char*, json> cases[] = {
        {"is-normalized", "/a/...", true},   {"is-normalized", "/a/.b", true},   {"normalized", "//", "/"},
        {"normalized", "/a/b//", "/a/b"},    {"normalized", "/a//b/", nullptr},  {"normalized", "a/b", nullptr},
        {"system-location", "/SYSTEM/x", true}, {"system-location", "/Systemx", false},
        {"system-location", "/USR/LOCAL/bin", false}, {"system-location", "/private/var/db/receiptsx", true},
    };
    // clang-format on
    for (const auto& [op, path, result] : cases) EXPECT_EQ(policyAnswer({{"op", op}, {"path", path}}), result) << path;
    for (const char* path : {"", "/", "a/b", "/a/", "/a//b", "//a", "/a/./b", "/a/../b", "/a/.", "/.."}) {
        EXPECT_EQ(policyAnswer({{"op", "is-normalized"}, {"path", path}}), false) << path;
        EXPECT_EQ(removal(path), false) << path;
    }
    EXPECT_EQ(policyAnswer({{"op", "folded"}, {"text", "/LIBRARY/\u212Aafe\u0301"}}), "/library/kaf\u00e9");
    EXPECT_EQ(policyAnswer({{"op", "user-removal"}, {"path", "/Users/bob/a.txt"}, {"home", "/Users/bob/"}}), true);
}

TEST(RemovalPolicy, FoundItems) {
    // clang-format off
    const std::pair<const char*, bool> cases[] = {
        {"/Library/Foo/Bar", true}, {"/Library/.hidden", false}, {"/x", false}, {"/Library/Caf\u00e9", true},
        {"/Library/Application Support/Apple/x", false}, {"/Library/Application Support/AppleX", true},
        {"/usr/local/foo", false}, {"/private/var/folders/ab/cdef/T", false}, {"/private/var/folders/ab/cd/T/x", true},
        {"/private/var/db/receipts/com.apple.pkg.Foo.bom", false}, {"/tmp/x", false}, {"/private/tmp/x", true},
        {"/Applications/Games/Foo.app", true}, {"/Applications/Foo.APP/Contents/Library/Bar.App", false},
        {"/Applications/Games/readme.txt", false}, {"/Applications/.DS_Store", false},
        {"/Applications/utilities", false}, {"/Applications/Utilities/Foo.app", true},
        {"/Library/\u212Aeychains", false},
        // The longest removal root decides; each kind of protected name, in other letter case.
        {"/Library/Caches", false}, {"/Library/Audio/x", false}, {"/Library/Audio/Plug-Ins/VST3/x.vst3", true},
        {"/Library/Caches/COM.APPLE.x/y", false}, {"/Applications/com.apple.x", true}, {"/Library/Safari", true},
        {"/private/var/folders/com.apple.x/b/c/d", true}, {"/Users/bob/com.apple.Foo", true},
        {"/usr/local/lib/CELLAR/x", false}, {"/usr/local/lib/Cellarx", true}, {"/private/var/log/ASL", false},
        {"/Users/Shared/ADI", false}, {"/Users/Shared/adix", true}, {"/Users/bob/library/SAFARI", false},
        {"/Users/bob/Library/Fonts/Foo", true},
        // Home folders: the client's own, with its protected folders.
        {"/Users/bob/Documents/x", true}, {"/Users/bob/file.txt", true}, {"/Users/bob/.cache", true},
        {"/Users/bob", false}, {"/Users/bob/Documents", false}, {"/Users/bob/LIBRARY", false},
        {"/Users/bob/Library/.foo", false}, {"/Users/bob/Library/COM.APPLE.foo", false},
        {"/Users/bob/Library/Caches/Foo", true}, {"/Users/alice/x.txt", false}, {"/Users/BOB/x.txt", false},
        {"/Users/bobby/x.txt", false},
    };
    // clang-format on
    for (const auto& [path, allowed] : cases) EXPECT_EQ(removal(path), allowed) << path;
}

TEST(RemovalPolicy, HomeFolderAndHoldingFolder) {
    // clang-format off
    const std::tuple<const char*, json, const char*, bool> cases[] = {
        {"/Users/bob/x.txt", "/Users/bob//", "", false}, {"/Users/bob/x.txt", nullptr, "", false},
        {"/Users/Shared/foo", nullptr, "", true},
        // Home folders compare after composition, on both sides, in their letter case.
        {"/Users/Jos\u00e9/x.txt", "/Users/Jose\u0301", "", true},
        {"/Users/JOS\u00c9/x.txt", "/Users/Jos\u00e9", "", false},
        {"/Users/Jos\u00e9/Library/Caches", "/Users/Jose\u0301", "", false},
        // Both the path as sent and the path through its resolved holding folder must pass.
        {"/Library/Caches/Foo/x", "/Users/bob", "/System/Library", false},
        {"/Users/bob/Desktop/x", "/Users/bob", "/Users/alice/Desktop", false},
        {"/tmp/x", "/Users/bob", "/private/tmp", false}, {"/Library/Caches/Foo/x", "/Users/bob", "/private/tmp", true},
        {"/Library/Caches/Foo", "/Users/bob", "/Library/Caches/", false}, {"/x", "/Users/bob", "/", false},
    };
    // clang-format on
    for (const auto& [path, home, parent, allowed] : cases) EXPECT_EQ(removal(path, home, parent), allowed) << path;
}

}  // namespace
