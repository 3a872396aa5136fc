#pragma once

#include <vy/sdk/i_lib_context.h>
#include <vy/sdk/i_string_map.h>

// The library is built with hidden visibility; only these C entry points are exported
// (plugin/exports.map lists them).
#define VY_EXPORT __attribute__((visibility("default")))

extern "C" {

/** The library's context, for the host to name the library and install its registry. */
VY_EXPORT vy::sdk::ILibContext* vyLibContext();

/** The SDK version text, in static storage. */
VY_EXPORT const char* vySdkVersion();

/** Replaces the unit-test options with the items of `options` (null: does nothing). */
VY_EXPORT void vySetUnitTestOptions(const vy::sdk::IStringMap* options);

} // extern "C"
