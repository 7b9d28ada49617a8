#pragma once

// The shape checks live with the shared module, which reads job plists too.
#include "shared/PlistShape.h"
