#include "support/HelperProcess.h"
#include "support/SanitizerBuild.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace HelperProcess {

namespace {

int entriesIn(const std::string& folder) {
    std::error_code error;
    const auto count = std::distance(std::filesystem::directory_iterator(folder, error), {});
    return error ? -1 : static_cast<int>(count);
}

// A "Vm...:" figure of the status file, in KiB.
long statusFigure(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(key)) return std::stol(line.substr(key.size()));
    return -1;
}

}  // namespace

Resources of(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    return {entriesIn(proc + "/fd"), entriesIn(proc + "/task"), statusFigure(pid, "VmRSS:"),
            statusFigure(pid, "VmHWM:")};
}

Resources settled(pid_t pid, std::optional<Resources> baseline) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    Resources last = of(pid);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Resources now = of(pid);
        const bool done = baseline ? now.descriptors <= baseline->descriptors && now.threads <= baseline->threads
                                   : now.descriptors == last.descriptors && now.threads == last.threads;
        last = now;
        if (done) break;
    }
    return last;
}

long residentToleranceKiB(const Resources& before) { return churnToleranceKiB(8 * 1024 + before.residentKiB / 4); }

// AddressSanitizer's quarantine and ThreadSanitizer's shadow and history keep
// memory that a plain build gives back: their builds get a loose bound.
long churnToleranceKiB(long plain) { return addressSanitizerBuild || threadSanitizerBuild ? 512 * 1024 : plain; }

}  // namespace HelperProcess
