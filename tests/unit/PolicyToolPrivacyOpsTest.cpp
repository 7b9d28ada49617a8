// The privacy ops of sorvane-policy, run through the built tool.
#include "platform/os/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

namespace {

std::filesystem::path toolPath() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "sorvane-policy";
}

TEST(PolicyToolPrivacyOps, AnswersEachLine) {
    if (!std::filesystem::exists(toolPath())) GTEST_SKIP() << "sorvane-policy is not built";
    const std::pair<const char*, const char*> lines[] = {
        {R"({"op":"tcc","service":"Camera","bundle":"com.example.App"})", R"({"result":null})"},
        {R"({"op":"tcc","service":"camera","bundle":"nodots"})", R"({"result":"unknownService"})"},
        {R"({"op":"tcc","service":"Camera","bundle":"com..x"})", R"({"result":"invalidBundleID"})"},
        {R"({"op":"tcc","service":"Camera","bundle":"Com.Apple"})", R"({"result":"appleClient"})"},
        {R"({"op":"tcc","service":"Camera","bundle":"COM.kelto.sorvane"})", R"({"result":"protectedClient"})"},
        {R"({"op":"tcc-arguments","service":"Willow","bundle":"Com.Example.App"})",
         R"({"result":["reset","Willow","Com.Example.App"]})"},
        {R"({"op":"tcc-arguments","service":"Willow","bundle":"com.apple.x"})", R"({"result":null})"},
        {R"({"op":"tcc","service":"Camera"})", R"({"error":"missing field \"bundle\""})"},
        {R"({"op":"tcc-arguments","service":"Camera","bundle":null})", R"({"error":"field \"bundle\" must be a string"})"},
    };
    std::string input;
    for (const auto& [request, answer] : lines) input += std::string(request) + "\n";
    const auto run = ChildProcess::run("/bin/sh", {"-c", "printf '%s' \"$1\" | \"$0\"", toolPath().string(), input},
                                       ChildProcess::Streams::separate);
    std::istringstream output(run.output);
    std::string answered;
    for (const auto& [request, answer] : lines) {
        ASSERT_TRUE(std::getline(output, answered)) << request;
        EXPECT_EQ(answered, answer) << request;
    }
}

}  // namespace
