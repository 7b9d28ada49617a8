#include "tools/PolicyOps.h"

namespace PolicyOps {

void addPrivacyOps(Table&) {}

}  // namespace PolicyOps
