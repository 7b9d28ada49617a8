#include "tools/PolicyOps.h"

namespace PolicyOps {

void addFileOps(Table&) {}

}  // namespace PolicyOps
