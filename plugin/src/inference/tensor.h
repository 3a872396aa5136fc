/* Records that cross the runtime library's C interface. The runtime (a separate
 * library, possibly written in C) includes this header too, so it stays plain C:
 * no namespaces, no C++ types, fixed-width fields. Both sides allocate every
 * piece from the one C heap (malloc / strdup) and release it with free. */
#ifndef VYAI_INFERENCE_TENSOR_H
#define VYAI_INFERENCE_TENSOR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Element type codes, ONNX numbering. Tensor_t::type carries one of them. */
typedef enum TensorDataType {
    TensorDataType_Undefined = 0,
    TensorDataType_Float = 1,
    TensorDataType_Uint8 = 2,
    TensorDataType_Int8 = 3,
    TensorDataType_Uint16 = 4,
    TensorDataType_Int16 = 5,
    TensorDataType_Int32 = 6,
    TensorDataType_Int64 = 7,
    TensorDataType_String = 8,
    TensorDataType_Bool = 9,
    TensorDataType_Float16 = 10,
    TensorDataType_Double = 11,
    TensorDataType_Uint32 = 12,
    TensorDataType_Uint64 = 13,
    TensorDataType_Complex64 = 14,
    TensorDataType_Complex128 = 15,
    TensorDataType_BFloat16 = 16
} TensorDataType;

/* One tensor, 40 bytes. */
typedef struct Tensor_t {
    char* name;     /* NUL-terminated, C heap */
    int32_t type;   /* TensorDataType code */
    int32_t rank;   /* number of entries in shape */
    int32_t* shape; /* rank dimensions, C heap */
    uint64_t size;  /* byte size of data */
    void* data;     /* densely packed elements, C heap */
} Tensor_t;

/* The tensors of one inference input or output, 16 bytes. While a set travels
 * through the runtime, id is the input slot number; an output carries the id of
 * the input that produced it. */
typedef struct TensorSet_t {
    uint32_t id;
    int32_t count;     /* number of records in tensors */
    Tensor_t* tensors; /* count records, C heap; null when there are none */
} TensorSet_t;

#ifdef __cplusplus
}
#define VYAI_TENSOR_STATIC_ASSERT static_assert
#else
#define VYAI_TENSOR_STATIC_ASSERT _Static_assert
#endif

/* The runtime reads these records by offset: a change here breaks every runtime. */
VYAI_TENSOR_STATIC_ASSERT(sizeof(void*) == 8, "the runtime interface assumes 64-bit pointers");
VYAI_TENSOR_STATIC_ASSERT(sizeof(Tensor_t) == 40, "Tensor_t layout");
VYAI_TENSOR_STATIC_ASSERT(offsetof(Tensor_t, type) == 8, "Tensor_t::type offset");
VYAI_TENSOR_STATIC_ASSERT(offsetof(Tensor_t, rank) == 12, "Tensor_t::rank offset");
VYAI_TENSOR_STATIC_ASSERT(offsetof(Tensor_t, shape) == 16, "Tensor_t::shape offset");
VYAI_TENSOR_STATIC_ASSERT(offsetof(Tensor_t, size) == 24, "Tensor_t::size offset");
VYAI_TENSOR_STATIC_ASSERT(offsetof(Tensor_t, data) == 32, "Tensor_t::data offset");
VYAI_TENSOR_STATIC_ASSERT(sizeof(TensorSet_t) == 16, "TensorSet_t layout");
VYAI_TENSOR_STATIC_ASSERT(offsetof(TensorSet_t, count) == 4, "TensorSet_t::count offset");
VYAI_TENSOR_STATIC_ASSERT(offsetof(TensorSet_t, tensors) == 8, "TensorSet_t::tensors offset");

#undef VYAI_TENSOR_STATIC_ASSERT

#endif /* VYAI_INFERENCE_TENSOR_H */
