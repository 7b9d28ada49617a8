#include "tools/PolicyOps.h"

namespace PolicyOps {

void addLaunchOps(Table&) {}

}  // namespace PolicyOps
