#include "shared/LaunchJobFacts.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <pthread.h>
#include <unicode/ustring.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

void PrintTo(const ProgramIntegrity& p, std::ostream* out) {
    *out << "{regular " << p.isRegularFile << ", owner " << p.ownerUID << ", writable " << p.writableByOthers
         << ", parent owner " << p.parentOwnerUID << ", parent writable " << p.parentWritableByOthers
         << ", under world-writable " << p.underWorldWritableFolder << "}";
}

void PrintTo(const LaunchJobFacts& f, std::ostream* out) {
    auto text = [](const std::optional<std::string>& t) { return t ? "\"" + *t + "\"" : std::string("none"); };
    *out << "{" << f.plistPath << ", resolved " << text(f.resolvedPath) << ", regular " << f.isRegularFile
         << ", owner " << (f.ownerUID ? std::to_string(*f.ownerUID) : "none") << ", writable "
         << f.writableByOthers << ", label " << text(f.label) << ", program " << text(f.program) << ", resolved "
         << text(f.resolvedProgram) << ", integrity ";
    if (f.programIntegrity)
        PrintTo(*f.programIntegrity, out);
    else
        *out << "none";
    *out << "}";
}

namespace {

namespace fs = std::filesystem;
using Text = std::optional<std::string>;

std::string xmlPlist(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
)" + body + "\n</plist>\n";
}

