// Removal of items the user picked by hand, through the running helper.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

const std::string notAllowed = "Path is not allowed";

std::string failure(const std::string& operation, int code) { return operation + ": " + systemMessage(code); }

class ChosenRemoval : public ::testing::Test {
protected:
    void SetUp() override { removeAll("/Users/ann/.Trash"); }
};

TEST_F(ChosenRemoval, ChosenItemsAreDeletedAndATrailingSlashIsTheSameItem) {
    makeFile("/Users/ann/Desktop/report.pdf", "x", {501, 20});
    makeFile("/Users/ann/Desktop/Folder/inner/file", "x", {501, 20});
    makeFile("/Users/ann/Library/Caches/com.example.app/blob", "x", {501, 20});
    makeFile("/Users/ann/Applications/Some.app/Contents/Info.plist", "x", {501, 20});
    makeFile("/Volumes/Backup/old/file", "x");
    makeFile("/Users/Shared/Projects/plan.txt", "x");
    makeFile("/Applications/Some.app/Contents/MacOS/Some", "x");
    makeFile("/Library/Caches/com.example.chosen/file", "x");

    EXPECT_EQ(removeChosenItems(ann,
                                {"/Users/ann/Desktop/report.pdf", "/Users/ann/Desktop/Folder/",
                                 "/Users/ann/Desktop/Missing/", "/Users/ann/Library/Caches/com.example.app",
                                 "/Users/ann/Applications/Some.app", "/Volumes/Backup/old", "/Users/Shared/Projects",
                                 "/Applications/Some.app", "/Library/Caches/com.example.chosen//"},
                                false),
              (Outcome{{"/Users/ann/Desktop/Missing/", failure("stat Missing", ENOENT)}}));
    for (const char* gone : {"/Users/ann/Desktop/report.pdf", "/Users/ann/Desktop/Folder",
                             "/Users/ann/Library/Caches/com.example.app", "/Users/ann/Applications/Some.app",
                             "/Volumes/Backup/old", "/Users/Shared/Projects", "/Applications/Some.app",
                             "/Library/Caches/com.example.chosen"}) {
        EXPECT_FALSE(exists(gone)) << gone;
    }
    EXPECT_TRUE(exists("/Users/ann/Desktop"));
    EXPECT_TRUE(exists("/Users/ann/Applications"));
}

TEST_F(ChosenRemoval, RefusedChosenPathsAreNamedAndLeftUntouched) {
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"/Users/ann", "/Users/ann"},
        {"/Users/ann/", "/Users/ann"},
        {"/Users/ann/Desktop", "/Users/ann/Desktop"},
        {"/Users/ann/Library", "/Users/ann/Library"},
        {"/Users/ann/Library/Caches", "/Users/ann/Library/Caches"},
        {"/Users/bob/notes.txt", "/Users/bob/notes.txt"},
        {"/Users/ann/Applications/Kept.app/Contents", "/Users/ann/Applications/Kept.app/Contents"},
        {"/Applications/Kept.app/Contents/MacOS/Kept", "/Applications/Kept.app/Contents/MacOS/Kept"},
        {"/Applications/Utilities", "/Applications/Utilities"},
        {"/Applications", "/Applications"},
        {"/Library/Caches", "/Library/Caches"},
        {"/Library/Caches/com.apple.kept", "/Library/Caches/com.apple.kept"},
        {"/Library/Apple/kept", "/Library/Apple/kept"},
        {"/System/Library", "/System/Library"},
        {"/usr/local", "/usr/local"},
        {"/usr/local/bin", "/usr/local/bin"},
        {"/usr/bin/env", "/usr/bin/env"},
        {"/Users/Shared", "/Users/Shared"},
        {"/Users/Shared/adi", "/Users/Shared/adi"},
        {"/Volumes/Backup", "/Volumes/Backup"},
        {"/Volumes/Macintosh HD/Users/Shared/kept", "/Users/Shared/kept"},
        {"/Users/ann/Desktop/Gone/file", "/Users/ann/Desktop"},
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist"},
        {"/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper", "/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper"},
        {"/Users/ann/Library/Preferences/com.kelto.Sorvane.plist", "/Users/ann/Library/Preferences/com.kelto.Sorvane.plist"},
        {"/Users/ann/Desktop/a/../report.txt", "/Users/ann/Desktop/report.txt"},
        {"relative/report.txt", "/Users/ann/Desktop/report.txt"},
    };
    makeFile("/Users/bob/notes.txt", "x", {502, 20});
    makeFile("/Users/ann/Applications/Kept.app/Contents/Info.plist", "x", {501, 20});
    makeFile("/Applications/Kept.app/Contents/MacOS/Kept", "x");
    makeFile("/Library/Caches/com.apple.kept", "x");
    makeFile("/Library/Apple/kept", "x");
    makeFile("/Users/Shared/adi/x", "x");
    makeFile("/Users/Shared/kept", "x");
    makeFile("/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "x");
    makeFile("/Users/ann/Library/Preferences/com.kelto.Sorvane.plist", "x", {501, 20});
    makeFile("/Users/ann/Desktop/report.txt", "x", {501, 20});
    makeFolder("/Users/ann/Desktop/a", {501, 20});

    std::vector<std::string> paths;
    Outcome expected;
    for (const auto& [path, kept] : refused) {
        paths.push_back(path);
        expected[path] = notAllowed;
    }
    EXPECT_EQ(removeChosenItems(ann, paths, false), expected);
    EXPECT_EQ(removeChosenItems(ann, paths, true), expected);
    for (const auto& [path, kept] : refused) EXPECT_TRUE(exists(kept)) << path;
    EXPECT_FALSE(exists("/Users/ann/.Trash"));
}

