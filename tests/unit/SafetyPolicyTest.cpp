#include "shared/PathText.h"
#include "shared/SafetyPolicy.h"
#include "shared/SafetyPolicyTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace {

using SafetyPolicy::privilegedRemovalAllowed;

// The tables as they must read; every entry is checked through the decisions.
const std::vector<std::string> removalRoots = {
    "/Library/Caches", "/Library/Logs", "/Library/Application Support", "/Library/Preferences",
    "/Library/LaunchAgents", "/Library/LaunchDaemons", "/Library/PrivilegedHelperTools",
    "/Library/Extensions", "/Library/Frameworks", "/Library/Internet Plug-Ins", "/Library/PreferencePanes",
    "/Library/QuickLook", "/Library/QuickTime", "/Library/Spotlight", "/Library/StartupItems",
    "/Library/Receipts", "/Library/Widgets", "/Library/Services", "/Library/Screen Savers",
    "/Library/ScriptingAdditions", "/Library/Input Methods", "/Library/Contextual Menu Items",
    "/Library/Components", "/Library/Filesystems", "/Library/PDF Services", "/Library/ColorPickers",
    "/Library/Address Book Plug-Ins", "/Library/Audio/Plug-Ins/VST", "/Library/Audio/Plug-Ins/VST3",
    "/Library/Audio/Plug-Ins/Components", "/Library/Audio/Plug-Ins/HAL", "/Library/Audio/Plug-Ins/MAS",
    "/Library/Audio/MIDI Drivers", "/Library", "/Applications", "/Users/Shared", "/Users", "/usr/local/bin",
    "/usr/local/sbin", "/usr/local/lib", "/usr/local/libexec", "/usr/local/share", "/usr/local/include",
    "/usr/local/etc", "/private/var/log", "/private/var/tmp", "/private/tmp", "/private/var/db/receipts",
    "/private/var/folders",
};
const std::vector<std::string> libraryNames = {
    "Address Book Plug-Ins", "Apple", "Application Support", "Audio", "Automator", "Bluetooth", "Caches",
    "ColorPickers", "ColorSync", "Components", "Compositions", "Contextual Menu Items", "CoreAnalytics",
    "CoreMediaIO", "Desktop Pictures", "Developer", "Dictionaries", "DirectoryServices", "Documentation",
    "DriverExtensions", "Extensions", "Filesystems", "Fonts", "Frameworks", "GPUBundles", "Graphics",
    "Image Capture", "Input Methods", "Internet Plug-Ins", "Java", "KernelCollections", "Keyboard Layouts",
    "Keychains", "LaunchAgents", "LaunchDaemons", "Logs", "Mail", "Managed Preferences", "Messages",
    "Modem Scripts", "OSAnalytics", "OpenDirectory", "PDF Services", "Perl", "PreferencePanes",
    "Preferences", "Printers", "PrivilegedHelperTools", "QuickLook", "QuickTime", "Receipts", "Ruby",
    "Sandbox", "Screen Savers", "ScriptingAdditions", "Scripts", "Security", "Services", "Speech",
    "Spotlight", "StagedDriverExtensions", "StagedExtensions", "StartupItems", "SystemExtensions",
    "SystemMigration", "SystemProfiler", "Trial", "Updates", "User Pictures", "Video", "WebServer",
    "Widgets", "iTunes",
};
const std::vector<std::string> userLibraryNames = {
    "Accounts", "Application Scripts", "Assistant", "Assistants", "Autosave Information", "Biome",
    "Calendars", "CallServices", "Colors", "Containers", "Cookies", "CoreFollowUp", "DataAccess",
    "DataDeliveryServices", "DoNotDisturb", "DuetExpertCenter", "Favorites", "FeedbackLogs", "FileProvider",
    "Finance", "FontCollections", "FrontBoard", "GameKit", "Group Containers", "HTTPStorages", "HomeKit",
    "IdentityServices", "IntelligencePlatform", "Keyboard", "KeyboardServices", "LanguageModeling",
    "LockdownMode", "Maps", "Metadata", "Mobile Documents", "News", "Passes", "Personas", "Photos",
    "PrivateCloudCompute", "Reminders", "ResponseKit", "Safari", "SafariSafeBrowsing",
    "Saved Application State", "ScreenRecordings", "Sharing", "Shortcuts", "Sounds", "Spelling", "StatusKit",
    "Suggestions", "SyncedPreferences", "Translation", "UnifiedAssetFramework", "Weather", "WebKit",
};
const std::vector<std::string> systemRoots = {
    "/System", "/usr", "/bin", "/sbin", "/private/etc", "/private/var/db", "/private/var/run",
    "/Library/Apple", "/Library/Application Support/Apple", "/cores", "/dev",
};
const std::vector<std::string> usrLocalNames = {
    "man", "doc", "info", "locale", "zsh", "bash-completion", "fish", "aclocal", "pkgconfig", "cmake",
    "Homebrew", "Cellar", "Caskroom", "Frameworks", "opt", "var",
};
const std::vector<std::string> logNames = {
    "asl", "DiagnosticMessages", "powermanagement", "install.log", "system.log", "wifi.log", "fsck_apfs.log",
    "fsck_apfs_error.log", "fsck_hfs.log", "displaypolicy", "CoreDuet", "shutdown_monitor.log", "daily.out",
    "weekly.out", "monthly.out", "apache2", "cups", "ppp", "uucp", "mDNSResponder",
};
const std::vector<std::string> sharedNames = {
    "SC Info", ".localized", "Relocated Items", "Previously Relocated Items", "adi",
};

