#pragma once

#include <cstdint>

// Seams for tests of the log and of Timer; the plug-in itself never calls them.
namespace vyai::test_hooks {

/** Size limit of the start and main logs; 0 restores the built-in 10,000,000 bytes. */
void setLogSizeLimit(uint64_t bytes);

/** Replaces the wall clock (microseconds since 1970); nullptr restores the real one. */
void setWallClock(int64_t (*microsSince1970)());

/** Replaces the timers' steady clock (nanoseconds); nullptr restores the real one. */
void setSteadyClock(int64_t (*nanos)());

} // namespace vyai::test_hooks