TEST_F(ChosenRemoval, ChosenItemsMovedToTheTrashBelongToTheClient) {
    makeFile("/Users/ann/Desktop/report.pdf", "mine", {501, 20});
    makeFile("/Users/Shared/Handout/page.txt", "shared");
    makeFile("/Volumes/Backup/old.zip", "external");

    EXPECT_EQ(removeChosenItems(ann, {"/Users/ann/Desktop/report.pdf", "/Users/Shared/Handout/", "/Volumes/Backup/old.zip"},
                                true),
              (Outcome{{"/Volumes/Backup/old.zip", failure("move old.zip", EXDEV)}}));
    EXPECT_EQ(namesIn("/Users/ann/.Trash"), (std::vector<std::string>{"Handout", "report.pdf"}));
    EXPECT_EQ(readFile("/Users/ann/.Trash/report.pdf"), "mine");
    EXPECT_EQ(entriesNotOwnedBy("/Users/ann/.Trash", {501, 20}), std::vector<std::string>{});
    EXPECT_FALSE(exists("/Users/ann/Desktop/report.pdf"));
    EXPECT_FALSE(exists("/Users/Shared/Handout"));
    EXPECT_EQ(readFile("/Volumes/Backup/old.zip"), "external");
}

TEST_F(ChosenRemoval, ClientsWithoutAHomeUnderUsersAreRefusedEverything) {
    for (const User& client : {root, nohome}) {
        SCOPED_TRACE(client.name);
        makeFile("/Users/Shared/Projects/plan.txt", "x");
        makeFile("/Library/Caches/com.example.nohome", "x");
        makeFile("/Volumes/Backup/old", "x");
        const std::vector<std::string> paths = {"/Users/Shared/Projects", "/Library/Caches/com.example.nohome",
                                                "/Volumes/Backup/old", "/Library/Caches/com.example.Missing/x"};
        Outcome expected;
        for (const auto& path : paths) expected[path] = notAllowed;
        EXPECT_EQ(removeChosenItems(client, paths, false), expected);
        EXPECT_EQ(removeChosenItems(client, paths, true), expected);
        EXPECT_TRUE(exists("/Users/Shared/Projects/plan.txt"));
        EXPECT_TRUE(exists("/Library/Caches/com.example.nohome"));
        EXPECT_TRUE(exists("/Volumes/Backup/old"));
    }
}

TEST_F(ChosenRemoval, AnotherUsersChoiceIsJudgedByTheirOwnHome) {
    makeFile("/Users/bob/Desktop/bobs.txt", "x", {502, 20});
    EXPECT_EQ(removeChosenItems(ann, {"/Users/bob/Desktop/bobs.txt"}, false),
              (Outcome{{"/Users/bob/Desktop/bobs.txt", notAllowed}}));
    EXPECT_TRUE(exists("/Users/bob/Desktop/bobs.txt"));
    EXPECT_EQ(removeChosenItems(bob, {"/Users/bob/Desktop/bobs.txt"}, true), Outcome{});
    EXPECT_EQ(ownerOf("/Users/bob/.Trash/bobs.txt"), (Owner{502, 20}));
    removeAll("/Users/bob/.Trash");
}

TEST_F(ChosenRemoval, APathHoldingNULFailsWholeUnderItsOwnKey) {
    makeFile("/Users/ann/Desktop/Thesis", "x", {501, 20});
    makeFile("/Users/ann/Desktop/Caf\u00e9", "x", {501, 20});
    makeFile("/Library/Caches/com.example.held/file", "x");
    using namespace std::string_literals;
    const std::string thesis = "/Users/ann/Desktop/Thesis\0.bak"s;
    const std::string cafe = "/Users/ann/Desktop/Caf\u00e9\0"s;  // travels as UTF-16
    const std::string climbing = "/Library/Caches/com.example.held\0/../../../System"s;
    const Wire::Request request{7, Wire::Selector::removeChosenItems,
                                {std::vector<std::string>{thesis, cafe, "/Users/ann/Desktop/Caf\u00e9", climbing}, false}};
    const Wire::TextDictionary expected{
        {thesis, failure("remove", EINVAL)}, {cafe, failure("remove", EINVAL)}, {climbing, notAllowed}};
    const auto result = WireClient::runAs(ann, {{request, expected}}, 1);
    EXPECT_EQ(result.answered, 1u);
    EXPECT_TRUE(result.failures.empty()) << result.failures.front();
    EXPECT_TRUE(exists("/Users/ann/Desktop/Thesis"));
    EXPECT_FALSE(exists("/Users/ann/Desktop/Caf\u00e9"));
    EXPECT_TRUE(exists("/Library/Caches/com.example.held/file"));
    removeAll("/Users/ann/Desktop/Thesis");
    removeAll("/Library/Caches/com.example.held");
}

}  // namespace
