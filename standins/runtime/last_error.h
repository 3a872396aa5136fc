#pragma once

#include <cstdint>

namespace cpu_runtime {

/** Records the calling thread's error text and returns `code`, so failures read as one line. */
int32_t fail(int32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));

/** The calling thread's last error text; empty when it has none. */
const char* lastError();

} // namespace cpu_runtime
