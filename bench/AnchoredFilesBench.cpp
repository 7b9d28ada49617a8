// Times AnchoredFiles::remove against `rm -rf`, and AnchoredFiles::moveToTrash
// against `mv` followed by `chown -R`, on identical fresh trees in one folder,
// alternating, and prints one JSON line with the medians of the elapsed times.
// Both sides meet the same state: each tree is made just before its side runs
// and flushed to the disk, so neither finds the other's work still pending.
//
// On a loaded machine the elapsed time also counts the waits for a processor.
// Standard error shows every run, the processor time of each side (this
// process, or the tools it started and waited for) and the ratio of each
// run's pair, which the load skews much less.
//
//   AnchoredFilesBench remove BENCH_NAME FOLDER [RUNS]
//   AnchoredFilesBench trash BENCH_NAME FOLDER [RUNS]
#include "platform/os/ChildProcess.h"
#include "shared/AnchoredFiles.h"
#include "shared/PathText.h"
#include "shared/UniqueFd.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uid_t benchUser = 501;
constexpr gid_t benchGroup = 20;

[[noreturn]] void fail(const std::string& what) {
    std::perror(what.c_str());
    std::exit(1);
}

UniqueFd openFolder(int at, const std::string& name) {
    UniqueFd fd(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) fail("open " + name);
    return fd;
}

