#include "platform/os/HeapArenas.h"

#include <malloc.h>

void limitHeapArenas() { ::mallopt(M_ARENA_MAX, 2); }
