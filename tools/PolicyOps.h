#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The operations of sorvane-policy: each takes one request object and answers
// the value of "result", or throws BadInput for a request it cannot take.
namespace PolicyOps {

struct BadInput : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Op = std::function<nlohmann::json(const nlohmann::json& request)>;
using Table = std::map<std::string, Op>;

// Field readers: a missing field or a value of the wrong type is BadInput.
std::string stringField(const nlohmann::json& request, const char* name);
std::optional<std::string> optionalStringField(const nlohmann::json& request, const char* name);  // null allowed
bool boolField(const nlohmann::json& request, const char* name);
int64_t integerField(const nlohmann::json& request, const char* name);
std::vector<std::string> stringArrayField(const nlohmann::json& request, const char* name);

// Each group registers its ops.
void addPathOps(Table& table);     // path rules, removal, own files, chosen items
void addFileOps(Table& table);     // anchored file operations
void addLaunchOps(Table& table);   // launch jobs
void addPrivacyOps(Table& table);  // privacy permission reset

// The answer to one request through every group's ops: {"result": VALUE}, or
// {"error": TEXT} for a request no op can take.
nlohmann::json answer(const nlohmann::json& request);

}  // namespace PolicyOps
