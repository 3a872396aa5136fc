#include "postprocessing/external_postprocessor_link.h"

namespace vyai {

std::map<std::string, ExternalPostprocessor_t> UnwiredPostprocessorLink::loadDeclarations(const std::string&)
{
    return {};
}

TensorSetPtr UnwiredPostprocessorLink::exchangeTensors(
    const ExternalPostprocessor_t&, const InferenceInput_t&, const TensorSet_t*, Timer&)
{
    return nullptr;
}

std::optional<PostprocessorReply_t> UnwiredPostprocessorLink::exchangeObjects(const ExternalPostprocessor_t&,
    const InferenceInput_t&, const ObjectsByClass&, const EventList&, const TensorSet_t*, ObjectTracker&, Timer&)
{
    return std::nullopt;
}

} // namespace vyai
