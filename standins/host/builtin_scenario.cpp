#include "host/scenario.h"

namespace vyhost {

const char* builtInScenarioText()
{
    // A site connected to the cloud, which serves the stand-in CPU runtime and offers every
    // camera one pipeline: a colour-box detector of the stand-in runtime (its encrypted model
    // file is served by the cloud's storage) that finds the boxes the synthetic scene draws.
    // The cloud's reset assigns the pipeline to each new device; the user opens the first
    // camera's dialog, presses the CPU runtime's button among those it shows (an x86 machine
    // offers more than one runtime; with a runtime installed in the host directory there is no
    // choice to make), waits for the camera's switch and switches the camera's analytics on;
    // the plug-in installs the runtime, downloads the model, and the boxes come back as "objects".
    return R"({
  "ini": {"sendFramesOverride": true},
  "cloud": {
    "runtimePackage": {},
    "models": [
      {
        "file": "colour-boxes.json",
        "lastModified": 1767225600,
        "content": {
          "input": {"name": "images", "width": 320, "height": 320, "layout": "planar"},
          "classes": [
            {"name": "red", "rgb": [255, 0, 0]},
            {"name": "green", "rgb": [0, 255, 0]},
            {"name": "blue", "rgb": [0, 0, 255]},
            {"name": "yellow", "rgb": [255, 255, 0]}
          ],
          "minPixels": 4,
          "output": {"format": "xyxysc", "name": "bboxes-format:xyxysc;0:red;1:green;2:blue;3:yellow"}
        }
      }
    ],
    "pipelines": [
      {
        "name": "Colour boxes",
        "uuid": "{5b0c8e2a-7d41-4f3e-9c6a-1e2f3a4b5c6d}",
        "deviceAdmin": "{cloud}/devices",
        "models": [
          {
            "UUID": "colour-boxes",
            "UpdatedAt": "2026-01-01T00:00:00",
            "Name": "Colour boxes",
            "Downloads": [
              {
                "RuntimeArchitecture": "application/x-onnx",
                "Url": "{cloud}/models/colour-boxes.json",
                "LastModified": "2026-01-01T00:00:00",
                "Size": 345
              }
            ],
            "InputDriverDetails": {
              "width": 320, "height": 320, "channels": 3,
              "vars": [1, 1, 1], "means": [0, 0, 0], "order": 0
            },
            "NamedInput": [{"DataType": "float32", "Name": "images", "Shape": [1, 3, 320, 320]}],
            "NamedOutput": [
              {
                "DataType": "float32",
                "Name": "bboxes-format:xyxysc;0:red;1:green;2:blue;3:yellow",
                "Shape": [1, 100, 6]
              }
            ]
          }
        ],
        "pipelines": [
          {"method": "Direct", "modelUUID": "colour-boxes", "modelNMS": 0.45, "resizingMethod": "Stretch",
           "chains": []}
        ]
      }
    ]
  },
  "actions": [
    {"at": 0.2, "do": "openSettings", "camera": "camera1",
     "untilShown": ["libraryChoice_Generic CPU", "deviceActiveSwitch"]},
    {"at": 0.2, "do": "pressButton", "camera": "camera1", "button": "libraryChoice_Generic CPU", "ifShown": true},
    {"at": 0.2, "do": "openSettings", "camera": "camera1", "untilShown": ["deviceActiveSwitch"]},
    {"at": 0.2, "do": "applySettings", "camera": "camera1", "values": {"deviceActiveSwitch": true}}
  ]
})";
}

} // namespace vyhost
