/* The C interface of an accelerator runtime library ("RuntimeLibrary.so"): the records
 * that cross it besides the tensors, and its nine entry points. The plug-in resolves the
 * entry points by name; a runtime includes this header and defines them. Plain C, so that
 * a runtime may be written in C. */
#ifndef VYAI_INFERENCE_RUNTIME_INTERFACE_H
#define VYAI_INFERENCE_RUNTIME_INTERFACE_H

#include <stddef.h>
#include <stdint.h>

#include "inference/tensor.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Key/value arguments of runtime_init, 24 bytes, passed by value. The texts and both
 * arrays live only during the call: a runtime that needs them later copies them. */
typedef struct RuntimeArgs_t {
    int32_t count;
    /* 4 bytes of padding */
    const char* const* keys;   /* count NUL-terminated keys; null when count is 0 */
    const char* const* values; /* count NUL-terminated values, same order; null when count is 0 */
} RuntimeArgs_t;

/* One model of runtime_load_models, 48 bytes; the array is contiguous and a model's
 * position in it is the model index of runtime_enqueue_input. The array lives only
 * during the call. The plug-in sets every reserved field to 0. */
typedef struct RuntimeModel_t {
    const char* path; /* NUL-terminated path of the decrypted model file */
    uint64_t reserved0;
    uint64_t reserved1;
    uint32_t reserved2;
    uint32_t padding; /* value unspecified */
    uint8_t reserved3[16];
} RuntimeModel_t;

/* Results of the entry points that the plug-in tells apart. Any other non-zero result is
 * a failure whose text runtime_get_error gives. */
enum {
    RUNTIME_RESULT_SUCCESS = 0,
    RUNTIME_RESULT_ENTRY_POINT_MISSING = 2, /* the plug-in's own answer when a runtime lacks the entry point */
    RUNTIME_RESULT_TIMEOUT = 12             /* runtime_retrieve_output: nothing became ready in time */
};

#if defined(__GNUC__)
#define VY_RUNTIME_EXPORT __attribute__((visibility("default")))
#else
#define VY_RUNTIME_EXPORT
#endif

/* 0 on success; otherwise runtime_get_error tells why. */
VY_RUNTIME_EXPORT int32_t runtime_init(RuntimeArgs_t args);

/* Loads count models (count may be 0); 0 on success. */
VY_RUNTIME_EXPORT int32_t runtime_load_models(int32_t count, const RuntimeModel_t* models);

/* Queues one input for the model at model_index. 0: accepted, the whole set (record,
 * array, names, shapes, data) now belongs to the runtime. Anything else: refused, the set
 * stays with the caller. Called from many threads at once, also while another thread
 * waits in runtime_retrieve_output. */
VY_RUNTIME_EXPORT int32_t runtime_enqueue_input(uint32_t model_index, TensorSet_t* input);

/* Waits up to timeout_ms for one finished output. 0: *output holds a set whose id is the
 * id of its input, owned by the caller from then on; RUNTIME_RESULT_TIMEOUT: nothing was
 * ready; anything else: an error. *aux is set to null or to runtime-owned memory valid
 * until the next call; the plug-in does not read it. */
VY_RUNTIME_EXPORT int32_t runtime_retrieve_output(void** aux, TensorSet_t** output, uint32_t timeout_ms);

/* Ends all work and forgets the models and every queued set; 0 on success. Also called
 * before runtime_init, after a failed one and twice in a row; runtime_init may follow. */
VY_RUNTIME_EXPORT int32_t runtime_cleanup(void);

/* Texts owned by the runtime, NUL-terminated. */
VY_RUNTIME_EXPORT const char* runtime_get_error(void);
VY_RUNTIME_EXPORT const char* runtime_get_version(void);
VY_RUNTIME_EXPORT const char* runtime_get_name(void);

/* Runtime-specific description; the plug-in resolves it but does not call it. */
VY_RUNTIME_EXPORT const void* runtime_get_info(void);

typedef int32_t (*RuntimeInitFn)(RuntimeArgs_t);
typedef int32_t (*RuntimeLoadModelsFn)(int32_t, const RuntimeModel_t*);
typedef int32_t (*RuntimeEnqueueInputFn)(uint32_t, TensorSet_t*);
typedef int32_t (*RuntimeRetrieveOutputFn)(void**, TensorSet_t**, uint32_t);
typedef int32_t (*RuntimeCleanupFn)(void);
typedef const char* (*RuntimeTextFn)(void);
typedef const void* (*RuntimeInfoFn)(void);

#ifdef __cplusplus
}
#define VYAI_RUNTIME_STATIC_ASSERT static_assert
#else
#define VYAI_RUNTIME_STATIC_ASSERT _Static_assert
#endif

/* Runtimes read these records by offset: a change here breaks every runtime. */
VYAI_RUNTIME_STATIC_ASSERT(sizeof(RuntimeArgs_t) == 24, "RuntimeArgs_t layout");
VYAI_RUNTIME_STATIC_ASSERT(offsetof(RuntimeArgs_t, keys) == 8, "RuntimeArgs_t::keys offset");
VYAI_RUNTIME_STATIC_ASSERT(offsetof(RuntimeArgs_t, values) == 16, "RuntimeArgs_t::values offset");
VYAI_RUNTIME_STATIC_ASSERT(sizeof(RuntimeModel_t) == 48, "RuntimeModel_t layout");
VYAI_RUNTIME_STATIC_ASSERT(offsetof(RuntimeModel_t, reserved0) == 8, "RuntimeModel_t::reserved0 offset");
VYAI_RUNTIME_STATIC_ASSERT(offsetof(RuntimeModel_t, reserved1) == 16, "RuntimeModel_t::reserved1 offset");
VYAI_RUNTIME_STATIC_ASSERT(offsetof(RuntimeModel_t, reserved2) == 24, "RuntimeModel_t::reserved2 offset");
VYAI_RUNTIME_STATIC_ASSERT(offsetof(RuntimeModel_t, reserved3) == 32, "RuntimeModel_t::reserved3 offset");

#undef VYAI_RUNTIME_STATIC_ASSERT

#endif /* VYAI_INFERENCE_RUNTIME_INTERFACE_H */
