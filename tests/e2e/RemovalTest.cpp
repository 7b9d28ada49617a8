// Removal of found and of chosen items through the running helper, as the
// application asks for it: the reply, then the file system. Which paths the
// rules allow is tested on the policies; here, what only real folders show.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

const std::string notAllowed = "Path is not allowed";
const std::string noTrash = "The Trash of this user was not found";

std::string failure(const std::string& operation, int code) { return operation + ": " + systemMessage(code); }

class Removal : public ::testing::Test {
protected:
    void SetUp() override { removeAll("/Users/ann/.Trash"); }
};

// Each refusal: the path sent, and what must still be there afterwards.
TEST_F(Removal, RefusedPathsAreNamedAndLeftUntouched) {
    makeFile("/Library/Caches/com.example.keep/data", "keep");
    makeFile("/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "keep");
    makeFile("/System/Library/keep", "keep");
    makeFile("/Users/Shared/kept", "keep");
    makeFile("/Users/ann/Desktop/report.txt", "x", {501, 20});
    makeFolder("/Users/ann/Desktop/a", {501, 20});
    makeSymlink("/System/Library", "/Library/Caches/com.example.toSystem");
    makeSymlink("/Library/LaunchDaemons", "/Library/Caches/com.example.toDaemons");
    const std::pair<std::string, std::string> found[] = {
        {"/Library/Caches/com.example.keep/", "/Library/Caches/com.example.keep"},
        {"/Library/Caches/com.example.NoSuchFolder/item", "/Library/Caches"},
        {"/Volumes/Macintosh HD/Library/Caches/com.example.keep", "/Library/Caches/com.example.keep"},
        // Symbolic-link folders from an allowed place into a protected one.
        {"/Library/Caches/com.example.toSystem/keep", "/System/Library/keep"},
        {"/Library/Caches/com.example.toDaemons/com.kelto.Sorvane.Helper.plist",
         "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist"},
    };
    const std::pair<std::string, std::string> chosen[] = {
        {"/Users/ann/", "/Users/ann"},
        {"/Volumes/Macintosh HD/Users/Shared/kept", "/Users/Shared/kept"},
        {"/Users/ann/Desktop/Gone/file", "/Users/ann/Desktop"},
        {"/Users/ann/Desktop/a/../report.txt", "/Users/ann/Desktop/report.txt"},
        {"/Library/Caches/com.example.toSystem/keep", "/System/Library/keep"},
    };
    for (const bool toTrash : {false, true}) {
        for (const bool chosenItems : {false, true}) {
            Outcome expected;
            std::vector<std::string> sent;
            for (const auto& [path, kept] : chosenItems ? chosen : found) sent.push_back(path), expected[path] = notAllowed;
            EXPECT_EQ((chosenItems ? removeChosenItems : removeItems)(ann, sent, toTrash), expected);
            for (const auto& [path, kept] : chosenItems ? chosen : found) EXPECT_TRUE(exists(kept)) << path;
        }
    }
    EXPECT_EQ(readFile("/System/Library/keep"), "keep");
    EXPECT_FALSE(exists("/Users/ann/.Trash"));
}

TEST_F(Removal, AllowedItemsAreDeletedAndFailuresNamedUnderThePathAsSent) {
    makeFile("/Library/Caches/com.example.Tree/a/b/c.txt", "x");
    makeFile("/System/Library/Target/inside.txt", "target");
    makeSymlink("/System/Library/Target", "/Library/Caches/com.example.link");
    makeSymlink("/Library/Logs", "/Library/Caches/com.example.logs");
    makeFile("/Library/Logs/com.example.log", "log");
    makeFile("/Users/ann/Library/Caches/com.example.app/blob", "x", {501, 20});
    makeFile("/usr/local/lib/libexample/lib.so", "x");
    makeFile("/Library/Caches/com.example.Twice", "x");
    EXPECT_EQ(removeItems(ann,
                          {"/Library/Caches/com.example.Tree", "/Library/Caches/com.example.link",
                           "/Library/Caches/com.example.logs/com.example.log", "/Library/Caches/com.example.logs/missing",
                           "/Users/ann/Library/Caches/com.example.app", "/usr/local/lib/libexample",
                           "/Library/Caches/com.example.Twice", "/Library/Caches/com.example.Twice"},
                          false),
              (Outcome{{"/Library/Caches/com.example.logs/missing", failure("stat missing", ENOENT)},
                       {"/Library/Caches/com.example.Twice", failure("stat com.example.Twice", ENOENT)}}));
    for (const char* gone : {"/Library/Caches/com.example.Tree", "/Library/Caches/com.example.link",
                             "/Library/Logs/com.example.log", "/Users/ann/Library/Caches/com.example.app",
                             "/usr/local/lib/libexample", "/Library/Caches/com.example.Twice"})
        EXPECT_FALSE(exists(gone)) << gone;
    // Links are removed as links; what they point to stays.
    EXPECT_EQ(readFile("/System/Library/Target/inside.txt"), "target");
    EXPECT_TRUE(isSymlink("/Library/Caches/com.example.logs"));

    makeFile("/Users/ann/Desktop/Folder/inner/file", "x", {501, 20});
    makeFile("/Volumes/Backup/old/file", "x");
    makeFile("/Applications/Some.app/Contents/MacOS/Some", "x");
    EXPECT_EQ(removeChosenItems(ann, {"/Users/ann/Desktop/Folder/", "/Users/ann/Desktop/Missing/", "/Volumes/Backup/old",
                                      "/Applications/Some.app"}, false),
              (Outcome{{"/Users/ann/Desktop/Missing/", failure("stat Missing", ENOENT)}}));
    for (const char* gone : {"/Users/ann/Desktop/Folder", "/Volumes/Backup/old", "/Applications/Some.app"})
        EXPECT_FALSE(exists(gone)) << gone;
}

TEST_F(Removal, MovedItemsLandInTheClientsTrashOwnedByTheClient) {
    makeFolder("/Users/ann/.Trash", {501, 20}, 0700);
    makeFile("/Users/ann/.Trash/report.pdf", "old", {501, 20});
    makeFile("/Users/ann/.Trash/report 2.pdf", "old", {501, 20});
    makeFile("/Library/Caches/com.example.A/report.pdf", "new");
    makeFile("/Library/Caches/com.example.Trashed/sub/deep.txt", "x");
    makeSymlink("/System/Library", "/Library/Caches/com.example.Trashed/link");
    // A file with a second hard link elsewhere keeps its owner.
    makeFile("/Library/Caches/com.example.Trashed/shared.txt", "x");
    removeAll("/Library/Caches/com.example.otherLink");
    ASSERT_EQ(::link("/Library/Caches/com.example.Trashed/shared.txt", "/Library/Caches/com.example.otherLink"), 0);
    makeFile("/Users/ann/Desktop/chosen.pdf", "mine", {501, 20});
    makeFile("/Users/Shared/Handout/page.txt", "shared");

    EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.Trashed", "/Library/Caches/com.example.A/report.pdf"}, true),
              Outcome{});
    EXPECT_EQ(removeChosenItems(ann, {"/Users/ann/Desktop/chosen.pdf", "/Users/Shared/Handout/"}, true), Outcome{});
    EXPECT_EQ(namesIn("/Users/ann/.Trash"), (std::vector<std::string>{"Handout", "chosen.pdf", "com.example.Trashed",
                                                                     "report 2.pdf", "report 3.pdf", "report.pdf"}));
    EXPECT_EQ(readFile("/Users/ann/.Trash/report 3.pdf"), "new");
    EXPECT_EQ(entriesNotOwnedBy("/Users/ann/.Trash", {501, 20}),
              std::vector<std::string>{"/Users/ann/.Trash/com.example.Trashed/shared.txt"});
    EXPECT_TRUE(isSymlink("/Users/ann/.Trash/com.example.Trashed/link"));
    EXPECT_EQ(ownerOf("/System/Library"), (Owner{0, 0}));
    removeAll("/Library/Caches/com.example.otherLink");
}

