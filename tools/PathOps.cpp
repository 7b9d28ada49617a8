#include "tools/PolicyOps.h"

namespace PolicyOps {

void addPathOps(Table&) {}

}  // namespace PolicyOps
