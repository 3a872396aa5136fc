// This suite starts external processors with fork and exec from a process that has threads.
// ThreadSanitizer ends such a child by default, although the child only calls exec; other
// ThreadSanitizer options still come from TSAN_OPTIONS.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_options()
{
    return "die_after_fork=0";
}