TEST_F(Removal, EachClientIsJudgedByItsOwnHome) {
    // Without a home under /Users: no Trash, and no chosen item at all.
    for (const User& client : {root, nohome}) {
        SCOPED_TRACE(client.name);
        makeFile("/Library/Caches/com.example.NoHome", "x");
        makeFile("/Users/bob/Foo", "x", {502, 20});
        EXPECT_EQ(removeItems(client, {"/Library/Caches/com.example.NoHome", "/Users/bob/Foo"}, true),
                  (Outcome{{"/Library/Caches/com.example.NoHome", noTrash}, {"/Users/bob/Foo", notAllowed}}));
        EXPECT_EQ(removeChosenItems(client, {"/Library/Caches/com.example.NoHome"}, false),
                  (Outcome{{"/Library/Caches/com.example.NoHome", notAllowed}}));
        EXPECT_TRUE(exists("/Users/bob/Foo"));
        EXPECT_EQ(removeItems(client, {"/Library/Caches/com.example.NoHome"}, false), Outcome{});
    }
    makeFile("/Users/bob/Desktop/bobs.txt", "x", {502, 20});
    EXPECT_EQ(removeChosenItems(ann, {"/Users/bob/Desktop/bobs.txt"}, false),
              (Outcome{{"/Users/bob/Desktop/bobs.txt", notAllowed}}));
    EXPECT_EQ(removeChosenItems(bob, {"/Users/bob/Desktop/bobs.txt"}, true), Outcome{});
    EXPECT_EQ(ownerOf("/Users/bob/.Trash/bobs.txt"), (Owner{502, 20}));
    removeAll("/Users/bob/.Trash");
    removeAll("/Users/bob/Foo");
}

// A path holding NUL is removed or refused whole, under its own key; never
// as the part before the NUL.
TEST_F(Removal, APathHoldingNULFailsWholeUnderItsOwnKey) {
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
    EXPECT_TRUE(WireClient::runAs(ann, {{request, expected}}, 1));
    EXPECT_TRUE(exists("/Users/ann/Desktop/Thesis"));
    EXPECT_FALSE(exists("/Users/ann/Desktop/Caf\u00e9"));
    EXPECT_TRUE(exists("/Library/Caches/com.example.held/file"));
    removeAll("/Users/ann/Desktop/Thesis");
    removeAll("/Library/Caches/com.example.held");
}

}  // namespace
