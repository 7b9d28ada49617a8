// sorvanectl: the application's side of the helper's protocol, for people and scripts.
#include "client/CommandWords.h"
#include "client/HelperClient.h"
#include "client/ReplyOutput.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

constexpr int exitAnswered = 0;
constexpr int exitUsage = 64;
constexpr int exitUnavailable = 69;

std::unique_ptr<HelperClient> connectOrComplain() {
    const std::string path = HelperClient::socketPath();
    auto client = HelperClient::connect(path);
    if (!client) std::cerr << "sorvanectl: the helper cannot be reached at " << path << "\n";
    return client;
}

int runOne(const CommandWords::Command& command, bool asJSON) {
    auto client = connectOrComplain();
    if (!client) return exitUnavailable;
    const auto reply = client->call(command.selector, command.arguments);
    if (!reply) {
        std::cerr << "sorvanectl: the helper closed the connection without answering\n";
        return exitUnavailable;
    }
    if (asJSON)
        std::cout << ReplyOutput::jsonLine(ReplyOutput::json(*reply)) << "\n";
    else
        std::cout << ReplyOutput::text(command.selector, *reply);
    std::cout.flush();
    return exitAnswered;
}

// The words of one session line: a JSON array of strings.
std::variant<std::vector<std::string>, std::string> sessionWords(const std::string& line) {
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_array()) return std::string("a line must be a JSON array of words");
    std::vector<std::string> words;
    for (const auto& word : parsed) {
        if (!word.is_string()) return std::string("a line must be a JSON array of words");
        words.push_back(word.get<std::string>());
    }
    return words;
}

// Each input line is one request on one connection; replies are printed as
// they arrive, and at the end of input the replies still due are awaited.
int runSession() {
    auto client = connectOrComplain();
    if (!client) return exitUnavailable;

    std::mutex lock;  // guards lineOf, standard output and the outcome below
    std::map<uint64_t, long> lineOf;
    bool usageErrors = false;
    std::atomic<bool> inputDone{false};

    std::thread receiver([&] {
        while (auto reply = client->receive()) {
            std::lock_guard guard(lock);
            const auto found = lineOf.find(reply->id);
            if (found == lineOf.end()) continue;
            std::cout << "{\"line\": " << found->second
                      << ", \"reply\": " << ReplyOutput::jsonLine(ReplyOutput::json(reply->value)) << "}\n";
            std::cout.flush();
            lineOf.erase(found);
        }
        if (!inputDone) {
            // Dropped while input may still come: nothing more can be answered.
            std::lock_guard guard(lock);
            std::cerr << "sorvanectl: the helper closed the connection\n";
            std::cout.flush();
            ::_exit(exitUnavailable);
        }
    });

    std::string line;
    long number = 0;
    while (std::getline(std::cin, line)) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        auto words = sessionWords(line);
        std::string problem;
        std::optional<CommandWords::Command> command;
        if (auto* list = std::get_if<std::vector<std::string>>(&words)) {
            auto parsed = CommandWords::parse(*list);
            if (auto* chosen = std::get_if<CommandWords::Command>(&parsed))
                command = std::move(*chosen);
            else
                problem = std::get<CommandWords::UsageError>(parsed).message;
        } else {
            problem = std::get<std::string>(words);
        }
        if (!command) {
            std::lock_guard guard(lock);
            usageErrors = true;
            std::cout << "{\"line\": " << number << ", \"error\": " << ReplyOutput::jsonLine(problem) << "}\n";
            std::cout.flush();
            continue;
        }
        // The line is on record before the request leaves, and the lock is not
        // held while sending, so the receiver keeps draining replies meanwhile.
        const uint64_t id = client->newRequestID();
        {
            std::lock_guard guard(lock);
            lineOf.emplace(id, number);
        }
        if (!client->send(id, command->selector, command->arguments)) break;
    }
    inputDone = true;
    client->finishSending();
    receiver.join();

    if (!lineOf.empty()) {
        std::cerr << "sorvanectl: the helper closed the connection before answering every request\n";
        return exitUnavailable;
    }
    return usageErrors ? exitUsage : exitAnswered;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    bool asJSON = false;
    if (!words.empty() && words.front() == "--json") {
        asJSON = true;
        words.erase(words.begin());
    }
    if (!words.empty() && (words.front() == "-h" || words.front() == "--help")) {
        std::cout << CommandWords::usage();
        return exitAnswered;
    }
    if (words.size() == 1 && words.front() == "session") {
        if (asJSON) {
            std::cerr << CommandWords::usage();
            return exitUsage;
        }
        return runSession();
    }
    const auto parsed = CommandWords::parse(words);
    if (const auto* error = std::get_if<CommandWords::UsageError>(&parsed)) {
        std::cerr << "sorvanectl: " << error->message << "\n" << CommandWords::usage();
        return exitUsage;
    }
    return runOne(std::get<CommandWords::Command>(parsed), asJSON);
}