std::string repeated(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::string xmlDictionary(const std::string& entries) { return xmlPlist("<dict>" + entries + "</dict>"); }

// The same dictionary as a binary property list.
std::string binaryPlist(const std::string& xml) {
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string out(bytes, length);
    plist_to_bin_free(bytes);
    plist_free(root);
    return out;
}

// A binary plist {Label: label, Pad: [[[...[]...]]]} nested `depth` levels
// deep, written with 3-byte object references and offsets (7 bytes a level).
std::string deeplyNestedBinaryPlist(const std::string& label, uint32_t depth) {
    std::vector<std::string> objects;
    auto ref = [](uint32_t n) { return std::string{char(n >> 16), char(n >> 8), char(n)}; };
    objects.push_back("\xD2" + ref(1) + ref(2) + ref(3) + ref(4));
    objects.push_back("\x55Label");
    objects.push_back("\x53Pad");
    objects.push_back(std::string(1, char(0x50 + label.size())) + label);
    for (uint32_t i = 0; i < depth; ++i) objects.push_back(i + 1 < depth ? "\xA1" + ref(5 + i) : "\xA0");
    std::string bytes = "bplist00", offsets;
    for (const auto& object : objects) {
        offsets += ref(static_cast<uint32_t>(bytes.size()));
        bytes += object;
    }
    uint64_t table = bytes.size();
    bytes += offsets;
    bytes += std::string(6, '\0') + "\x03\x03";
    for (uint64_t value : {uint64_t{objects.size()}, uint64_t{0}, table})
        for (int shift = 56; shift >= 0; shift -= 8) bytes += char(value >> shift);
    return bytes;
}

// The same XML text declared and written as UTF-16, with or without the
// byte-order mark.
std::string utf16(std::string xml, bool bigEndian, bool marked) {
    xml.replace(xml.find("UTF-8"), 5, "UTF-16");
    std::u16string units(xml.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(units.data(), static_cast<int32_t>(units.size()), &length, xml.data(),
                  static_cast<int32_t>(xml.size()), &status);
    units.resize(static_cast<size_t>(length));
    if (marked) units.insert(units.begin(), u'\uFEFF');
    std::string out;
    for (char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

class LaunchJobFactsOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "launch-facts.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        program = (folder / "job").string();
        write("job", "#!/bin/sh\n");
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string write(const std::string& name, const std::string& bytes) {
        fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path folder;
    std::string program;
};

// Every encoding the platform's reader takes: binary, and XML in UTF-8 or
// UTF-16 of either byte order, with or without a byte-order mark.
TEST_F(LaunchJobFactsOnDisk, LabelAndProgramFromXMLAndBinaryPlists) {
    const std::string p = "<string>" + program + "</string>";
    const std::tuple<const char*, std::string, Text, Text> cases[] = {
        {"Label and Program", "<key>Label</key><string>com.example.job</string><key>Program</key>" + p,
         "com.example.job", program},
        {"ProgramArguments", "<key>ProgramArguments</key><array>" + p + "<string>-x</string></array>", std::nullopt,
         program},
        {"Program wins", "<key>Program</key>" + p + "<key>ProgramArguments</key><array><string>/bin/other</string></array>",
         std::nullopt, program},
        {"Program of another type", "<key>Program</key><integer>1</integer><key>ProgramArguments</key><array>" + p +
                                        "<string>/bin/other</string></array>",
         std::nullopt, program},
        {"empty ProgramArguments", "<key>ProgramArguments</key><array/>", std::nullopt, std::nullopt},
        {"ProgramArguments with a number", "<key>ProgramArguments</key><array>" + p + "<integer>2</integer></array>",
         std::nullopt, std::nullopt},
        {"ProgramArguments not a list", "<key>ProgramArguments</key>" + p, std::nullopt, std::nullopt},
        {"Label of another type", "<key>Label</key><integer>7</integer>", std::nullopt, std::nullopt},
        {"Label as data", "<key>Label</key><data>YWJj</data>", std::nullopt, std::nullopt},
        {"non-ASCII label", "<key>Label</key><string>caf\u00e9</string>", "caf\u00e9", std::nullopt},
    };
    for (const auto& [name, entries, label, programText] : cases) {
        std::string xml = xmlDictionary(entries);
        for (const auto& bytes : {xml, "\xEF\xBB\xBF" + xml, utf16(xml, false, true), utf16(xml, true, true),
                                  utf16(xml, false, false), binaryPlist(xml)}) {
            auto facts = LaunchJobFacts::read(write("job.plist", bytes));
            EXPECT_TRUE(facts.isRegularFile) << name;
            EXPECT_EQ(facts.label, label) << name;
            EXPECT_EQ(facts.program, programText) << name;
            EXPECT_EQ(facts.resolvedProgram, programText) << name;
            EXPECT_EQ(facts.programIntegrity.has_value(), programText.has_value()) << name;
        }
    }
}

TEST_F(LaunchJobFactsOnDisk, UnreadablePlistsKeepTheFactsOfTheirEntry) {
    const std::pair<const char*, std::string> cases[] = {
        {"top-level list", xmlPlist("<array><string>Label</string></array>")},
        {"top-level text", xmlPlist("<string>x</string>")},
        {"not a plist", "Label = com.example.job\n"},
        {"JSON", R"({"Label": "com.example.job"})"},
        {"truncated binary", binaryPlist(xmlDictionary("<key>Label</key><string>x</string>")).substr(0, 20)},
        {"empty", ""},
        {"deep nesting", xmlPlist(repeated("<array>", 100000))},
    };
    for (const auto& [name, bytes] : cases) {
        std::string path = write("job.plist", bytes);
        ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
        auto facts = LaunchJobFacts::read(path);
        EXPECT_EQ(facts, (LaunchJobFacts{path, fs::canonical(path).string(), true, ::geteuid(), true, std::nullopt,
                                         std::nullopt, std::nullopt, std::nullopt}))
            << name;
    }
}

TEST_F(LaunchJobFactsOnDisk, DeepNestingDoesNotExhaustTheCallersStack) {
    // 10,000 levels take about a megabyte of the reader's stack; the caller
    // here has a quarter of that.
    struct Job {
        std::string path;
        std::optional<std::string> label;
    } job{write("deep.plist", deeplyNestedBinaryPlist("deep", 10000)), std::nullopt};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    auto body = [](void* argument) -> void* {
        auto* j = static_cast<Job*>(argument);
        j->label = LaunchJobFacts::read(j->path).label;
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(job.label, "deep");
    EXPECT_EQ(LaunchJobFacts::parsePlist(deeplyNestedBinaryPlist("shallow", 3)).label, "shallow");
}

TEST_F(LaunchJobFactsOnDisk, PlistSizeLimit) {
    const std::string head = "<key>Label</key><string>big</string><key>Pad</key><string>";
    const std::string tail = "</string>";
    const size_t frame = xmlDictionary(head + tail).size();
    for (size_t size : {size_t{1048575}, size_t{1048576}}) {
        std::string bytes = xmlDictionary(head + std::string(size - frame, 'p') + tail);
        ASSERT_EQ(bytes.size(), size);
        auto facts = LaunchJobFacts::read(write("big.plist", bytes));
        EXPECT_TRUE(facts.isRegularFile) << size;
        EXPECT_EQ(facts.label, size == 1048575 ? Text("big") : std::nullopt) << size;
    }
}

TEST_F(LaunchJobFactsOnDisk, SymbolicLinkAndMissingFiles) {
    std::string target = write("real.plist", xmlDictionary("<key>Label</key><string>x</string>"));
    fs::path link = folder / "link.plist";
    fs::create_symlink(target, link);
    ASSERT_EQ(::lchown(link.c_str(), 501, 20), 0);
    auto linked = LaunchJobFacts::read(link.string());
    // A link's own mode is 0777.
    EXPECT_EQ(linked, (LaunchJobFacts{link.string(), fs::canonical(target).string(), false, 501u, true,
                                      std::nullopt, std::nullopt, std::nullopt, std::nullopt}));

    std::string missing = (folder / "none.plist").string();
    EXPECT_EQ(LaunchJobFacts::read(missing), (LaunchJobFacts{missing, std::nullopt, false, std::nullopt, false,
                                                             std::nullopt, std::nullopt, std::nullopt,
                                                             std::nullopt}));

    // A folder is not a regular file, but its owner and mode still count.
    fs::create_directory(folder / "dir.plist");
    ::chmod((folder / "dir.plist").c_str(), 0777);
    auto directory = LaunchJobFacts::read((folder / "dir.plist").string());
    EXPECT_FALSE(directory.isRegularFile);
    EXPECT_TRUE(directory.writableByOthers);
    EXPECT_EQ(directory.ownerUID, ::geteuid());

    std::string namesMissingProgram = write(
        "job.plist", xmlDictionary("<key>Label</key><string>x</string><key>Program</key><string>" +
                                   (folder / "gone").string() + "</string>"));
    auto gone = LaunchJobFacts::read(namesMissingProgram);
    EXPECT_EQ(gone.program, (folder / "gone").string());
    EXPECT_EQ(gone.resolvedProgram, std::nullopt);
    EXPECT_EQ(gone.programIntegrity, std::nullopt);

    auto withNul = LaunchJobFacts::read(std::string(namesMissingProgram + '\0' + "x"));
    EXPECT_FALSE(withNul.isRegularFile);
    EXPECT_EQ(withNul.resolvedPath, std::nullopt);
}

TEST_F(LaunchJobFactsOnDisk, ProgramReachedThroughALinkIsResolved) {
    fs::create_symlink(program, folder / "alias");
    auto facts = LaunchJobFacts::read(
        write("job.plist", xmlDictionary("<key>Program</key><string>" + (folder / "alias").string() + "</string>")));
    EXPECT_EQ(facts.program, (folder / "alias").string());
    EXPECT_EQ(facts.resolvedProgram, fs::canonical(program).string());
    EXPECT_EQ(facts.programIntegrity, ProgramIntegrity::read(fs::canonical(program).string()));
    ASSERT_TRUE(facts.programIntegrity);
    EXPECT_TRUE(facts.programIntegrity->isRegularFile);
}

// Whether ProgramIntegrity::read gives `expected` in a child whose root folder
// is `root`, so that the walk up to "/" covers only folders the test made.
bool integrityUnderRootIs(const fs::path& root, const std::string& program,
                          const std::optional<ProgramIntegrity>& expected) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) ::_exit(2);
        ::_exit(ProgramIntegrity::read(program) == expected ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(LaunchJobFactsOnDisk, ProgramIntegrityOfFoldersAndOwners) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (chroot, chown)";
    auto folderWithProgram = [&](const std::string& path, mode_t mode, uid_t owner) {
        fs::create_directories(folder / path);
        ::chmod((folder / path).c_str(), mode);
        ::chown((folder / path).c_str(), owner, 20);
        std::string file = write(path + "/prog", "x");
        ::chmod(file.c_str(), 0755);
        ::chown(file.c_str(), owner, 20);
    };
    folderWithProgram("sticky", 01777, 0);
    folderWithProgram("sticky/inner", 0755, 0);
    folderWithProgram("group", 0775, 0);
    folderWithProgram("plain", 0755, 0);
    folderWithProgram("plain/deep", 0755, 0);
    folderWithProgram("ann", 0755, 501);
    write("plain/writable", "x");
    ::chmod((folder / "plain/writable").c_str(), 0646);
    fs::create_directory(folder / "plain/dir");
    fs::create_symlink("prog", folder / "plain/link");
    ::chmod((folder / "job").c_str(), 0755);

    using I = std::optional<ProgramIntegrity>;
    const std::tuple<mode_t, const char*, I> cases[] = {
        {0755, "/job", ProgramIntegrity{true, 0, false, 0, false, false}},
        {0777, "/job", ProgramIntegrity{true, 0, false, 0, true, true}},
        {0775, "/job", ProgramIntegrity{true, 0, false, 0, true, false}},
        {0755, "/sticky/prog", ProgramIntegrity{true, 0, false, 0, true, true}},
        {0755, "/sticky/inner/prog", ProgramIntegrity{true, 0, false, 0, false, true}},
        {0755, "/group/prog", ProgramIntegrity{true, 0, false, 0, true, false}},
        {0755, "/plain/prog", ProgramIntegrity{true, 0, false, 0, false, false}},
        {0755, "/plain/deep/prog", ProgramIntegrity{true, 0, false, 0, false, false}},
        {0777, "/plain/deep/prog", ProgramIntegrity{true, 0, false, 0, false, true}},
        {0755, "/ann/prog", ProgramIntegrity{true, 501, false, 501, false, false}},
        {0755, "/plain/writable", ProgramIntegrity{true, 0, true, 0, false, false}},
        {0755, "/plain/dir", ProgramIntegrity{false, 0, false, 0, false, false}},
        {0755, "/plain/link", ProgramIntegrity{false, 0, true, 0, false, false}},
        {0755, "/plain/none", std::nullopt},
        {0755, "/none/prog", std::nullopt},
        {0755, "plain/prog", std::nullopt},
        {0755, "/", std::nullopt},
        {0755, "", std::nullopt},
    };
    for (const auto& [rootMode, path, expected] : cases) {
        ASSERT_EQ(::chmod(folder.c_str(), rootMode), 0);
        EXPECT_TRUE(integrityUnderRootIs(folder, path, expected)) << path << " with / at " << std::oct << rootMode;
    }
}

}  // namespace
