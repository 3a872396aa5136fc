#include "last_error.h"

#include <cstdarg>
#include <cstdio>

namespace cpu_runtime {

namespace {

// Per thread, like errno: each caller reads the error of its own failed call. A plain
// array keeps the library free of thread-exit destructors, so it can be unloaded.
thread_local char t_lastError[512];

} // namespace

int32_t fail(int32_t code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_lastError, sizeof t_lastError, format, args);
    va_end(args);
    return code;
}

const char* lastError()
{
    return t_lastError;
}

} // namespace cpu_runtime
