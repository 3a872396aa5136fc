#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "inference/runtime_interface.h"

namespace cpu_runtime {

/** An entry point that fails on purpose, for tests of the caller's error paths. */
enum class FaultPoint { None, Init, LoadModels, Enqueue, Retrieve, Cleanup };

/**
 * The runtime's options, from the key/value pairs of runtime_init ("runtime_args.json"):
 * "latency_ms": milliseconds each inference takes (default 0);
 * "fault": "init", "load_models", "enqueue", "retrieve" or "cleanup";
 * "fault_after": how many calls of that entry point succeed before it fails (default 0).
 * Other keys are ignored: they belong to other runtimes.
 */
struct RuntimeOptions {
    uint32_t latencyMs = 0;
    FaultPoint fault = FaultPoint::None;
    uint64_t faultAfter = 0;
};

/** The options of `args`; none (with the error recorded) when a value is not valid. */
std::optional<RuntimeOptions> parseRuntimeOptions(const RuntimeArgs_t& args);

} // namespace cpu_runtime