const char* const home = "/Users/bob";

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

// The decision for a path held by its own (lexical) holding folder.
bool allowed(const std::string& path, std::optional<std::string_view> homeFolder = home) {
    return privilegedRemovalAllowed(path, PathText::deletingLastPathComponent(path), homeFolder);
}

TEST(SafetyPolicyPaths, CanonicalAbsolutePaths) {
    for (const char* path : {"/a", "/a/b", "/a/...", "/a/.b", "/a/b.", "/a/b c"})
        EXPECT_TRUE(SafetyPolicy::isNormalized(path)) << path;
    for (const char* path : {"", "/", "//", "a/b", "~/x", "./x", "/a/", "/a//b", "//a", "/a/./b", "/a/../b", "/a/.",
                             "/a/..", "/.", "/.."})
        EXPECT_FALSE(SafetyPolicy::isNormalized(path)) << path;
}

TEST(SafetyPolicyPaths, KeysIgnoreCaseAndComposition) {
    EXPECT_EQ(SafetyPolicy::folded("/LIBRARY/Caches"), "/library/caches");
    EXPECT_EQ(SafetyPolicy::folded("Cafe\xCC\x81"), "caf\xC3\xA9");
    EXPECT_EQ(SafetyPolicy::folded("CAFE\xCC\x81"), "caf\xC3\xA9");
    EXPECT_EQ(SafetyPolicy::folded("\xC3\x89t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(SafetyPolicy::folded("\xC4\xB0"), "i\xCC\x87");              // U+0130 grows
    EXPECT_EQ(SafetyPolicy::folded("\xE2\x84\xAA" "eychains"), "keychains");  // KELVIN SIGN
}

TEST(SafetyPolicyPaths, InsideAndRelativeComponents) {
    EXPECT_TRUE(SafetyPolicy::isInsideKey("/library/caches/x", "/library/caches"));
    EXPECT_FALSE(SafetyPolicy::isInsideKey("/library/caches", "/library/caches"));
    EXPECT_FALSE(SafetyPolicy::isInsideKey("/library/cachesx", "/library/caches"));
    EXPECT_EQ(SafetyPolicy::relativeComponents("/library/caches/com.example/x", "/library/caches"),
              (std::pmr::vector<std::string_view>{"com.example", "x"}));
    EXPECT_TRUE(SafetyPolicy::relativeComponents("/library/cachesx", "/library/caches").empty());
    EXPECT_EQ(SafetyPolicy::homeFolderPath("/Users/bob/"), "/Users/bob");
    EXPECT_EQ(SafetyPolicy::homeFolderPath("/Users/bob//"), "/Users/bob/");
    EXPECT_EQ(SafetyPolicy::homeFolderPath("/"), "/");
}

TEST(SafetyPolicyTables, KeysetSizes) {
    EXPECT_EQ(SafetyPolicy::removalRoots().size(), 49u);
    EXPECT_EQ(SafetyPolicy::appleNameGuardedRoots().size(), 46u);
    EXPECT_EQ(SafetyPolicy::libraryFolderKeys().size(), 73u);
    EXPECT_EQ(SafetyPolicy::userLibraryFolderKeys().size(), 130u);
    EXPECT_EQ(SafetyPolicy::removalRoots()[2].folded, "/library/application support");
}

TEST(SafetyPolicyTables, EveryRemovalRootHoldsItemsButIsNotOneItself) {
    for (const std::string& root : removalRoots) {
        std::string item = root + "/Foo";
        if (root == "/Users") item = "/Users/bob/Foo.txt";
        if (root == "/private/var/folders") item = root + "/ab/cd/T/Foo";
        EXPECT_TRUE(allowed(item)) << item;
        EXPECT_FALSE(allowed(root)) << root;
        if (root != "/Users") {
            EXPECT_TRUE(allowed(upper(item))) << upper(item);
        }
    }
}

TEST(SafetyPolicyTables, AppleNamesAreGuardedBelowAllButThreeRoots) {
    for (const std::string& root : removalRoots) {
        const bool guarded = root != "/Applications" && root != "/Users" && root != "/private/var/folders";
        std::string item = root + "/com.apple.Foo";
        if (root == "/Users") item = "/Users/bob/com.apple.Foo";
        if (root == "/private/var/folders") item = root + "/com.apple.Foo/cd/T/x";
        EXPECT_EQ(allowed(item), !guarded) << item;
        if (guarded) {
            EXPECT_FALSE(allowed(upper(item))) << upper(item);
            EXPECT_FALSE(allowed(item + "/x")) << item;
        }
    }
}

TEST(SafetyPolicyTables, ProtectedChildNamesOfTheirLocationOnly) {
    std::vector<std::pair<std::string, std::vector<std::string>>> entries = {{"/private/var/log", logNames},
                                                                             {"/Users/Shared", sharedNames}};
    for (const std::string& root : removalRoots)
        if (root.starts_with("/usr/local/")) entries.emplace_back(root, usrLocalNames);
    ASSERT_EQ(entries.size(), 9u);
    for (const auto& [root, names] : entries) {
        for (const std::string& name : names) {
            const std::string item = root + "/" + name;
            EXPECT_FALSE(allowed(item)) << item;
            EXPECT_FALSE(allowed(item + "/x")) << item;
            EXPECT_FALSE(allowed(root + "/" + upper(name))) << item;
            EXPECT_TRUE(allowed(item + "x")) << item;
        }
    }
    for (const char* path : {"/private/var/tmp/asl", "/usr/local/bin/adi", "/private/var/log/man", "/Users/Shared/cups"})
        EXPECT_TRUE(allowed(path)) << path;
}

TEST(SafetyPolicyTables, LibraryFolderNames) {
    ASSERT_EQ(libraryNames.size(), 73u);
    for (const std::string& name : libraryNames) {
        EXPECT_FALSE(allowed("/Library/" + name)) << name;
        EXPECT_FALSE(allowed("/LIBRARY/" + upper(name))) << name;
        // Inside a protected folder only what lies in a removal root may go.
        EXPECT_EQ(allowed("/Library/" + name + "/Foo"), contains(removalRoots, "/Library/" + name)) << name;
        EXPECT_FALSE(allowed("/Users/bob/Library/" + name)) << name;
        EXPECT_FALSE(allowed("/Users/bob/Library/" + upper(name))) << name;
        EXPECT_TRUE(allowed("/Users/bob/Library/" + name + "/Foo")) << name;
    }
}

TEST(SafetyPolicyTables, UserLibraryFolderNames) {
    ASSERT_EQ(userLibraryNames.size(), 57u);
    for (const std::string& name : userLibraryNames) {
        EXPECT_FALSE(allowed("/Users/bob/Library/" + name)) << name;
        EXPECT_FALSE(allowed("/Users/bob/library/" + upper(name))) << name;
        EXPECT_TRUE(allowed("/Users/bob/Library/" + name + "x")) << name;
        EXPECT_TRUE(allowed("/Library/" + name)) << name;
    }
}

TEST(SafetyPolicyTables, SystemRootsAndExceptions) {
    ASSERT_EQ(systemRoots.size(), 11u);
    for (const std::string& root : systemRoots) {
        for (const std::string& path : {root, root + "/x", upper(root) + "/X"})
            EXPECT_TRUE(SafetyPolicy::isSystemLocation(path)) << path;
        EXPECT_FALSE(SafetyPolicy::isSystemLocation(root + "x")) << root;
    }
    for (const char* path : {"/usr/local", "/USR/LOCAL/bin", "/private/var/db/receipts", "/private/var/db/receipts/x"})
        EXPECT_FALSE(SafetyPolicy::isSystemLocation(path)) << path;
    for (const char* path : {"/usr/localx", "/private/var/db/receiptsx", "/usr/bin/foo"})
        EXPECT_TRUE(SafetyPolicy::isSystemLocation(path)) << path;
}

struct Case {
    const char* path;
    bool expected;
};

TEST(SafetyPolicyDecision, FoundItems) {
    const Case cases[] = {
        {"/Library/Caches/Foo/", false},          {"/Library//Caches/Foo", false},
        {"/Library/Caches/./Foo", false},         {"/Library/Caches/../Caches/Foo", false},
        {"Library/Caches/Foo", false},            {"/x", false},
        {"/Library/Foo/Bar", true},               {"/Library/.hidden", false},
        {"/Library/Application Support/Apple", false}, {"/Library/Application Support/Apple/x", false},
        {"/Library/Application Support/AppleX", true}, {"/Library/Audio/Plug-Ins/VST3/x.vst3", true},
        {"/usr/local/foo", false},                {"/usr/bin/foo", false},
        {"/private/var/folders/ab/cdef/T", false}, {"/private/var/db/foo", false},
        {"/private/var/db/receipts/com.apple.pkg.Foo.bom", false},
        {"/tmp/x", false},                        {"/private/tmp/x", true},
        {"/Volumes/Backup/x", false},             {"/Applications/Games/Foo.app", true},
        {"/Applications/Foo.app/Contents/Info.plist", false},
        {"/Applications/Foo.APP/Contents/Library/Bar.App", false},
        {"/Applications/Games/readme.txt", false}, {"/Applications/.DS_Store", false},
        {"/Applications/utilities", false},       {"/Applications/Utilities/Foo.app", true},
        {"/Library/\xE2\x84\xAA" "eychains", false},  // KELVIN SIGN K
        {"/Library/Caf\xC3\xA9", true},
    };
    for (const Case& c : cases) EXPECT_EQ(allowed(c.path), c.expected) << c.path;
}

TEST(SafetyPolicyDecision, HomeFolderItems) {
    const Case cases[] = {
        {"/Users/bob/Documents/x", true},  {"/Users/bob/file.txt", true},       {"/Users/bob/.cache", true},
        {"/Users/bob/Library/Foo", true},  {"/Users/bob", false},               {"/Users/bob/Documents", false},
        {"/Users/bob/Library", false},     {"/Users/bob/LIBRARY", false},       {"/Users/bob/Library/.foo", false},
        {"/Users/bob/Library/com.apple.foo", false}, {"/Users/bob/Library/COM.APPLE.foo", false},
        {"/Users/alice/x.txt", false},     {"/users/bob/x.txt", false},         {"/Users/BOB/x.txt", false},
        {"/Users/bobby/x.txt", false},
    };
    for (const Case& c : cases) EXPECT_EQ(allowed(c.path), c.expected) << c.path;

    EXPECT_TRUE(allowed("/Users/bob/x.txt", "/Users/bob/"));
    EXPECT_FALSE(allowed("/Users/bob/x.txt", "/Users/bob//"));
    EXPECT_FALSE(allowed("/Users/bob/x.txt", std::nullopt));
    EXPECT_FALSE(allowed("/Users/bob/x.txt", "Users/bob"));
    EXPECT_TRUE(allowed("/Users/Shared/foo", std::nullopt));
    // The home folder is compared after composition, on both sides.
    EXPECT_TRUE(allowed("/Users/Jos\xC3\xA9/x.txt", "/Users/Jose\xCC\x81"));
    EXPECT_TRUE(allowed("/Users/Jose\xCC\x81/x.txt", "/Users/Jos\xC3\xA9"));
    EXPECT_FALSE(allowed("/Users/JOS\xC3\x89/x.txt", "/Users/Jos\xC3\xA9"));
    EXPECT_FALSE(allowed("/Users/Jos\xC3\xA9/Library/Caches", "/Users/Jose\xCC\x81"));
}

TEST(SafetyPolicyDecision, BothThePathAsSentAndThroughItsHoldingFolderMustPass) {
    // An allowed path whose holding folder resolves into a protected place.
    EXPECT_FALSE(privilegedRemovalAllowed("/Library/Caches/Foo/x", "/System/Library", home));
    EXPECT_FALSE(privilegedRemovalAllowed("/Library/Caches/Foo/x", "/Library/Fonts", home));
    EXPECT_FALSE(privilegedRemovalAllowed("/Users/bob/Desktop/x", "/Users/alice/Desktop", home));
    // A refused path whose holding folder resolves into an allowed place.
    EXPECT_FALSE(privilegedRemovalAllowed("/tmp/x", "/private/tmp", home));
    EXPECT_FALSE(privilegedRemovalAllowed("/Library/Fonts/x", "/Library/Caches", home));
    // Both allowed.
    EXPECT_TRUE(privilegedRemovalAllowed("/Library/Caches/Foo/x", "/private/tmp", home));
    EXPECT_TRUE(privilegedRemovalAllowed("/Users/bob/Desktop/x", "/Users/bob/Documents", home));
    // The holding folder must be "/" or canonical; "/" joins without a doubled "/".
    EXPECT_FALSE(privilegedRemovalAllowed("/Library/Caches/Foo", "/Library/Caches/", home));
    EXPECT_FALSE(privilegedRemovalAllowed("/Library/Caches/Foo", "", home));
    EXPECT_FALSE(privilegedRemovalAllowed("/Library/Caches/Foo", "/", home));
    EXPECT_FALSE(privilegedRemovalAllowed("/x", "/", home));
}

TEST(SafetyPolicyDecision, RulesCalledDirectly) {
    using Parts = std::vector<std::string_view>;
    EXPECT_FALSE(SafetyPolicy::allowsInApplications(Parts{}));
    EXPECT_TRUE(SafetyPolicy::allowsInApplications(Parts{"Foo.APP"}));
    EXPECT_FALSE(SafetyPolicy::allowsInApplications(Parts{"UTILITIES"}));
    EXPECT_FALSE(SafetyPolicy::allowsInApplications(Parts{"a.app", "b", "c.app"}));
    EXPECT_TRUE(SafetyPolicy::userRemovalAllowed("/Users/bob/a.txt", "/Users/bob/"));
    EXPECT_FALSE(SafetyPolicy::userRemovalAllowed("/Users/bob/Music", "/Users/bob"));
    EXPECT_FALSE(SafetyPolicy::userRemovalAllowed("/Users/bob/a.txt/", "/Users/bob"));
    EXPECT_FALSE(SafetyPolicy::userRemovalAllowed("/Users/bobby/a.txt", "/Users/bob"));
}

}  // namespace
