// A job plist is read on behalf of any client before the rules judge where it
// lies, so its bytes may be anyone's. A binary plist whose containers refer to
// one another twice over made the reader copy 2^40 containers; it is now
// refused before reading, while ordinary binary plists read as before.

#include "platform/PlistNode.h"
#include "shared/LaunchJobFacts.h"

#include <gtest/gtest.h>

#include <plist/plist.h>

#include <string>

namespace {

std::string bigEndian16(std::size_t value) { return {static_cast<char>(value >> 8), static_cast<char>(value)}; }
std::string bigEndian64(std::size_t value) {
    std::string out;
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
    return out;
}

// Forty arrays, each holding the next one twice, the last holding a string.
std::string selfSharingPlist() {
    constexpr std::size_t levels = 40;
    std::string data = "bplist00";
    std::string offsets;
    for (std::size_t i = 0; i + 1 < levels; ++i) {
        offsets += bigEndian16(data.size());
        data += {'\xA2', static_cast<char>(i + 1), static_cast<char>(i + 1)};
    }
    offsets += bigEndian16(data.size());
    data += "\x51x";
    const std::size_t table = data.size();
    return data + offsets + std::string(6, '\0') + "\x02\x01" + bigEndian64(levels) + bigEndian64(0) + bigEndian64(table);
}

std::string binaryJob() {
    PlistNode job(plist_new_dict());
    plist_dict_set_item(job.get(), "Label", plist_new_string("com.example.job"));
    plist_t arguments = plist_new_array();
    plist_array_append_item(arguments, plist_new_string("/usr/local/bin/job"));
    plist_array_append_item(arguments, plist_new_string("com.example.job"));
    plist_dict_set_item(job.get(), "ProgramArguments", arguments);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(job.get(), &bytes, &length);
    std::string out(bytes, length);
    plist_to_bin_free(bytes);
    return out;
}

TEST(LaunchJobPlistShape, ContainersReferredToMoreThanOnceAreNotRead) {
    EXPECT_EQ(LaunchJobFacts::parsePlist(selfSharingPlist()), LaunchJobFacts::PlistFields{});
}

TEST(LaunchJobPlistShape, AnOrdinaryBinaryPlistIsRead) {
    const auto fields = LaunchJobFacts::parsePlist(binaryJob());
    EXPECT_EQ(fields.label, "com.example.job");
    EXPECT_EQ(fields.program, "/usr/local/bin/job");
}

}  // namespace
