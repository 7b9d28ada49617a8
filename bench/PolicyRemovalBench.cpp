// Decisions a second of SafetyPolicy::privilegedRemovalAllowed over a fixed mix
// of 1,000 realistic paths: found items in every kind of removal root, allowed
// and refused, ASCII and not, some judged through a holding folder elsewhere.
// Also counts the heap allocations that the all-ASCII decisions make.
#include "shared/PathText.h"
#include "shared/SafetyPolicy.h"
#include "shared/UnicodeText.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

std::atomic<long> heapAllocations{0};

void* counted(std::size_t size, std::size_t alignment) {
    heapAllocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    void* block = alignment > alignof(std::max_align_t)
                      ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                      : std::malloc(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

}  // namespace

void* operator new(std::size_t size) { return counted(size, 0); }
void* operator new[](std::size_t size) { return counted(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return counted(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return counted(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }

namespace {

struct Decision {
    std::string path;
    std::string holdingFolder;
    std::optional<std::string> home;
};

// A path with "#" standing for a varying part, the holding folder ("" for the
// path's own), and the client's home folder ("" for none).
struct Template {
    const char* path;
    const char* holdingFolder;
    const char* home;
};

constexpr Template templates[] = {
    // Allowed, ASCII.
    {"/Library/Caches/com.example.app#", "", "/Users/ann"},
    {"/Library/Caches/com.example.app#/Cache.db", "", "/Users/ann"},
    {"/Library/Application Support/Example#/data", "", "/Users/ann"},
    {"/Library/Logs/DiagnosticReports/Example#.crash", "", ""},
    {"/Library/LaunchAgents/com.example.agent#.plist", "", "/Users/bob"},
    {"/Library/Preferences/com.example.app#.plist", "", "/Users/bob"},
    {"/Users/ann/Library/Caches/com.example.app#", "", "/Users/ann"},
    {"/Users/ann/Library/Application Support/Example#", "", "/Users/ann/"},
    {"/Users/bob/Downloads/setup#.dmg", "", "/Users/bob"},
    {"/Users/bob/.npm/_cacache/index#", "", "/Users/bob"},
    {"/Applications/Example#.app", "", "/Users/ann"},
    {"/Applications/Games/Example#.app", "", "/Users/ann"},
    {"/private/var/folders/xy/abc#/T/tmp#", "", "/Users/ann"},
    {"/private/tmp/example#.log", "", ""},
    {"/usr/local/bin/example#", "", "/Users/ann"},
    {"/Users/Shared/Example#", "", ""},
    {"/private/var/db/receipts/com.example.pkg#.bom", "", "/Users/ann"},
    {"/Library/Audio/Plug-Ins/VST3/Example#.vst3", "", "/Users/ann"},
    {"/Library/Caches/com.example.app#/x", "/private/tmp", "/Users/ann"},
    // Refused, ASCII.
    {"/Library/Caches/com.apple.example#", "", "/Users/ann"},
    {"/System/Library/Example#", "", "/Users/ann"},
    {"/Library/Fonts/Example#.ttf", "", "/Users/ann"},
    {"/Users/alice/Documents/report#.pdf", "", "/Users/ann"},
    {"/Users/ann/Library/Containers", "", "/Users/ann"},
    {"/Applications/Example#.app/Contents/Info.plist", "", "/Users/ann"},
    {"/usr/local/lib/pkgconfig/example#.pc", "", ""},
    {"/private/var/log/asl/example#.asl", "", ""},
    {"/tmp/example#", "/private/tmp", "/Users/ann"},
    {"/Library/Caches/Example#/x", "/System/Library", "/Users/ann"},
    {"/Volumes/Backup/example#", "", "/Users/ann"},
    {"/Library/Caches/Example#/", "", "/Users/ann"},
    {"/Users/bob/Library/com.apple.example#", "", "/Users/bob"},
    // Not ASCII.
    {"/Library/Caches/Caf\xC3\xA9#", "", "/Users/ann"},
    {"/Users/Jos\xC3\xA9/Documents/r\xC3\xA9sum\xC3\xA9#.pdf", "", "/Users/Jose\xCC\x81"},
    {"/Library/Application Support/\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9#/donn\xC3\xA9\x65s", "", "/Users/ann"},
    {"/Users/ann/Desktop/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E#.txt", "", "/Users/ann"},
    {"/Library/\xE2\x84\xAA"
     "eychains/x#",
     "", "/Users/ann"},
    {"/Applications/Cafe\xCC\x81#.app", "", "/Users/ann"},
    {"/Library/Caches/COM.APPLE.\xE1\xB8\x9Eoo#", "", "/Users/ann"},
    {"/Users/bob/Library/Caches/\xCE\xA3\xCE\xAF\xCF\x83\xCF\x85\xCF\x86\xCE\xBF\xCF\x82#", "", "/Users/bob"},
};

std::string withVariant(std::string text, int variant) {
    const std::string part = std::to_string(variant);
    for (size_t at = text.find('#'); at != std::string::npos; at = text.find('#', at + part.size()))
        text.replace(at, 1, part);
    return text;
}

// 40 templates, 25 variants each.
const std::vector<Decision>& mix() {
    static const std::vector<Decision> decisions = [] {
        std::vector<Decision> out;
        for (int variant = 0; variant < 25; ++variant) {
            for (const Template& t : templates) {
                Decision d;
                d.path = withVariant(t.path, variant);
                d.holdingFolder =
                    *t.holdingFolder ? std::string(t.holdingFolder) : PathText::deletingLastPathComponent(d.path);
                if (*t.home) d.home = t.home;
                out.push_back(std::move(d));
            }
        }
        return out;
    }();
    return decisions;
}

bool isASCII(const Decision& d) {
    return UnicodeText::isASCII(d.path) && UnicodeText::isASCII(d.holdingFolder) &&
           (!d.home || UnicodeText::isASCII(*d.home));
}

std::vector<Decision> selected(bool ascii) {
    std::vector<Decision> out;
    for (const Decision& d : mix())
        if (isASCII(d) == ascii) out.push_back(d);
    return out;
}

bool decide(const Decision& d) {
    std::optional<std::string_view> home;
    if (d.home) home = *d.home;
    return SafetyPolicy::privilegedRemovalAllowed(d.path, d.holdingFolder, home);
}

void run(benchmark::State& state, const std::vector<Decision>& decisions) {
    for (const Decision& d : decisions) decide(d);  // builds the tables
    long allowed = 0;
    const long allocationsBefore = heapAllocations.load();
    for (auto _ : state) {
        for (const Decision& d : decisions) {
            bool answer = decide(d);
            benchmark::DoNotOptimize(answer);
            allowed += answer;
        }
    }
    const long allocations = heapAllocations.load() - allocationsBefore;
    const double count = static_cast<double>(state.iterations()) * static_cast<double>(decisions.size());
    state.SetItemsProcessed(static_cast<int64_t>(count));
    state.counters["paths"] = static_cast<double>(decisions.size());
    state.counters["allowed_share"] = static_cast<double>(allowed) / count;
    state.counters["allocations_per_decision"] = static_cast<double>(allocations) / count;
}

void Mix(benchmark::State& state) { run(state, mix()); }
void Ascii(benchmark::State& state) {
    static const std::vector<Decision> decisions = selected(true);
    run(state, decisions);
}
void NotAscii(benchmark::State& state) {
    static const std::vector<Decision> decisions = selected(false);
    run(state, decisions);
}

BENCHMARK(Mix);
BENCHMARK(Ascii);
BENCHMARK(NotAscii);

}  // namespace
