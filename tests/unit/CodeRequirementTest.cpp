#include "platform/admission/CodeRequirement.h"
#include "platform/admission/EmbeddedInfoPlist.h"
#include "platform/admission/PeerExecutable.h"
#include "shared/HelperConstants.h"
#include "shared/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using CodeRequirement::Clause;
using Kind = CodeRequirement::Clause::Kind;

// The build folder: test executables lie in its tests/ folder.
std::filesystem::path binaryDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path(); }

UniqueFd openFile(const std::string& path) { return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

class TemporaryFolder {
public:
    TemporaryFolder() {
        char pattern[] = "/tmp/requirement-test-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

}  // namespace

TEST(CodeRequirement, ParsesTheUnderstoodClauses) {
    EXPECT_EQ(CodeRequirement::parse(HelperConstants::clientRequirement),
              (std::vector<Clause>{{Kind::identifier, "com.kelto.Sorvane"},
                                   {Kind::anchorAppleGeneric, ""},
                                   {Kind::teamIdentifier, "Q7LM3XZ2RB"}}));
    EXPECT_EQ(CodeRequirement::parse(R"(identifier "a \"quoted\" name")"),
              (std::vector<Clause>{{Kind::identifier, R"(a "quoted" name)"}}));
    EXPECT_EQ(CodeRequirement::parse("identifier com.example   and   anchor apple generic"),
              (std::vector<Clause>{{Kind::identifier, "com.example"}, {Kind::anchorAppleGeneric, ""}}));
}

TEST(CodeRequirement, AnythingElseIsNeverSatisfied) {
    const CodeRequirement::ExecutableFacts everything{"com.kelto.Sorvane", "Q7LM3XZ2RB", true};
    const char* texts[] = {
        "",
        "anchor apple",
        "identifier \"com.kelto.Sorvane\" or anchor apple generic",
        "identifier \"com.kelto.Sorvane\" and",
        "identifier \"com.kelto.Sorvane",
        "certificate leaf[subject.CN] = \"Q7LM3XZ2RB\"",
        "!identifier \"x\"",
        "(identifier \"com.kelto.Sorvane\")",
        "anchor apple generic and info[CFBundleVersion] = \"4\"",
    };
    for (const char* text : texts) {
        EXPECT_FALSE(CodeRequirement::isSatisfied(CodeRequirement::parse(text), everything)) << text;
    }
    EXPECT_TRUE(CodeRequirement::isSatisfied(CodeRequirement::parse(HelperConstants::clientRequirement), everything));
}

TEST(CodeRequirement, EveryClauseMustHold) {
    const auto clauses = CodeRequirement::parse(HelperConstants::clientRequirement);
    const struct {
        CodeRequirement::ExecutableFacts facts;
        bool satisfied;
    } cases[] = {
        {{"com.kelto.Sorvane", "Q7LM3XZ2RB", true}, true},
        {{"com.kelto.Sorvane", "Q7LM3XZ2RB", false}, false},
        {{"com.kelto.sorvane", "Q7LM3XZ2RB", true}, false},
        {{"com.kelto.Sorvane.Helper", "Q7LM3XZ2RB", true}, false},
        {{"com.kelto.Sorvane", "OTHERTEAM1", true}, false},
        {{std::nullopt, "Q7LM3XZ2RB", true}, false},
        {{"com.kelto.Sorvane", std::nullopt, true}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CodeRequirement::isSatisfied(clauses, c.facts), c.satisfied)
            << c.facts.bundleIdentifier.value_or("-") << " " << c.facts.teamIdentifier.value_or("-") << " "
            << c.facts.installedByRoot;
    }
}

TEST(EmbeddedInfoPlist, ReadsTheIdentityOfAnExecutable) {
    const auto client = openFile(binaryDir() / "sorvanectl");
    if (!client) GTEST_SKIP() << "sorvanectl is not built";
    const auto identity = EmbeddedInfoPlist::identity(client.get());
    EXPECT_EQ(identity.bundleIdentifier, "com.kelto.Sorvane");
    EXPECT_EQ(identity.teamIdentifier, "Q7LM3XZ2RB");

    const auto helper = openFile(binaryDir() / "com.kelto.Sorvane.Helper");
    ASSERT_TRUE(helper);
    EXPECT_EQ(EmbeddedInfoPlist::identity(helper.get()).bundleIdentifier, "com.kelto.Sorvane.Helper");
    EXPECT_EQ(EmbeddedInfoPlist::identity(helper.get()).teamIdentifier, std::nullopt);

    const auto self = openFile("/proc/self/exe");
    EXPECT_FALSE(EmbeddedInfoPlist::sectionBytes(self.get())) << "an ELF file without the section";

    TemporaryFolder folder;
    std::ofstream(folder.path + "/script") << "#!/bin/sh\necho __info_plist\n";
    const auto script = openFile(folder.path + "/script");
    EXPECT_FALSE(EmbeddedInfoPlist::sectionBytes(script.get())) << "not ELF";
}

TEST(PeerExecutable, InstalledByRootNeedsRootOwnedSealedFileAndFolders) {
    char resolved[PATH_MAX];
    ASSERT_NE(::realpath("/usr/bin/env", resolved), nullptr);
    const auto system = openFile(resolved);
    EXPECT_TRUE(PeerExecutable::isInstalledByRoot(system.get(), resolved));
    EXPECT_FALSE(PeerExecutable::isInstalledByRoot(system.get(), "/usr/bin/../bin/env")) << "path names it differently";
    const auto other = openFile("/usr/bin/id");
    EXPECT_FALSE(PeerExecutable::isInstalledByRoot(other.get(), resolved)) << "path names another file";

    // Under /tmp, writable by everyone, nothing counts as installed by root.
    TemporaryFolder folder;
    const std::string copy = folder.path + "/tool";
    std::filesystem::copy_file(resolved, copy);
    ::chmod(folder.path.c_str(), 0755);
    const auto copied = openFile(copy);
    EXPECT_FALSE(PeerExecutable::isInstalledByRoot(copied.get(), copy));
}
