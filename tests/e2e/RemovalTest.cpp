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

std::string failure(const std::string& operation, int code) { return operation + ": " + systemMessage(code); }

struct Removal : testing::Test {
    void SetUp() override { removeAll("/Users/ann/.Trash"); }
};

// The holding folder is resolved on the real folders: a folder that does not
// resolve, a link from an allowed place into a protected one, or the startup
// volume's alias in /Volumes, is refused under the path as sent, and nothing
// changes.
TEST_F(Removal, RefusedPathsAreNamedAndLeftUntouched) {
    makeFile("/System/Library/keep", "keep");
    makeSymlink("/System/Library", "/Library/Caches/com.example.toSystem");
    const std::vector<std::string> refused = {"/Library/Caches/com.example.toSystem/keep",
                                              "/Library/Caches/com.example.NoSuchFolder/item",
                                              "/Volumes/Macintosh HD/System/Library/keep"};
    Outcome expected;
    for (const auto& path : refused) expected[path] = notAllowed;
    EXPECT_EQ(removeItems(ann, refused, false), expected);
    EXPECT_EQ(removeChosenItems(ann, refused, true), expected);
    EXPECT_EQ(readFile("/System/Library/keep"), "keep");
    EXPECT_FALSE(exists("/Users/ann/.Trash"));
}

TEST_F(Removal, AllowedItemsAreDeletedAndFailuresNamedUnderThePathAsSent) {
    makeFile("/Library/Caches/com.example.Tree/a/b/c.txt", "x");
    makeSymlink("/Library/Logs", "/Library/Caches/com.example.logs");
    makeFile("/Library/Logs/com.example.log", "log");
    makeFile("/Users/ann/Desktop/Folder/inner/file", "x", {501, 20});
    makeFile("/Volumes/Backup/old/file", "x");
    EXPECT_EQ(removeItems(ann,
                          {"/Library/Caches/com.example.Tree", "/Library/Caches/com.example.logs/com.example.log",
                           "/Library/Caches/com.example.Tree"},
                          false),
              (Outcome{{"/Library/Caches/com.example.Tree", failure("stat com.example.Tree", ENOENT)}}));
    const std::vector<std::string> chosen = {"/Users/ann/Desktop/Folder/", "/Users/ann/Desktop/Missing/",
                                             "/Volumes/Backup/old"};
    EXPECT_EQ(removeChosenItems(ann, chosen, false), (Outcome{{chosen[1], failure("stat Missing", ENOENT)}}));
    for (const char* gone : {"/Library/Logs/com.example.log", "/Users/ann/Desktop/Folder", "/Volumes/Backup/old"})
        EXPECT_FALSE(exists(gone)) << gone;
    EXPECT_TRUE(isSymlink("/Library/Caches/com.example.logs"));  // the item goes, through the resolved folder
}

// Moved items land in the client's own Trash, handed to the client; a client
// without a home under /Users (root's is /root) has no Trash and may choose nothing.
TEST_F(Removal, EachClientIsJudgedByItsOwnHome) {
    makeFile("/Library/Caches/com.example.Trashed/sub/deep.txt", "x");
    makeFile("/Users/ann/Desktop/chosen.pdf", "mine", {501, 20});
    EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.Trashed"}, true), Outcome{});
    EXPECT_EQ(removeChosenItems(ann, {"/Users/ann/Desktop/chosen.pdf"}, true), Outcome{});
    EXPECT_EQ(namesIn("/Users/ann/.Trash"), (std::vector<std::string>{"chosen.pdf", "com.example.Trashed"}));
    EXPECT_EQ(entriesNotOwnedBy("/Users/ann/.Trash", {501, 20}), std::vector<std::string>{});

    const std::string item = "/Library/Caches/com.example.NoHome";
    makeFile(item, "x");
    EXPECT_EQ(removeItems(nohome, {item}, true), (Outcome{{item, "The Trash of this user was not found"}}));
    EXPECT_EQ(removeChosenItems(nohome, {item}, false), (Outcome{{item, notAllowed}}));
    EXPECT_EQ(removeItems(nohome, {item}, false), Outcome{});
}

// A path holding NUL is removed or refused whole, under its own key; never
// as the part before the NUL.
TEST_F(Removal, APathHoldingNULFailsWholeUnderItsOwnKey) {
    makeFile("/Users/ann/Desktop/Thesis", "x", {501, 20});
    makeFile("/Library/Caches/com.example.held/file", "x");
    using namespace std::string_literals;
    const std::string thesis = "/Users/ann/Desktop/Thesis\0.bak"s;
    const std::string climbing = "/Library/Caches/com.example.held\0/../../../System"s;
    const Wire::Request request{
        7, Wire::Selector::removeChosenItems, {std::vector<std::string>{thesis, climbing}, false}};
    EXPECT_TRUE(WireClient::runAs(
        ann, {{request, Wire::TextDictionary{{thesis, failure("remove", EINVAL)}, {climbing, notAllowed}}}}, 1));
    EXPECT_TRUE(exists("/Users/ann/Desktop/Thesis"));
    EXPECT_TRUE(exists("/Library/Caches/com.example.held/file"));
}

}  // namespace
