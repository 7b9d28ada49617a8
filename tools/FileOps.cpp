#include "shared/AnchoredFiles.h"
#include "tools/PolicyOps.h"

#include <limits>

namespace PolicyOps {

void addFileOps(Table& table) {
    table["trash-candidate"] = [](const nlohmann::json& request) -> nlohmann::json {
        const std::string name = stringField(request, "name");
        const int64_t n = integerField(request, "n");
        if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
            throw BadInput("field \"n\" is out of range");
        return AnchoredFiles::trashCandidateName(name, static_cast<int>(n));
    };
}

}  // namespace PolicyOps
