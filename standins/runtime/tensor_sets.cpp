#include "tensor_sets.h"

#include <cstdlib>

namespace cpu_runtime {

TensorSet_t* newEmptySet(uint32_t id)
{
    auto* set = static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t)));
    if (set)
        set->id = id;
    return set;
}

void freeSet(TensorSet_t* set)
{
    if (!set)
        return;
    for (int32_t i = 0; i < set->count && set->tensors; ++i) {
        std::free(set->tensors[i].name);
        std::free(set->tensors[i].shape);
        std::free(set->tensors[i].data);
    }
    std::free(set->tensors);
    std::free(set);
}

} // namespace cpu_runtime
