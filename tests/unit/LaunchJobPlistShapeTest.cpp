// A job plist's bytes may be anyone's until the rules have judged its owner. A
// binary plist whose containers refer to one another twice over makes the
// reader copy them exponentially often; such sharing is read only within the
// object budget, and refused before reading beyond it.

#include "shared/linux/PlistNode.h"
#include "shared/LaunchJobFacts.h"

#include <gtest/gtest.h>

#include <plist/plist.h>

#include <optional>
#include <string>
#include <utility>

namespace {

std::string bigEndian16(std::size_t value) { return {static_cast<char>(value >> 8), static_cast<char>(value)}; }
std::string bigEndian64(std::size_t value) {
    std::string out;
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
    return out;
}

// {Label: "com.example.job", Pad: A0}, where each of `levels` arrays holds the
// next one twice and the last holds a string: 2^levels copies for a reader.
std::string selfSharingPlist(std::size_t levels) {
    std::string data = "bplist00";
    std::string offsets;
    auto add = [&](const std::string& object) {
        offsets += bigEndian16(data.size());
        data += object;
    };
    add({'\xD2', 1, 2, 3, 4});
    add("\x55Label");
    add("\x53Pad");
    add("\x5F\x10\x0F" "com.example.job");
    for (std::size_t i = 0; i < levels; ++i) add({'\xA2', static_cast<char>(5 + i), static_cast<char>(5 + i)});
    add("\x51x");
    const std::size_t table = data.size();
    return data + offsets + std::string(6, '\0') + "\x02\x01" + bigEndian64(levels + 5) + bigEndian64(0) +
           bigEndian64(table);
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

TEST(LaunchJobPlistShape, SharedContainersAreReadWithinTheBudget) {
    const std::pair<std::size_t, std::optional<std::string>> cases[] = {
        {10, "com.example.job"},  // some 2^11 objects
        {16, "com.example.job"},  // some 2^17: half the budget
        {17, std::nullopt},       // some 2^18: just over it
        {40, std::nullopt},       // some 2^41: refused before reading
    };
    for (const auto& [levels, label] : cases)
        EXPECT_EQ(LaunchJobFacts::parsePlist(selfSharingPlist(levels)).label, label) << levels;
}

TEST(LaunchJobPlistShape, AnOrdinaryBinaryPlistIsRead) {
    const auto fields = LaunchJobFacts::parsePlist(binaryJob());
    EXPECT_EQ(fields.label, "com.example.job");
    EXPECT_EQ(fields.program, "/usr/local/bin/job");
}

}  // namespace
