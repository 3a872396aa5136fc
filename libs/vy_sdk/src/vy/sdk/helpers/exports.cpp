#include <vy/sdk/exports.h>

#include "vy/sdk/helpers/lib_context.h"

extern "C" {

VY_EXPORT vy::sdk::ILibContext* vyLibContext()
{
    return &vy::sdk::libContext();
}

VY_EXPORT const char* vySdkVersion()
{
    return "6.1.4 R1";
}

VY_EXPORT void vySetUnitTestOptions(const vy::sdk::IStringMap* options)
{
    if (!options)
        return;
    try
    {
        auto& unitTestOptions = vy::sdk::unitTestOptions();
        unitTestOptions.clear();
        const int32_t count = options->count();
        for (int32_t i = 0; i < count; ++i)
        {
            // A null key cannot be stored; a null value reads as empty. A key seen
            // earlier keeps its first value.
            const char* key = options->key(i);
            const char* value = options->value(i);
            if (key)
                unitTestOptions.emplace(key, value ? value : "");
        }
    }
    catch (...)
    {
        // Nothing may leave a C entry point; only allocation can fail here.
    }
}

} // extern "C"
