#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the file system says about the program a launch job runs. Every entry
// is examined without following symbolic links.
struct ProgramIntegrity {
    bool isRegularFile = false;
    uint32_t ownerUID = 0;
    bool writableByOthers = false;  // group-write or other-write bit
    uint32_t parentOwnerUID = 0;    // owner of the folder that holds the program
    bool parentWritableByOthers = false;
    // The holding folder or any folder above it, up to and including "/", has
    // the other-write bit (group-write does not count here).
    bool underWorldWritableFolder = false;

    // Facts about an absolute program path; nothing when the path is not
    // absolute, is "/", or any entry on the way up to "/" cannot be examined.
    static std::optional<ProgramIntegrity> read(std::string_view programPath);

    friend bool operator==(const ProgramIntegrity&, const ProgramIntegrity&) = default;
};

// What the file system says about a job plist and the program it names.
// Reading never fails: whatever cannot be read or does not hold is absent or
// false.
struct LaunchJobFacts {
    // A plist longer than this is not read at all.
    static constexpr int64_t plistSizeLimit = 1'048'575;
    // The reader copies a binary plist's container once for every reference
    // to it. A binary plist whose objects, counted that way, exceed this is
    // not read: a tree within the size limit holds fewer than 150,000, while
    // containers shared level after level would take exponential time and
    // memory (this many cost some 16 MB).
    static constexpr std::size_t plistObjectBudget = std::size_t{1} << 18;

    std::string plistPath;                    // exactly as requested
    std::optional<std::string> resolvedPath;  // realpath of plistPath
    bool isRegularFile = false;               // plistPath's own entry is a regular file
    std::optional<uint32_t> ownerUID;         // owner of plistPath's own entry
    bool writableByOthers = false;            // group-write or other-write bit of that entry
    std::optional<std::string> label;         // "Label" when it is a text
    // "Program" when it is a text, else the first element of "ProgramArguments"
    // when that is a non-empty list of texts.
    std::optional<std::string> program;
    std::optional<std::string> resolvedProgram;  // realpath of program
    std::optional<ProgramIntegrity> programIntegrity;

    static LaunchJobFacts read(std::string_view plistPath);

    // What `read` takes from a job plist's bytes (binary, or XML in UTF-8 or
    // UTF-16, with or without a byte-order mark): "Label" and the program, as
    // above; both absent when the bytes are not a property list holding a
    // dictionary, or are longer than the size limit or over the object budget.
    struct PlistFields {
        std::optional<std::string> label;
        std::optional<std::string> program;
        friend bool operator==(const PlistFields&, const PlistFields&) = default;
    };
    static PlistFields parsePlist(std::string_view bytes);

    friend bool operator==(const LaunchJobFacts&, const LaunchJobFacts&) = default;
};
