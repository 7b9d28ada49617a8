// The path ops of sorvane-policy, run through the built tool.
#include "platform/os/ChildProcess.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The tool lies at the top of the build folder, one level above the tests.
std::filesystem::path toolPath() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "sorvane-policy";
}

// Feeds `input` to the tool and returns its standard output.
std::string runTool(const std::string& input) {
    char pattern[] = "/tmp/policy-input-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) return "mkstemp failed";
    close(fd);
    std::ofstream(pattern) << input;
    const ChildProcess::Result result =
        ChildProcess::run("/bin/sh", {"-c", "exec \"$0\" < \"$1\"", toolPath().string(), pattern},
                          ChildProcess::Streams::separate);
    std::filesystem::remove(pattern);
    return result.output;
}

TEST(PolicyToolPathOps, AnswersEachLine) {
    if (!std::filesystem::exists(toolPath())) GTEST_SKIP() << "sorvane-policy is not built";
    const std::pair<const char*, const char*> lines[] = {
        {R"({"op":"is-normalized","path":"/a/./b"})", R"({"result":false})"},
        {R"({"op":"normalized","path":"/a/b//"})", R"({"result":"/a/b"})"},
        {R"({"op":"normalized","path":"a"})", R"({"result":null})"},
        {R"({"op":"folded","text":"/LIBRARY/Cafe\u0301"})", "{\"result\":\"/library/caf\xC3\xA9\"}"},
        {R"({"op":"system-location","path":"/usr/local/bin"})", R"({"result":false})"},
        {R"({"op":"removal","path":"/Users/bob/x.txt","parent":"/Users/bob","home":"/Users/bob"})", R"({"result":true})"},
        {R"({"op":"removal","path":"/Users/bob/x.txt","parent":"/Users/bob","home":null})", R"({"result":false})"},
        {R"({"op":"user-removal","path":"/Users/bob/Library/Caches","home":"/Users/bob"})", R"({"result":false})"},
        {R"({"op":"own-paths","bundle":null})",
         R"({"result":["/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper","/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist"]})"},
        {R"({"op":"own","path":"/Applications/S.app/x","parent":"/Applications/S.app","own":["/Applications/S.app"]})",
         R"({"result":true})"},
        {R"({"op":"own","path":"/Library/LaunchDaemons","parent":"/Library"})", R"({"result":true})"},
        {R"({"op":"chosen","path":"/Users/ann/Desktop/a","parent":"/Users/ann/Desktop","home":"/Users/ann"})",
         R"({"result":"user"})"},
        {R"({"op":"chosen","path":"/Data/a","parent":"/Data","home":"/Users/ann","own":[]})", R"({"result":"privileged"})"},
        {R"({"op":"chosen","path":"/Data/a","parent":"/srv","home":"/Users/ann","own":[]})", R"({"result":null})"},
        {R"({"op":"chosen","path":"/Users/ann","parent":"/Users","home":"/Users/ann"})", R"({"result":null})"},
        // Bad lines are answered with an error, and the tool goes on.
        {R"(not json)", "error"},
        {R"({"op":"removal","path":"/x","parent":"/"})", "error"},
        {R"({"op":"removal","path":"/x","parent":"/","home":7})", "error"},
        {R"({"op":"own","path":"/x","parent":"/","own":[1]})", "error"},
        {R"({"op":"is-normalized","path":"/x"})", R"({"result":true})"},
    };
    std::string input;
    for (const auto& [request, answer] : lines) input += std::string(request) + "\n";
    std::istringstream output(runTool(input));
    std::string answered;
    for (const auto& [request, answer] : lines) {
        ASSERT_TRUE(std::getline(output, answered)) << request;
        if (std::string_view(answer) == "error")
            EXPECT_TRUE(answered.starts_with(R"({"error":)")) << request << " -> " << answered;
        else
            EXPECT_EQ(answered, answer) << request;
    }
}

}  // namespace
