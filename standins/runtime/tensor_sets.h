#pragma once

#include <cstdint>

#include "inference/tensor.h"

namespace cpu_runtime {

// Sets on the C heap, as they cross the runtime interface: the runtime frees what
// runtime_enqueue_input handed it, the caller of runtime_retrieve_output what it got back.

/** A set with no tensors and the given id; null when memory runs out. */
TensorSet_t* newEmptySet(uint32_t id);

/** Frees every tensor's name, shape and data, the tensor array and the record; null is ignored. */
void freeSet(TensorSet_t* set);

} // namespace cpu_runtime
