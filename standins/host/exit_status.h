#pragma once

namespace vyhost {

// vyhost's exit statuses, as the README lists them for scripts that run it.
constexpr int kExitCompleted = 0;
constexpr int kExitFailed = 1; //< the run did not complete, an object leaked, or output was lost
constexpr int kExitUsage = 2; //< the command line or the scenario is wrong
constexpr int kExitActionRefused = 3; //< the run completed, but a scenario action was refused

} // namespace vyhost
