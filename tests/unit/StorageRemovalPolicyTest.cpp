#include "shared/OwnFiles.h"
#include "shared/PathText.h"
#include "shared/StorageRemovalPolicy.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace Storage = StorageRemovalPolicy;

const std::vector<std::string> systemPrefixes = {
    "/system", "/usr", "/bin", "/sbin", "/private/etc", "/private/var/db", "/private/var/run", "/cores",
    "/dev", "/library/apple", "/library/application support/apple",
};
const std::vector<std::string> rootLayout = {
    "applications", "library", "system", "users", "volumes", "bin", "cores", "dev", "etc", "home", "private",
    "sbin", "tmp", "usr", "var", "network", "net",
};
const std::vector<std::string> homeFolders = {
    "desktop", "documents", "downloads", "library", "movies", "music", "pictures", "public", "applications",
    "sites",
};

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "user", "privileged" or "none" for a path held by its lexical holding folder
// (or by `parent`), for the client ann.
std::string routeOf(const std::string& path, std::optional<std::string> parent = std::nullopt,
                    const std::string& home = "/Users/ann") {
    const std::vector<std::string> own = OwnFiles::protectedPaths("/Applications/Sorvane.app");
    std::optional<Storage::Route> route =
        Storage::route(path, parent.value_or(PathText::deletingLastPathComponent(path)), home, own);
    if (!route) return "none";
    return *route == Storage::Route::user ? "user" : "privileged";
}

struct RouteCase {
    const char* path;
    const char* expected;
};

TEST(StorageRemovalPolicy, Normalized) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"/", "/"},       {"//", "/"},           {"///", "/"},          {"/a/b/", "/a/b"},   {"/a/b//", "/a/b"},
        {"/a/...", "/a/..."}, {"", std::nullopt}, {"a/b", std::nullopt}, {"~/x", std::nullopt}, {"./x", std::nullopt},
        {"/a//b/", std::nullopt}, {"//a", std::nullopt}, {"/a/./b", std::nullopt}, {"/a/..", std::nullopt},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(Storage::normalized(path), expected) << path;
}

TEST(StorageRemovalPolicy, InsideComparesLowerCasedTextsWithoutComposing) {
    EXPECT_TRUE(Storage::isInside("/Users/Ann/x", "/users/ANN"));
    EXPECT_FALSE(Storage::isInside("/Users/ann", "/Users/ann"));
    EXPECT_FALSE(Storage::isInside("/Users/annie/x", "/Users/ann"));
    EXPECT_TRUE(Storage::isInside("/x", "/"));
    EXPECT_TRUE(Storage::isInside("/USERS/JOS\xC3\x89/x", "/users/jos\xC3\xA9"));
    EXPECT_FALSE(Storage::isInside("/Users/Jos\xC3\xA9/x", "/Users/Jose\xCC\x81"));
}

