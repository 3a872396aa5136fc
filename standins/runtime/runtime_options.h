#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "inference/runtime_interface.h"

namespace cpu_runtime {

/** An entry point that fails on purpose, for tests of the caller's error paths. */
enum class FaultPoint {
    None,
    Init,
    LoadModels,
    Enqueue,
    Retrieve,
    Cleanup,
    Stall,           // finished outputs are kept back: runtime_retrieve_output only times out
    BadOutputId,     // outputs come back with an id no input had (the input's id + 1000)
    DuplicateOutput, // each output is followed by an empty set with the same id
};

/**
 * The runtime's options, from the key/value pairs of runtime_init ("runtime_args.json"):
 * "latency_ms": milliseconds each inference takes (default 0);
 * "fault": "init", "load_models", "enqueue", "retrieve", "cleanup", "stall", "bad_output_id" or
 * "duplicate_output";
 * "fault_after": how many calls of that entry point succeed before it fails, or how many
 * outputs come out right before the output faults start (default 0).
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
