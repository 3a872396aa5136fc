// The nine entry points of the runtime C interface. Nothing may throw out of them.
#include <exception>

#include "cpu_runtime.h"
#include "inference/runtime_interface.h"
#include "last_error.h"

namespace {

cpu_runtime::CpuRuntime& theRuntime()
{
    // One runtime per loaded library, as the interface has no handle to tell several apart.
    static cpu_runtime::CpuRuntime runtime;
    return runtime;
}

template<typename Call>
int32_t guarded(const char* entryPoint, Call&& call) noexcept
{
    try {
        return call();
    } catch (const std::exception& error) {
        return cpu_runtime::fail(1, "%s failed: %s", entryPoint, error.what());
    } catch (...) {
        return cpu_runtime::fail(1, "%s failed.", entryPoint);
    }
}

constexpr char kInfo[] =
    "{\"runtime\":\"Generic CPU\",\"kind\":\"colour-box detector\",\"outputs\":[\"xyxysc\",\"yolo_af\","
    "\"yolo_ab\",\"yolo26\",\"yolonas\",\"yolov8_deepx\",\"rtdetr\",\"rfdetr\",\"ssd\",\"efficientdet\","
    "\"nanodet\",\"nanodet_split\"]}";

} // namespace

extern "C" {

int32_t runtime_init(RuntimeArgs_t args)
{
    return guarded("runtime_init", [&] { return theRuntime().init(args); });
}

int32_t runtime_load_models(int32_t count, const RuntimeModel_t* models)
{
    return guarded("runtime_load_models", [&] { return theRuntime().loadModels(count, models); });
}

int32_t runtime_enqueue_input(uint32_t model_index, TensorSet_t* input)
{
    return guarded("runtime_enqueue_input", [&] { return theRuntime().enqueue(model_index, input); });
}

int32_t runtime_retrieve_output(void** aux, TensorSet_t** output, uint32_t timeout_ms)
{
    return guarded("runtime_retrieve_output", [&] { return theRuntime().retrieve(aux, output, timeout_ms); });
}

int32_t runtime_cleanup(void)
{
    return guarded("runtime_cleanup", [&] { return theRuntime().cleanup(); });
}

const char* runtime_get_error(void)
{
    return cpu_runtime::lastError();
}

const char* runtime_get_version(void)
{
    return "1.0.0";
}

const char* runtime_get_name(void)
{
    return "Generic CPU";
}

const void* runtime_get_info(void)
{
    return kInfo;
}

} // extern "C"
