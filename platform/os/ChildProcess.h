#pragma once

#include <string>
#include <vector>

// Runs a fixed executable as a child process: no shell, no search along PATH,
// environment, working folder and standard input inherited.
namespace ChildProcess {

enum class Streams {
    separate,  // standard output and standard error on two pipes
    merged,    // both on one pipe, arriving as one byte stream in `output`
};

struct Result {
    bool launched = false;    // false: the child could not be started
    std::string launchError;  // the system's message when it could not be started
    int status = -1;          // exit code, or the signal number for a child ended by a signal
    std::string output;       // raw bytes of standard output (both streams when merged)
    std::string error;        // raw bytes of standard error (empty when merged)
};

// Runs `executable` (an absolute path) with `arguments` (argv[1...]), drains
// both streams at the same time until end of file, then waits for the child.
Result run(const std::string& executable, const std::vector<std::string>& arguments, Streams streams);

}  // namespace ChildProcess