TEST(StorageRemovalPolicy, HomeFolderRoutes) {
    const RouteCase cases[] = {
        {"/Users/ann/Desktop/report.pdf", "user"},  {"/Users/ann/Desktop/report.pdf/", "user"},
        {"/USERS/ANN/Desktop/report.pdf", "user"},  {"/Users/ann/.Trash/old.txt", "user"},
        {"/Users/ann", "none"},                     {"/Users/ann/.Trash", "none"},
        {"/Users/ann/.trash", "none"},              {"/Users/bob/notes.txt", "none"},
        {"/Users/ann/Library/Caches", "none"},      {"/Users/ann/Library/Containers", "none"},
        {"/Users/ann/Library/Caches/com.example.app", "user"}, {"/Users/ann/Library/com.apple.foo", "none"},
        {"/Users/ann/Library/Mobile Documents/com~apple~CloudDocs", "none"},
        {"/Users/ann/Library/Mobile Documents/com~apple~CloudDocs/x", "user"},
        {"/Users/ann/Library/Application Support/com.kelto.sorvane.x", "none"},
        {"/Users/ann/Library/Caches/a/COM.KELTO.SORVANE", "none"},
        {"/Users/ann/Desktop/com.kelto.sorvane", "user"}, {"/Users/ann/Applications/Some.app", "user"},
        {"/Users/ann/Applications/Some.app/Contents", "none"}, {"/Users/ann/Documents/X.APP/a/b", "none"},
        {"/Users/ann/Desktop/./x", "none"},
    };
    for (const RouteCase& c : cases) EXPECT_EQ(routeOf(c.path), c.expected) << c.path;
    for (const std::string& name : homeFolders) {
        EXPECT_EQ(routeOf("/Users/ann/" + name), "none") << name;
        EXPECT_EQ(routeOf("/Users/ann/" + upper(name)), "none") << name;
        EXPECT_EQ(routeOf("/Users/ann/" + name + "x"), "user") << name;
        EXPECT_EQ(routeOf("/Users/ann/" + name + "/x"), "user") << name;
    }
    // A home folder with trailing "/" is normalized; one that cannot be is used
    // as it is, and then holds nothing.
    EXPECT_EQ(routeOf("/Users/ann/x.txt", std::nullopt, "/Users/ann/"), "user");
    EXPECT_EQ(routeOf("/Users/ann/x.txt", std::nullopt, "/Users//ann"), "none");
    // Composition is not applied: a decomposed home does not hold a precomposed path.
    EXPECT_EQ(routeOf("/Users/Jos\xC3\xA9/x.txt", std::nullopt, "/Users/Jose\xCC\x81"), "none");
}

TEST(StorageRemovalPolicy, StartupVolumeRoutes) {
    const RouteCase cases[] = {
        {"/Applications/Some.app", "privileged"},   {"/Applications", "none"},
        {"/Applications/UTILITIES", "none"},        {"/Applications/Utilities/x", "privileged"},
        {"/Applications/Some.app/Contents", "none"}, {"/Applications/Sorvane.app", "none"},
        {"/Library/Caches", "none"},                {"/Library/Caches/com.example.app", "privileged"},
        {"/Library/Caches/com.apple.x", "none"},    {"/Library/Caches/com.apple.x/y", "privileged"},
        {"/Library/Apple", "none"},                 {"/Library/Foo", "privileged"},
        {"/Library/com.apple.Foo", "none"},         {"/Library/com.kelto.sorvane.x", "none"},
        {"/Library/Foo/com.apple.x", "privileged"}, {"/Library/LaunchDaemons/other.plist", "privileged"},
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "none"},
        {"/usr/local", "none"},                     {"/usr/local/bin", "none"},
        {"/usr/local/foo", "privileged"},           {"/usr/local/bin/foo", "privileged"},
        {"/Users/Shared/Projects", "privileged"},   {"/Users/Shared", "none"},
        {"/Users/Shared/adi", "none"},              {"/Users/Shared/SC INFO", "none"},
        {"/.hidden", "none"},                       {"/Data", "privileged"},
        {"/Data/x", "privileged"},                   {"/private/tmp/x", "privileged"},
        {"/private/var/log/system.log", "none"},    {"/private/var/folders/a/b/c", "none"},
        {"/private/var/folders/a/b/c/d", "privileged"}, {"relative/x", "none"},
        {"/", "none"},
    };
    for (const RouteCase& c : cases) EXPECT_EQ(routeOf(c.path), c.expected) << c.path;
    for (const std::string& name : rootLayout) {
        EXPECT_EQ(routeOf("/" + name), "none") << name;
        EXPECT_EQ(routeOf("/" + upper(name)), "none") << name;
        EXPECT_EQ(routeOf("/" + name + "x"), "privileged") << name;
    }
    for (std::string_view host : Storage::hostFolders) {
        const std::string name(host);
        EXPECT_EQ(routeOf("/" + name), "none") << name;
        EXPECT_EQ(routeOf("/" + upper(name) + "/x"), "none") << name;
        EXPECT_EQ(routeOf("/" + name + "/a/b/c"), "none") << name;
        EXPECT_EQ(routeOf("/Data/x", "/" + name), "none") << name;
        EXPECT_EQ(routeOf("/" + name + "x/y"), "privileged") << name;
    }
    for (const std::string& prefix : systemPrefixes) {
        EXPECT_EQ(routeOf(prefix + "/a/b"), "none") << prefix;
        EXPECT_EQ(routeOf(prefix + "/a/b/c/d"), "none") << prefix;
    }
}

