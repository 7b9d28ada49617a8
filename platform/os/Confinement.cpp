#include "platform/os/Confinement.h"

#include "platform/admission/PeerExecutable.h"
#include "shared/StorageRemovalPolicy.h"
#include "shared/UnicodeText.h"

#include <dirent.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

// Rights and fields of Landlock versions newer than the system's headers.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace Confinement {

namespace {

// The top-level folders of a Mac-shaped root below which requests remove
// items, make Trash folders and move items into them.
constexpr std::array<std::string_view, 5> macFolders = {"applications", "library", "private", "users", "volumes"};

// The kernel follows at most this many interpreters when it starts a program.
constexpr int maxInterpreters = 4;
// What the kernel reads of a file to find a script's interpreter.
constexpr std::size_t scriptHeaderSize = 256;

// The ruleset attributes of the newest version used here; older kernels take
// the longer record as long as the fields they do not know are zero.
struct RulesetAttributes {
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};

constexpr std::uint64_t changeRights =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM | LANDLOCK_ACCESS_FS_REFER;

int landlockVersion() {
    const long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return version < 0 ? 0 : static_cast<int>(version);
}

// Version 1 cannot allow a rename from one folder into another (a move into
// a Trash), so it is not used.
RulesetAttributes attributesFor(int version) {
    RulesetAttributes attributes;
    if (version < 2) return attributes;
    attributes.handledAccessFs = LANDLOCK_ACCESS_FS_EXECUTE | changeRights;
    if (version >= 3) attributes.handledAccessFs |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (version >= 6) attributes.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
    return attributes;
}

bool addRule(int ruleset, int target, std::uint64_t rights) {
    landlock_path_beneath_attr rule{};
    rule.allowed_access = rights;
    rule.parent_fd = target;
    return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

std::vector<std::string> topLevelFolders(const std::string& root) {
    std::vector<std::string> names;
    UniqueFd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(folder.get()), ::closedir);
    if (!listing) return names;
    folder.release();  // closed with the listing
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status;
        if (::fstatat(::dirfd(listing.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(status.st_mode)) {
            names.emplace_back(name);
        }
    }
    return names;
}

bool libelfReady() {
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

// The interpreter named by a "#!" line, as the kernel reads it: the first
// word after "#!" and any blanks.
std::optional<std::string> scriptInterpreter(int fd) {
    std::array<char, scriptHeaderSize> header{};
    const ssize_t length = ::pread(fd, header.data(), header.size(), 0);
    if (length < 2 || header[0] != '#' || header[1] != '!') return std::nullopt;
    const std::string_view text(header.data(), static_cast<std::size_t>(length));
    const std::size_t begin = text.find_first_not_of(" \t", 2);
    if (begin == std::string_view::npos) return std::nullopt;
    const std::size_t end = text.find_first_of(std::string_view(" \t\n\0", 4), begin);
    return std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
}

// The program interpreter (dynamic loader) an ELF executable names.
std::optional<std::string> elfInterpreter(int fd) {
    if (!libelfReady()) return std::nullopt;
    const std::unique_ptr<Elf, int (*)(Elf*)> elf(elf_begin(fd, ELF_C_READ, nullptr), elf_end);
    std::size_t count = 0;
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF || elf_getphdrnum(elf.get(), &count) != 0) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (gelf_getphdr(elf.get(), static_cast<int>(i), &header) == nullptr || header.p_type != PT_INTERP) continue;
        if (header.p_filesz < 2 || header.p_filesz > PATH_MAX) return std::nullopt;
        std::string path(header.p_filesz, '\0');
        if (::pread(fd, path.data(), path.size(), static_cast<off_t>(header.p_offset)) !=
            static_cast<ssize_t>(path.size())) {
            return std::nullopt;
        }
        path.resize(path.find('\0') == std::string::npos ? path.size() : path.find('\0'));
        return path;
    }
    return std::nullopt;
}

// Lets `program` be executed, with each file its start goes through: the
// program itself, then its interpreter, and so on. Each counts only when it
// was installed by root, and the right goes to the very file checked.
void allowExecution(int ruleset, const std::string& program) {
    std::string path = program;
    for (int step = 0; step <= maxInterpreters && !path.empty() && path.front() == '/'; ++step) {
        const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!file) return;
        std::array<char, PATH_MAX> resolved{};
        const std::string link = "/proc/self/fd/" + std::to_string(file.get());
        const ssize_t length = ::readlink(link.c_str(), resolved.data(), resolved.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= resolved.size()) return;
        const std::string real(resolved.data(), static_cast<std::size_t>(length));
        if (!PeerExecutable::isInstalledByRoot(file.get(), real)) return;
        if (!addRule(ruleset, file.get(), LANDLOCK_ACCESS_FS_EXECUTE)) return;
        std::optional<std::string> next = scriptInterpreter(file.get());
        if (!next) next = elfInterpreter(file.get());
        if (!next) return;
        path = *next;
    }
}

