#pragma once

#include <string>

namespace vyai {

// One pipeline the cloud offers a device.
struct AvailablePipeline
{
    // {"parameters": {"vyAI": the offer without "name" and "uuid", plus "selectedPipeline"}},
    // compact: the body of the device PATCH that selects this pipeline.
    std::string parametersJson;
    std::string name; //< empty when the offer has none
    std::string uuid; //< empty when the offer has none
};

} // namespace vyai
