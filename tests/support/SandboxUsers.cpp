#include "support/SandboxUsers.h"

#include "platform/os/ChildProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace SandboxUsers {

ToolRun runAs(const User& user, const std::string& program, const std::vector<std::string>& arguments,
              const std::string& input) {
    // The shell feeds `input` to the program, which setpriv starts as the user.
    std::vector<std::string> words{"-c", "input=$1; shift; printf %s \"$input\" | exec \"$@\"", "sh", input};
    if (user.uid != 0)
        words.insert(words.end(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(user.uid),
                                   "--regid=" + std::to_string(user.gid), "--clear-groups", "--"});
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    const ChildProcess::Result result = ChildProcess::run("/bin/sh", words, ChildProcess::Streams::separate);
    return {result.status, result.output, result.error, nullptr};
}

ToolRun ctl(const User& user, const std::vector<std::string>& arguments, const std::string& program) {
    std::vector<std::string> words{"--json"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    ToolRun run = runAs(user, program, words);
    if (run.status != 0) return run;
    run.reply = nlohmann::json::parse(run.output, nullptr, false);
    if (run.reply.is_discarded()) {
        ADD_FAILURE() << "sorvanectl printed no JSON: " << run.output;
        run.reply = nullptr;
    }
    return run;
}

namespace {

Outcome removal(const char* verb, const User& user, const std::vector<std::string>& paths, bool toTrash) {
    std::vector<std::string> words{verb};
    if (toTrash) words.emplace_back("--trash");
    words.insert(words.end(), paths.begin(), paths.end());
    const ToolRun run = ctl(user, words);
    Outcome outcome;
    if (run.status != 0 || !run.reply.is_object()) {
        ADD_FAILURE() << "sorvanectl " << verb << " as " << user.name << " ended with " << run.status
                      << "; output: " << run.output << "; error: " << run.error;
        return outcome;
    }
    for (const auto& [path, reason] : run.reply.items())
        outcome[path] = reason.is_string() ? reason.get<std::string>() : reason.dump();  // a non-text shows as JSON
    return outcome;
}

}  // namespace

Outcome removeItems(const User& user, const std::vector<std::string>& paths, bool toTrash) {
    return removal("remove", user, paths, toTrash);
}

Outcome removeChosenItems(const User& user, const std::vector<std::string>& paths, bool toTrash) {
    return removal("remove-chosen", user, paths, toTrash);
}

std::vector<nlohmann::json> session(const User& user, const std::vector<nlohmann::json>& requests) {
    std::string input;
    for (const auto& request : requests) input += request.dump() + "\n";
    const ToolRun run = runAs(user, sorvanectlPath, {"session"}, input);
    EXPECT_EQ(run.status, 0) << run.error;
    std::vector<nlohmann::json> replies;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) replies.push_back(nlohmann::json::parse(line));
    return replies;
}

std::vector<nlohmann::json> toolRuns() {
    std::vector<nlohmann::json> runs;
    std::ifstream lines("/var/run/sandbox/calls.jsonl");
    for (std::string line; std::getline(lines, line);) runs.push_back(nlohmann::json::parse(line));
    return runs;
}

void clearToolRuns() { std::ofstream("/var/run/sandbox/calls.jsonl", std::ios::trunc); }

pid_t helperPid() {
    std::ifstream in("/var/run/sandbox/helper.pid");
    pid_t pid = 0;
    in >> pid;
    return pid;
}

}  // namespace SandboxUsers
