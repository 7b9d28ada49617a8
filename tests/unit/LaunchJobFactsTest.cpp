// What a job plist and its program give: the fields read from bytes any user
// could have written, within their bounds, and the file system's facts, each
// entry seen without following links.
#include "shared/LaunchJobFacts.h"
#include "support/HandMadePlist.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Text = std::optional<std::string>;
using Fields = LaunchJobFacts::PlistFields;

std::string xmlPlist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
}

// The XML text (ASCII) declared and written as UTF-16 of either byte order, with or without a byte-order mark.
std::string utf16(std::string xml, bool bigEndian, bool marked) {
    xml.replace(xml.find("UTF-8"), 5, "UTF-16");
    std::string out = marked ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : xml) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

// A binary plist {Label: label, Pad: A0} where each of `levels` arrays refers
// `fanOut` times to the next and the last is empty: 3-byte references and
// offsets, 7 bytes a level for a chain, fanOut^levels objects for a reader.
std::string chainedPlist(const std::string& label, uint32_t levels, int fanOut) {
    auto ref = [](uint64_t n) { return std::string{char(n >> 16), char(n >> 8), char(n)}; };
    std::vector<std::string> objects{"\xD2" + ref(1) + ref(2) + ref(3) + ref(4), "\x55Label", "\x53Pad",
                                     char(0x50 + label.size()) + label};
    for (uint32_t i = 0; i < levels; ++i) {
        const int count = i + 1 < levels ? fanOut : 0;
        objects.push_back(std::string(1, char(0xA0 + count)));
        for (int k = 0; k < count; ++k) objects.back() += ref(5 + i);
    }
    return handMadePlist(objects, 3, 3);
}

TEST(LaunchJobPlist, LabelAndProgramInEveryEncoding) {
    const std::string program = "<key>Program</key><string>/p</string>", arguments = "<key>ProgramArguments</key>";
    // clang-format off
    const std::tuple<std::string, Text, Text> cases[] = {
        {"<key>Label</key><string>a.job</string>" + program, "a.job", "/p"},
        {arguments + "<array><string>/p</string><string>-x</string></array>", {}, "/p"},
        {program + arguments + "<array><string>/q</string></array>", {}, "/p"},
        {"<key>Program</key><true/>" + arguments + "<array><string>/q</string></array>", {}, "/q"},
        {arguments + "<array/>", {}, {}},
        {arguments + "<array><string>/p</string><integer>2</integer></array>", {}, {}},
        {arguments + "<string>/p</string>", {}, {}},
        {"<key>Label</key><string>caf&#233;</string>", "caf\u00e9", {}},
    };
    // clang-format on
    for (const auto& [entries, label, named] : cases) {
        const std::string xml = xmlPlist("<dict>" + entries + "</dict>");
        for (const auto& bytes : {xml, "\xEF\xBB\xBF" + xml, utf16(xml, false, true), utf16(xml, true, true),
                                  utf16(xml, false, false), utf16(xml, true, false)})
            EXPECT_EQ(LaunchJobFacts::parsePlist(bytes), (Fields{label, named})) << entries;
    }
    for (const std::string& bytes : {xmlPlist("<array><string>Label</string></array>"), std::string("Label = x\n"),
                                     chainedPlist("cut", 2, 1).substr(0, 40), std::string()})
        EXPECT_EQ(LaunchJobFacts::parsePlist(bytes), Fields{}) << bytes.substr(0, 40);
    // Binary lists, also behind a byte-order mark; containers referred to twice at every level are read
    // within the object budget only.
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        EXPECT_EQ(LaunchJobFacts::parsePlist(mark + chainedPlist("fits", 17, 2)).label, "fits");
        EXPECT_EQ(LaunchJobFacts::parsePlist(mark + chainedPlist("over", 18, 2)).label, std::nullopt);
    }
}

TEST(LaunchJobPlist, DeepNestingIsReadOnAStackOfItsOwn) {
    // 10,000 levels take about a megabyte of the reader's stack; the caller here has a quarter of that.
    struct Job {
        std::string bytes;
        Text label;
    } job{chainedPlist("deep", 10000, 1), std::nullopt};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    auto body = [](void* argument) -> void* {
        auto* j = static_cast<Job*>(argument);
        j->label = LaunchJobFacts::parsePlist(j->bytes).label;
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(job.label, "deep");
}

struct LaunchJobFactsOnDisk : testing::Test {
    ScratchFolder folder;
    std::string write(const std::string& name, const std::string& bytes, mode_t mode = 0644) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        EXPECT_EQ(::chmod((folder / name).c_str(), mode), 0);
        return folder / name;
    }
};

TEST_F(LaunchJobFactsOnDisk, APlistOverTheSizeLimitIsNotRead) {
    const std::string head = "<dict><key>Label</key><string>big</string><key>Pad</key><string>";
    const std::string tail = "</string></dict>";
    const auto limit = static_cast<size_t>(LaunchJobFacts::plistSizeLimit), frame = xmlPlist(head + tail).size();
    for (size_t size : {limit, limit + 1}) {
        const std::string big = write("big.plist", xmlPlist(head + std::string(size - frame, 'p') + tail));
        EXPECT_EQ(LaunchJobFacts::read(big).label, size == limit ? Text("big") : std::nullopt) << size;
    }
}

TEST_F(LaunchJobFactsOnDisk, ProgramIntegrityOfFoldersUpToTheRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root (chroot, chown)";
    fs::create_directories(folder / "plain/deep");
    fs::create_directories(folder / "ann");
    ASSERT_EQ(::chown((folder / "ann").c_str(), 501, 20), 0);
    ASSERT_EQ(::chown(write("ann/prog", "x", 0755).c_str(), 501, 20), 0);
    for (const char* path : {"job", "plain/deep/prog"}) write(path, "x", 0755);
    write("plain/writable", "x", 0646);
    fs::create_symlink("deep", folder / "plain/link");
    using P = ProgramIntegrity;
    // clang-format off
    const std::tuple<mode_t, const char*, std::optional<P>> cases[] = {
        {0755, "/job", P{true, 0, false, 0, false, false}},
        {0775, "/job", P{true, 0, false, 0, true, false}},  // group-write is not world-write
        {0777, "/plain/deep/prog", P{true, 0, false, 0, false, true}},  // from the folders above, up to "/"
        {0755, "/ann/prog", P{true, 501, false, 501, false, false}},
        {0755, "/plain/writable", P{true, 0, true, 0, false, false}},
        {0755, "/plain/link", P{false, 0, true, 0, false, false}},
        {0755, "/plain/none", {}}, {0755, "/none/prog", {}}, {0755, "plain/deep/prog", {}}, {0755, "/", {}},
    };
    // clang-format on
    for (const auto& [rootMode, path, expected] : cases) {
        ASSERT_EQ(::chmod(folder.path().c_str(), rootMode), 0);
        // In a child whose root folder is the test's, the walk up to "/" covers only folders the test made.
        const pid_t child = ::fork();
        if (child == 0) {
            const bool inRoot = ::chroot(folder.path().c_str()) == 0 && ::chdir("/") == 0;
            ::_exit(inRoot && ProgramIntegrity::read(path) == expected ? 0 : 1);
        }
        int status = 0;
        EXPECT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << path << " under " << std::oct << rootMode;
    }
}

}  // namespace