// `fanout` folders on each of `depth` levels; each folder of the last level
// holds `files` empty files.
void makeTree(int at, const std::string& name, int depth, int fanout, int files) {
    if (::mkdirat(at, name.c_str(), 0755) != 0) fail("mkdir " + name);
    UniqueFd folder = openFolder(at, name);
    if (depth == 0) {
        char file[32];
        for (int i = 0; i < files; ++i) {
            std::snprintf(file, sizeof file, "file-%03d", i);
            UniqueFd created(::openat(folder.get(), file, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
            if (!created) fail(std::string("create ") + file);
        }
        return;
    }
    for (int i = 0; i < fanout; ++i) makeTree(folder.get(), "dir-" + std::to_string(i), depth - 1, fanout, files);
}

// Elapsed and processor seconds of one side of one run.
struct Timing {
    double elapsed = 0;
    double processor = 0;
};

// Processor seconds used so far by this process, or by the children it has
// waited for.
double processorSeconds(int who) {
    struct rusage usage {};
    if (::getrusage(who, &usage) != 0) fail("getrusage");
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// `who` is RUSAGE_SELF for work done here, RUSAGE_CHILDREN for tools run.
Timing timingOf(int who, const std::function<void()>& work) {
    const double processorBefore = processorSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    work();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return Timing{elapsed, processorSeconds(who) - processorBefore};
}

void runTool(const std::string& tool, const std::vector<std::string>& arguments) {
    ChildProcess::Result result = ChildProcess::run(tool, arguments, ChildProcess::Streams::merged);
    if (!result.launched || result.status != 0) {
        std::fprintf(stderr, "%s failed (%d): %s%s\n", tool.c_str(), result.status, result.launchError.c_str(),
                     result.output.c_str());
        std::exit(1);
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void syncFolder(int folder) {
    if (::syncfs(folder) != 0) fail("syncfs");
}

// Every run on standard error, for a look at the spread, then the figures
// that the load skews less; the JSON line on standard output.
void report(const std::string& bench, const std::vector<Timing>& ours, const std::string& anchor,
            const std::vector<Timing>& anchors) {
    std::vector<double> oursElapsed, anchorElapsed, oursProcessor, anchorProcessor, pairRatios;
    std::fprintf(stderr, "%s runs, elapsed (ours / anchor):", bench.c_str());
    for (size_t i = 0; i < ours.size() && i < anchors.size(); ++i) {
        std::fprintf(stderr, " %.3f/%.3f", ours[i].elapsed, anchors[i].elapsed);
        oursElapsed.push_back(ours[i].elapsed);
        anchorElapsed.push_back(anchors[i].elapsed);
        oursProcessor.push_back(ours[i].processor);
        anchorProcessor.push_back(anchors[i].processor);
        pairRatios.push_back(ours[i].elapsed / anchors[i].elapsed);
    }
    std::sort(pairRatios.begin(), pairRatios.end());
    std::fprintf(stderr,
                 "\n%s ratio of each run's pair: median %.3f, from %.3f to %.3f; processor seconds, median: "
                 "%.4f / %.4f (ratio %.3f)\n",
                 bench.c_str(), median(pairRatios), pairRatios.front(), pairRatios.back(), median(oursProcessor),
                 median(anchorProcessor), median(oursProcessor) / median(anchorProcessor));

    const double value = median(oursElapsed), anchorValue = median(anchorElapsed);
    std::printf(
        "{\"bench\": \"%s\", \"metric\": \"seconds\", \"value\": %.6f, \"unit\": \"s\", \"anchor\": \"%s\", "
        "\"anchor_value\": %.6f, \"ratio\": %.4f}\n",
        bench.c_str(), value, anchor.c_str(), anchorValue, value / anchorValue);
}

// 1,000 folders of 100 files, three levels of 10 folders.
void benchRemove(const std::string& bench, const std::string& base, int runs) {
    UniqueFd folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) fail("open " + base);
    std::vector<Timing> ours, anchor;
    for (int run = 0; run < runs; ++run) {
        for (int side = 0; side < 2; ++side) {
            const std::string name = "tree-" + std::to_string(run) + "-" + std::to_string(side);
            makeTree(folder.get(), name, 3, 10, 100);
            syncFolder(folder.get());
            // Alternate which side goes first, so neither always meets a fresher cache.
            if ((side == 0) == (run % 2 == 0))
                ours.push_back(timingOf(RUSAGE_SELF, [&] { AnchoredFiles::remove(name, base); }));
            else
                anchor.push_back(timingOf(RUSAGE_CHILDREN, [&] {
                    runTool("/bin/rm", {"-rf", PathText::joined(base, name)});
                }));
        }
    }
    report(bench, ours, "rm -rf", anchor);
}

// 100 folders of 100 files (two levels of 10) into the Trash of a home folder
// owned by the user.
void benchTrash(const std::string& bench, const std::string& base, int runs) {
    const std::string home = PathText::joined(base, "home");
    const std::string trash = PathText::joined(home, std::string(AnchoredFiles::trashName));
    if (::mkdir(home.c_str(), 0750) != 0 || ::chown(home.c_str(), benchUser, benchGroup) != 0) fail("home");
    if (::mkdir(trash.c_str(), 0700) != 0 || ::chown(trash.c_str(), benchUser, benchGroup) != 0) fail("trash");
    UniqueFd folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) fail("open " + base);

    std::vector<Timing> ours, anchor;
    for (int run = 0; run < runs; ++run) {
        for (int side = 0; side < 2; ++side) {
            const std::string name = "tree-" + std::to_string(run) + "-" + std::to_string(side);
            makeTree(folder.get(), name, 2, 10, 100);
            syncFolder(folder.get());
            if ((side == 0) == (run % 2 == 0)) {
                ours.push_back(timingOf(RUSAGE_SELF, [&] {
                    if (AnchoredFiles::moveToTrash(name, base, home, benchUser, benchGroup) != name)
                        throw std::runtime_error("unexpected name in the Trash");
                }));
            } else {
                const std::string landed = PathText::joined(trash, name);
                anchor.push_back(timingOf(RUSAGE_CHILDREN, [&] {
                    runTool("/bin/mv", {PathText::joined(base, name), landed});
                    runTool("/bin/chown", {"-R", std::to_string(benchUser) + ":" + std::to_string(benchGroup), landed});
                }));
            }
        }
    }
    report(bench, ours, "mv + chown -R", anchor);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: %s remove|trash BENCH_NAME FOLDER [RUNS]\n", argv[0]);
        return 64;
    }
    const std::string mode = argv[1], bench = argv[2], base = argv[3];
    const int runs = argc == 5 ? std::max(1, std::atoi(argv[4])) : 11;
    try {
        if (mode == "remove")
            benchRemove(bench, base, runs);
        else if (mode == "trash")
            benchTrash(bench, base, runs);
        else
            return 64;
    } catch (const AnchoredFiles::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.description().c_str());
        return 1;
    }
    return 0;
}
