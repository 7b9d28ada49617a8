#include "shared/LaunchJobFacts.h"

#include "shared/JobPlistFields.h"
#include "shared/PathText.h"
#include "shared/RealPath.h"
#include "shared/UniqueFd.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace {

// A text with a NUL byte names no file: the system would see a shorter path.
bool namesAFile(std::string_view path) { return path.find('\0') == std::string_view::npos; }

std::optional<struct stat> entryOf(std::string_view path) {
    if (!namesAFile(path)) return std::nullopt;
    struct stat st {};
    if (::lstat(std::string(path).c_str(), &st) != 0) return std::nullopt;
    return st;
}

bool groupOrOtherWritable(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }
bool otherWritable(const struct stat& st) { return (st.st_mode & S_IWOTH) != 0; }

// The whole plist file, when it is still the regular file that lstat saw and
// no longer than the limit.
std::optional<std::string> plistBytes(const std::string& path, const struct stat& seen) {
    if (seen.st_size > LaunchJobFacts::plistSizeLimit) return std::nullopt;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino)
        return std::nullopt;

    // One byte past the limit is read so that a file that grew is noticed.
    std::string bytes(static_cast<size_t>(LaunchJobFacts::plistSizeLimit) + 1, '\0');
    size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        filled += static_cast<size_t>(n);
    }
    if (filled > static_cast<size_t>(LaunchJobFacts::plistSizeLimit)) return std::nullopt;
    bytes.resize(filled);
    return bytes;
}

// The property-list reader parses and frees nested containers recursively, at
// about a hundred bytes of stack a level, and a binary plist within the size
// limit can nest some 150,000 levels deep: more than a thread's usual stack.
// So the parse, and the release of what it built, run on a thread of their
// own whose stack holds the deepest plist the limit allows.
constexpr size_t parserStackSize = size_t{64} << 20;

struct ParseJob {
    std::string_view bytes;
    LaunchJobFacts::PlistFields fields;
};

void* parseOnThread(void* argument) {
    auto* job = static_cast<ParseJob*>(argument);
    try {
        job->fields = jobPlistFields(job->bytes);
    } catch (...) {
        job->fields = {};
    }
    return nullptr;
}

}  // namespace

std::optional<ProgramIntegrity> ProgramIntegrity::read(std::string_view programPath) {
    if (programPath.empty() || programPath.front() != '/' || programPath == "/") return std::nullopt;
    auto program = entryOf(programPath);
    if (!program) return std::nullopt;

    std::string folder = PathText::deletingLastPathComponent(programPath);
    auto parent = entryOf(folder);
    if (!parent) return std::nullopt;

    bool underWorldWritable = otherWritable(*parent);
    while (folder != "/") {
        folder = PathText::deletingLastPathComponent(folder);
        if (folder.empty()) break;
        auto above = entryOf(folder);
        if (!above) return std::nullopt;
        underWorldWritable = underWorldWritable || otherWritable(*above);
    }

    return ProgramIntegrity{
        S_ISREG(program->st_mode),     program->st_uid,    groupOrOtherWritable(*program), parent->st_uid,
        groupOrOtherWritable(*parent), underWorldWritable,
    };
}

LaunchJobFacts::PlistFields LaunchJobFacts::parsePlist(std::string_view bytes) {
    if (bytes.size() > static_cast<size_t>(plistSizeLimit)) return {};
    ParseJob job{bytes, {}};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return {};
    pthread_t thread;
    bool started = pthread_attr_setstacksize(&attributes, parserStackSize) == 0 &&
                   pthread_create(&thread, &attributes, parseOnThread, &job) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) return {};
    pthread_join(thread, nullptr);
    return std::move(job.fields);
}

LaunchJobFacts LaunchJobFacts::read(std::string_view plistPath) {
    LaunchJobFacts facts;
    facts.plistPath = std::string(plistPath);

    auto entry = entryOf(plistPath);
    PlistFields fields;
    if (entry && S_ISREG(entry->st_mode)) {
        facts.isRegularFile = true;
        if (auto bytes = plistBytes(facts.plistPath, *entry)) fields = parsePlist(*bytes);
    }
    facts.program = std::move(fields.program);
    if (facts.program) facts.resolvedProgram = realPath(*facts.program);

    facts.resolvedPath = realPath(plistPath);

    if (entry) {
        facts.ownerUID = entry->st_uid;
        facts.writableByOthers = groupOrOtherWritable(*entry);
    }

    facts.label = std::move(fields.label);

    if (facts.resolvedProgram) facts.programIntegrity = ProgramIntegrity::read(*facts.resolvedProgram);
    return facts;
}