// The one thread that stays outside the confinement. It opens process
// executables and nothing else; it lives as long as the process.
class ExecutableOpener {
public:
    ExecutableOpener() {
        std::thread([this] { serve(); }).detach();
    }

    UniqueFd open(pid_t pid) {
        const std::lock_guard caller(callers_);
        std::unique_lock lock(mutex_);
        asked_ = pid;
        answer_.reset();
        wake_.notify_all();
        wake_.wait(lock, [this] { return answer_.has_value(); });
        return UniqueFd(*answer_);
    }

private:
    [[noreturn]] void serve() {
        for (;;) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return asked_.has_value(); });
            const std::string link = "/proc/" + std::to_string(*asked_) + "/exe";
            asked_.reset();
            answer_ = ::open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
            wake_.notify_all();
        }
    }

    std::mutex callers_;  // one question at a time
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<pid_t> asked_;
    std::optional<int> answer_;
};

// Set once by `apply`, before the process has a second thread.
ExecutableOpener* opener = nullptr;

}  // namespace

std::vector<std::string> changeableFolders(const std::vector<std::string>& topLevelFolders) {
    const auto among = [](const auto& table, const std::string& key) {
        return std::find(table.begin(), table.end(), key) != table.end();
    };
    std::vector<std::string> folders;
    for (const std::string& name : topLevelFolders) {
        const std::string key = UnicodeText::lowercased(name);
        const bool other = !key.starts_with('.') && !among(StorageRemovalPolicy::rootLayout, key) &&
                           !among(StorageRemovalPolicy::hostFolders, key);
        if (among(macFolders, key) || other) folders.push_back(name);
    }
    for (const std::string_view exception : StorageRemovalPolicy::systemPrefixExceptions) {
        folders.emplace_back(exception.substr(1));
    }
    return folders;
}

int apply(const std::string& root, const std::vector<std::string>& programs) {
    const int version = landlockVersion();
    const RulesetAttributes attributes = attributesFor(version);
    if (attributes.handledAccessFs == 0) return 0;
    const UniqueFd ruleset(static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0)));
    if (!ruleset) return 0;

    const std::uint64_t change = attributes.handledAccessFs & ~std::uint64_t{LANDLOCK_ACCESS_FS_EXECUTE};
    const std::string base = root.ends_with('/') ? root : root + "/";
    for (const std::string& name : changeableFolders(topLevelFolders(root))) {
        const UniqueFd folder(::open((base + name).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (folder) addRule(ruleset.get(), folder.get(), change);
    }
    for (const std::string& program : programs) allowExecution(ruleset.get(), program);

    // Children gain no privileges on exec (they run as root already); it also
    // lets the kernel accept the confinement without CAP_SYS_ADMIN.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return 0;
    if (opener == nullptr) opener = new ExecutableOpener;
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) return 0;
    return version;
}

UniqueFd openProcessExecutable(pid_t pid) {
    if (opener != nullptr) return opener->open(pid);
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    return UniqueFd(::open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
}

}  // namespace Confinement
