#include "host/scenario.h"

namespace vyhost {

const char* builtInScenarioText()
{
    // A site connected to the cloud, which offers one pipeline to every camera; frames are
    // sent on whether or not a device was switched on in its dialog, so that a run shows how
    // far a frame gets.
    return R"({
  "ini": {"sendFramesOverride": true},
  "cloud": {
    "pipelines": [
      {"name": "Colour boxes", "uuid": "{5b0c8e2a-7d41-4f3e-9c6a-1e2f3a4b5c6d}"}
    ]
  }
})";
}

} // namespace vyhost
