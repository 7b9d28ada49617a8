#pragma once

#include <sys/types.h>

#include <optional>

// What the running helper holds, read from /proc: to show that load and
// faults leave nothing behind.
namespace HelperProcess {

struct Resources {
    int descriptors = 0;   // entries of /proc/PID/fd
    int threads = 0;       // entries of /proc/PID/task
    long residentKiB = 0;  // VmRSS
    long peakKiB = 0;      // VmHWM: the most it has held resident since it started
};

Resources of(pid_t pid);

// Measures once the helper has let go of what finished connections held:
// when descriptors and threads are back at `baseline` (or, without one, have
// stopped changing), or after 30 seconds.
Resources settled(pid_t pid, std::optional<Resources> baseline);

// How much more resident memory than `before` counts as "back where it
// started": 8 MiB and a quarter of the start. The allocator keeps freed
// memory for reuse: one arena for each thread that ran at once, up to eight a
// core, each holding up to a few MiB of it. Under
// AddressSanitizer freed memory is held in quarantine (256 MiB) besides its
// shadow and size-class caches, which 16,000 mixed requests took to 354 MiB
// above the start; the bound there (512 MiB) only catches gross growth.
long residentToleranceKiB(const Resources& before);

// `plain`, or under AddressSanitizer the quarantine's size: memory freed by
// the helper's work stays resident there, however little it keeps in use.
long churnToleranceKiB(long plain);

}  // namespace HelperProcess
