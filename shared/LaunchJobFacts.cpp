#include "shared/LaunchJobFacts.h"

#include "shared/PathText.h"
#include "shared/PlistShape.h"
#include "shared/UniqueFd.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unicode/ustring.h>
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

std::optional<std::string> realPath(std::string_view path) {
    if (!namesAFile(path)) return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(std::string(path).c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
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

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

std::optional<std::string> textValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) return std::string();
    return std::string(text, static_cast<size_t>(length));
}

// "Program" when it is a text; otherwise the first element of
// "ProgramArguments" when that is a non-empty list of texts only.
std::optional<std::string> programOf(plist_t dictionary) {
    if (auto program = textValue(plist_dict_get_item(dictionary, "Program"))) return program;
    plist_t arguments = plist_dict_get_item(dictionary, "ProgramArguments");
    if (arguments == nullptr || plist_get_node_type(arguments) != PLIST_ARRAY) return std::nullopt;
    uint32_t count = plist_array_get_size(arguments);
    if (count == 0) return std::nullopt;
    std::optional<std::string> first;
    for (uint32_t i = 0; i < count; ++i) {
        auto element = textValue(plist_array_get_item(arguments, i));
        if (!element) return std::nullopt;
        if (i == 0) first = std::move(element);
    }
    return first;
}

// A text in UTF-16 of the given byte order as UTF-8; nothing when its length
// is odd or it holds a lone surrogate.
std::optional<std::string> utf8FromUTF16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        const auto high = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
        const auto low = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
        units[i] = static_cast<char16_t>((high << 8) | low);
    }
    // Each unit becomes at most three bytes.
    std::string text(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(text.data(), static_cast<int32_t>(text.size()), &length, units.data(),
                static_cast<int32_t>(units.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    text.resize(static_cast<size_t>(length));
    return text;
}

// A text property list in UTF-8 without a byte-order mark, as libplist reads
// it. The bytes may begin with the UTF-8 mark, or be UTF-16 of either byte
// order, with a mark or recognised by an opening "<?" as XML declares itself.
// Anything else is passed on as it is.
std::optional<std::string> utf8Text(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (bytes.starts_with("\xFE\xFF")) return utf8FromUTF16(bytes.substr(2), true);
    if (bytes.starts_with("\xFF\xFE")) return utf8FromUTF16(bytes.substr(2), false);
    if (bytes.starts_with(std::string_view("\0<\0?", 4))) return utf8FromUTF16(bytes, true);
    if (bytes.starts_with(std::string_view("<\0?\0", 4))) return utf8FromUTF16(bytes, false);
    return std::string(bytes);
}

// The one reader of job plists: binary lists within the object budget, and
// text lists in any of the encodings above. Nothing when the bytes are none
// of these or do not parse.
Plist readPropertyList(std::string_view bytes) {
    plist_t root = nullptr;
    if (bytes.starts_with("bplist")) {
        if (!PlistShape::isWithinObjectBudget(bytes, LaunchJobFacts::plistObjectBudget)) return nullptr;
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
        return Plist(root);
    }
    const auto text = utf8Text(bytes);
    if (!text) return nullptr;
    plist_from_memory(text->data(), static_cast<uint32_t>(text->size()), &root);
    return Plist(root);
}

LaunchJobFacts::PlistFields fieldsOf(std::string_view bytes) {
    LaunchJobFacts::PlistFields fields;
    Plist dictionary = readPropertyList(bytes);
    if (!dictionary || plist_get_node_type(dictionary.get()) != PLIST_DICT) return fields;
    fields.program = programOf(dictionary.get());
    fields.label = textValue(plist_dict_get_item(dictionary.get(), "Label"));
    return fields;
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
        job->fields = fieldsOf(job->bytes);
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
        S_ISREG(program->st_mode), program->st_uid,   groupOrOtherWritable(*program),
        parent->st_uid,            groupOrOtherWritable(*parent), underWorldWritable,
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
