// sorvanectl is installed set-group-ID, so the kernel makes it non-dumpable:
// in a build with AddressSanitizer the leak check at exit cannot stop the
// process's threads and fails the run, and the runtime cannot read its
// options from /proc/self/environ. Only the client's leak check is off; the
// helper and the tests keep theirs. Unused in a build without sanitizers.
extern "C" const char* __asan_default_options();
extern "C" const char* __lsan_default_options();

extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
