// Every fuzz target's entry point over every file of its seed corpus: a broken
// invariant aborts with the target's own message.
#include "FuzzTargets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

TEST(FuzzCorpus, EveryTargetTakesEveryInputOfItsCorpus) {
    for (const auto& target : fuzzTargets) {
        const std::filesystem::path corpus = std::filesystem::path(SORVANE_SOURCE_DIR) / "fuzz/corpus" / target.name;
        ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
        int inputs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "%s\n", entry.path().c_str());  // names the input should one abort
            target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
        EXPECT_GT(inputs, 0) << target.name;
    }
}
