#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

// The sandbox's users and the application's command-line client, run on their
// behalf. The sandbox (script/sandbox) provides the users, installs sorvanectl
// in /usr/local/bin and serves the helper on its socket.
namespace SandboxUsers {

struct User {
    uid_t uid;
    gid_t gid;
    const char* name;
};

inline constexpr User root{0, 0, "root"};
inline constexpr User ann{501, 20, "ann"};        // home /Users/ann
inline constexpr User bob{502, 20, "bob"};        // home /Users/bob
inline constexpr User nohome{503, 20, "nohome"};  // home /var/empty

inline constexpr const char* sorvanectlPath = "/usr/local/bin/sorvanectl";
inline constexpr const char* helperSocketPath = "/var/run/com.kelto.Sorvane.Helper";

struct ToolRun {
    int status = -1;       // exit code
    std::string output;    // standard output
    std::string error;     // standard error
    nlohmann::json reply;  // the --json reply line, null when there was none
};

// Runs `program` (an absolute path, sorvanectl by default) as `user` with
// "--json" and `arguments`, and parses the reply line.
ToolRun ctl(const User& user, const std::vector<std::string>& arguments, const std::string& program = sorvanectlPath);

// The removal requests through sorvanectl; the reply as a map. Fails the test
// when sorvanectl did not answer with an object of texts.
using Outcome = std::map<std::string, std::string>;
Outcome removeItems(const User& user, const std::vector<std::string>& paths, bool toTrash);
Outcome removeChosenItems(const User& user, const std::vector<std::string>& paths, bool toTrash);

// Runs any program as `user` (root: unchanged) with `arguments`; `input` is
// written to its standard input.
ToolRun runAs(const User& user, const std::string& program, const std::vector<std::string>& arguments,
              const std::string& input = "");

// One `sorvanectl session` of `user`: the requests (each a JSON array of
// words), and the reply lines in the order they arrived, each
// {"line": N, "reply": VALUE}.
std::vector<nlohmann::json> session(const User& user, const std::vector<nlohmann::json>& requests);

// The runs of the stand-in tools that the sandbox recorded, each
// {"tool": NAME, "args": [...], "euid": N}; `clearToolRuns` starts the record anew.
std::vector<nlohmann::json> toolRuns();
void clearToolRuns();

// The helper's process number, as the sandbox recorded it; 0 when unknown.
pid_t helperPid();

}  // namespace SandboxUsers
