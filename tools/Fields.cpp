#include "tools/PolicyOps.h"

namespace PolicyOps {

namespace {

const nlohmann::json& field(const nlohmann::json& request, const char* name) {
    auto it = request.find(name);
    if (it == request.end()) throw BadInput(std::string("missing field \"") + name + "\"");
    return *it;
}

BadInput wrongType(const char* name, const char* expected) {
    return BadInput(std::string("field \"") + name + "\" must be " + expected);
}

}  // namespace

std::string stringField(const nlohmann::json& request, const char* name) {
    const auto& value = field(request, name);
    if (!value.is_string()) throw wrongType(name, "a string");
    return value.get<std::string>();
}

std::optional<std::string> optionalStringField(const nlohmann::json& request, const char* name) {
    const auto& value = field(request, name);
    if (value.is_null()) return std::nullopt;
    if (!value.is_string()) throw wrongType(name, "a string or null");
    return value.get<std::string>();
}

bool boolField(const nlohmann::json& request, const char* name) {
    const auto& value = field(request, name);
    if (!value.is_boolean()) throw wrongType(name, "a boolean");
    return value.get<bool>();
}

int64_t integerField(const nlohmann::json& request, const char* name) {
    const auto& value = field(request, name);
    if (!value.is_number_integer()) throw wrongType(name, "an integer");
    return value.get<int64_t>();
}

std::vector<std::string> stringArrayField(const nlohmann::json& request, const char* name) {
    const auto& value = field(request, name);
    if (!value.is_array()) throw wrongType(name, "an array of strings");
    std::vector<std::string> out;
    for (const auto& element : value) {
        if (!element.is_string()) throw wrongType(name, "an array of strings");
        out.push_back(element.get<std::string>());
    }
    return out;
}

}  // namespace PolicyOps
