// Code requirements as the helper understands them; which executables carry
// the identity and count as installed by root is proven on real peers.
#include "platform/admission/CodeRequirement.h"
#include "shared/HelperConstants.h"

#include <gtest/gtest.h>

namespace {

using CodeRequirement::Clause;
using Kind = CodeRequirement::Clause::Kind;

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
