#pragma once

namespace vyai {

// The plug-in's version: the manifests, the server parameters and the cloud's User-Agent.
inline constexpr const char* kPluginVersion = "5.0.19";

} // namespace vyai
