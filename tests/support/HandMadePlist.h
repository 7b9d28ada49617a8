#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A binary property list written object by object (object 0 on top), for
// shapes no writer makes: offsets of `offsetWidth` bytes, references of
// `referenceWidth`, and the trailer's six unused bytes as given.
inline std::string handMadePlist(const std::vector<std::string>& objects, int offsetWidth = 4, int referenceWidth = 1,
                                 const std::string& unused = std::string(6, '\0')) {
    auto put = [](std::string& out, uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) out += char(value >> (8 * i));
    };
    std::string data = "bplist00", table;
    for (const auto& object : objects) {
        put(table, data.size(), offsetWidth);
        data += object;
    }
    const uint64_t tableStart = data.size();
    data += table + unused + char(offsetWidth) + char(referenceWidth);
    for (uint64_t value : {uint64_t{objects.size()}, uint64_t{0}, tableStart}) put(data, value, 8);
    return data;
}
