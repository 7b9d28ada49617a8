// The fixed tables of the removal policy and their key sets.
#include "shared/SafetyPolicyTables.h"
#include "shared/SafetyPolicy.h"

#include <algorithm>
#include <map>

namespace SafetyPolicy {

// The tables are laid out by hand, several names a line.
// clang-format off
constinit const std::array<std::string_view, 49> removalRootTexts = {
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

constinit const std::array<std::string_view, 73> libraryFolderNames = {
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

constinit const std::array<std::string_view, 57> userLibraryFolderNames = {
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

constinit const std::array<std::string_view, 1> applicationsFolderNames = {"Utilities"};

constinit const std::array<std::string_view, 11> systemRoots = {
    "/System", "/usr", "/bin", "/sbin", "/private/etc", "/private/var/db", "/private/var/run",
    "/Library/Apple", "/Library/Application Support/Apple", "/cores", "/dev",
};

constinit const std::array<std::string_view, 2> systemRootExceptions = {"/usr/local", "/private/var/db/receipts"};

namespace {

constexpr std::array<std::string_view, 16> usrLocalProtectedNames = {
    "man", "doc", "info", "locale", "zsh", "bash-completion", "fish", "aclocal", "pkgconfig", "cmake",
    "Homebrew", "Cellar", "Caskroom", "Frameworks", "opt", "var",
};

constexpr std::array<std::string_view, 20> logProtectedNames = {
    "asl", "DiagnosticMessages", "powermanagement", "install.log", "system.log", "wifi.log", "fsck_apfs.log",
    "fsck_apfs_error.log", "fsck_hfs.log", "displaypolicy", "CoreDuet", "shutdown_monitor.log", "daily.out",
    "weekly.out", "monthly.out", "apache2", "cups", "ppp", "uucp", "mDNSResponder",
};

constexpr std::array<std::string_view, 5> sharedProtectedNames = {
    "SC Info", ".localized", "Relocated Items", "Previously Relocated Items", "adi",
};

template <typename Texts>
KeySet keysOf(const Texts& texts) {
    KeySet keys;
    for (std::string_view text : texts) keys.insert(folded(text));
    return keys;
}

}  // namespace

constinit const std::array<ProtectedChildren, 3> protectedChildNames = {{
    {"/usr/local", usrLocalProtectedNames},
    {"/private/var/log", logProtectedNames},
    {"/Users/Shared", sharedProtectedNames},
}};
// clang-format on

const std::vector<Location>& removalRoots() {
    static const std::vector<Location> roots = [] {
        std::vector<Location> out;
        out.reserve(removalRootTexts.size());
        for (std::string_view text : removalRootTexts) out.push_back({std::string(text), folded(text)});
        return out;
    }();
    return roots;
}

const KeySet& appleNameGuardedRoots() {
    static const KeySet keys = [] {
        constexpr std::array<std::string_view, 3> unguarded = {"/Applications", "/Users", "/private/var/folders"};
        KeySet out;
        for (const Location& root : removalRoots())
            if (std::find(unguarded.begin(), unguarded.end(), root.original) == unguarded.end())
                out.insert(root.folded);
        return out;
    }();
    return keys;
}

const KeySet* protectedChildKeys(std::string_view location) {
    static const std::map<std::string, KeySet, std::less<>> table = [] {
        std::map<std::string, KeySet, std::less<>> out;
        for (const ProtectedChildren& entry : protectedChildNames)
            out.emplace(std::string(entry.location), keysOf(entry.names));
        return out;
    }();
    auto found = table.find(location);
    return found == table.end() ? nullptr : &found->second;
}

const KeySet& libraryFolderKeys() {
    static const KeySet keys = keysOf(libraryFolderNames);
    return keys;
}

const KeySet& userLibraryFolderKeys() {
    static const KeySet keys = [] {
        KeySet out = keysOf(libraryFolderNames);
        out.merge(keysOf(userLibraryFolderNames));
        return out;
    }();
    return keys;
}

const KeySet& applicationsFolderKeys() {
    static const KeySet keys = keysOf(applicationsFolderNames);
    return keys;
}

}  // namespace SafetyPolicy
