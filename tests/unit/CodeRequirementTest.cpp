// Code requirements as the helper understands them; which executables carry
// the identity and count as installed by root is proven on real peers.
#include "platform/admission/CodeRequirement.h"
#include "shared/HelperConstants.h"

#include <gtest/gtest.h>

TEST(CodeRequirement, EveryUnderstoodClauseMustHoldAndNothingElseIsEverSatisfied) {
    const std::string client(HelperConstants::clientRequirement);
    const CodeRequirement::ExecutableFacts everything{"com.kelto.Sorvane", "Q7LM3XZ2RB", true};
    const struct {
        std::string requirement;
        CodeRequirement::ExecutableFacts facts;
        bool satisfied;
    } cases[] = {
        {client, everything, true},
        {client, {"com.kelto.Sorvane", "Q7LM3XZ2RB", false}, false},
        {client, {"com.kelto.sorvane", "Q7LM3XZ2RB", true}, false},
        {client, {"com.kelto.Sorvane.Helper", "Q7LM3XZ2RB", true}, false},
        {client, {"com.kelto.Sorvane", "OTHERTEAM1", true}, false},
        {client, {std::nullopt, "Q7LM3XZ2RB", true}, false},
        {client, {"com.kelto.Sorvane", std::nullopt, true}, false},
        {R"(identifier "a \"quoted\" name")", {R"(a "quoted" name)", std::nullopt, false}, true},
        {"identifier com.example\t and\n\r anchor apple generic", {"com.example", std::nullopt, true}, true},
        {"", everything, false},
        {"anchor apple", everything, false},
        {"identifier \"com.kelto.Sorvane\" or anchor apple generic", everything, false},
        {"identifier \"com.kelto.Sorvane\" and", everything, false},
        {"identifier \"com.kelto.Sorvane", everything, false},
        {"identifier =", {"=", std::nullopt, true}, false},
        {"certificate leaf[subject.CN] = \"Q7LM3XZ2RB\"", everything, false},
        {"!identifier \"x\"", everything, false},
        {"(identifier \"com.kelto.Sorvane\")", everything, false},
        {"anchor apple generic and info[CFBundleVersion] = \"4\"", everything, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeRequirement::isSatisfied(CodeRequirement::parse(c.requirement), c.facts), c.satisfied)
            << "case " << &c - cases << ": " << c.requirement;
}
