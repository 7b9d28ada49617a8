// sorvane-policy itself: one answer line for each request line, going on after
// lines it cannot take. The decisions are tested through its op table.
#include "platform/os/ChildProcess.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(PolicyTool, AnswersEachLineAndGoesOn) {
    const auto tool = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "sorvane-policy";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "sorvane-policy is not built";
    const auto run =
        ChildProcess::run("/bin/sh",
                          {"-c", "printf '%s\\n' \"$@\" | \"$0\"", tool.string(), "not json", "[1]", R"({"op":"nope"})",
                           R"({"op":"tcc","service":"Camera"})", R"({"op":"normalized","path":"/a\u00e9//"})"},
                          ChildProcess::Streams::separate);
    EXPECT_EQ(run.output.substr(0, run.output.find('\n')).find(R"({"error":"not JSON)"), 0u) << run.output;
    EXPECT_EQ(run.output.substr(run.output.find('\n') + 1),
              "{\"error\":\"a request is a JSON object\"}\n{\"error\":\"unknown op: nope\"}\n"
              "{\"error\":\"missing field \\\"bundle\\\"\"}\n{\"result\":\"/a\xC3\xA9\"}\n");
    // Fields of the wrong type are refused by every op's readers.
    for (const char* request :
         {R"({"op":"removal","path":"/x","parent":"/","home":7})", R"({"op":"own","path":"/x","parent":"/","own":[1]})",
          R"({"op":"launch-domain","folder":"agents","uid":-1})", R"({"op":"trash-candidate","name":"a","n":1.5})"})
        EXPECT_TRUE(policyAnswer(nlohmann::json::parse(request)).contains("error")) << request;
}
