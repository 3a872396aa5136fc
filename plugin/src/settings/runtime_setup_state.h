#pragma once

#include <cstdint>

// How the settings model reads the runtimes manager's install state. The numbers are the
// manager's own; the names say what the dialog shows for each.

namespace vyai::runtime_setup {

constexpr uint32_t kDetecting = 0; //< accelerators not yet detected
constexpr uint32_t kAwaitingChoice = 1; //< several compatible runtimes: the user picks one
constexpr uint32_t kChosen = 2; //< installing the chosen runtime
constexpr uint32_t kInstalling = 3;
constexpr uint32_t kInstallFailed = 4; //< failed or cancelled: the user may reselect
constexpr uint32_t kNoneCompatible = 5;
constexpr uint32_t kInstalled = 6;
constexpr uint32_t kReselecting = 7; //< the installed runtime is being removed

} // namespace vyai::runtime_setup
