#pragma once

// Limits the heap to a few shared arenas. Every connection has a thread of its
// own; with an arena per thread, the memory of connections that have ended
// would pile up.
void limitHeapArenas();