TEST(StorageRemovalPolicy, BothThePathAsSentAndThroughItsHoldingFolderMustPass) {
    EXPECT_EQ(routeOf("/tmp/x", "/private/tmp"), "none");
    EXPECT_EQ(routeOf("/Users/ann/Desktop/x", "/System/Library"), "none");
    EXPECT_EQ(routeOf("/Users/ann/Desktop/Info.plist", "/Applications/Some.app/Contents"), "none");
    EXPECT_EQ(routeOf("/Users/ann/Desktop/x", "/Users/ann/Desktop/"), "user");
    EXPECT_EQ(routeOf("/Users/ann/Desktop/x", "Desktop"), "none");
    // The route follows the path as sent.
    EXPECT_EQ(routeOf("/Users/ann/Desktop/x", "/private/tmp"), "user");
    EXPECT_EQ(routeOf("/private/tmp/x", "/Users/ann/Desktop"), "privileged");
}

// Runs `judge` in a child process whose root folder is `root`, and returns
// what it wrote.
std::string inRoot(const std::string& root, const std::function<std::string()>& judge) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "pipe failed";
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::string out = chroot(root.c_str()) == 0 && chdir("/") == 0 ? judge() : "chroot failed";
        ssize_t written = write(pipeEnds[1], out.data(), out.size());
        _exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return out;
}

TEST(StorageRemovalPolicy, ExternalVolumesOnRealFolders) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for chroot";
    char pattern[] = "/tmp/volumes-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path root = pattern;
    std::filesystem::create_directories(root / "Volumes/Backup/.Trashes/501");
    std::filesystem::create_directory_symlink("/", root / "Volumes/Startup");
    std::filesystem::create_directory_symlink("/Volumes/..", root / "Volumes/Up");
    std::filesystem::create_directory_symlink("Backup", root / "Volumes/Alias");

    const std::pair<const char*, char> volumeCases[] = {
        {"/Volumes/Backup/old", '1'},   {"/Volumes/Backup", '0'},      {"/Volumes/Startup/Library/x", '0'},
        {"/volumes/Startup/x", '0'},    {"/VOLUMES/Startup/x", '0'},   {"/Volumes/startup/x", '1'},
        {"/Volumes/Missing/x", '1'},    {"/Volumes/Alias/x", '1'},     {"/Volumes/Up/x", '0'},
        {"/Other/Backup/x", '0'},       {"//Volumes//Backup//x", '1'},
    };
    const RouteCase routeCases[] = {
        {"/Volumes/Backup/old", "user"},
        {"/Volumes/Backup", "none"},
        {"/Volumes/Backup/.Trashes", "none"},
        {"/Volumes/Backup/.Trashes/501", "none"},
        {"/Volumes/Backup/.Trashes/501/x", "user"},
        {"/Volumes/Missing/x", "user"},
        {"/Volumes/Startup/Users/ann/x", "none"},
        {"/Volumes/Startup/Data", "none"},
        {"/Volumes", "none"},
    };
    std::string expected;
    for (const auto& [path, external] : volumeCases) expected += std::string(path) + "=" + external + "\n";
    for (const RouteCase& c : routeCases) expected += std::string(c.path) + "=" + c.expected + "\n";

    const std::string judged = inRoot(root, [&] {
        std::string out;
        for (const auto& [path, external] : volumeCases)
            out += std::string(path) + "=" + (Storage::isOnExternalVolume(path) ? '1' : '0') + "\n";
        for (const RouteCase& c : routeCases) out += std::string(c.path) + "=" + routeOf(c.path) + "\n";
        return out;
    });
    std::filesystem::remove_all(root);
    EXPECT_EQ(judged, expected);
}

}  // namespace
