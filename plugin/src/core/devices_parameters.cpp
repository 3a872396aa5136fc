// The devices' parameters as the host holds them: model descriptions for the engine, each
// device's entry for its agent.

#include <filesystem>
#include <memory>
#include <vector>

#include "core/device_agent.h"
#include "core/engine.h"
#include "core/model_descriptions.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::logError;

void Engine::processDevicesParameters(const std::string& text)
{
    const ::vyai::JsonDocument document = ::vyai::readJsonDocument(text);
    if (!document)
    {
        logError("Error: Failed to parse devices parameters JSON.\n");
        return;
    }
    yyjson_val* devices = yyjson_doc_get_root(document.get());
    resetUnconfiguredDevices(devices);
    const ::vyai::ModelDetailsMap models = updateModelDetails(devices);
    {
        const std::lock_guard lock(m_modelDetailsMutex);
        m_modelDetails = models;
    }
    handDevicesTheirParameters(devices, models);
}

void Engine::resetUnconfiguredDevices(yyjson_val* devices)
{
    const std::vector<std::string> ids = ::vyai::unconfiguredDeviceIds(devices);
    if (!ids.empty())
        m_cloudApiClient.resetDevices(utilityProvider(), ids);
}

::vyai::ModelDetailsMap Engine::updateModelDetails(yyjson_val* devices)
{
    const std::string runtimeName = m_runtimesManager.readInstalledRuntimeName();
    const ::vyai::ModelReadingContext context{runtimeName,
        m_runtimesManager.getRuntimeMimeType(runtimeName), m_modelCache.modelFilesDirectory(),
        m_modelCache.keysDirectory(), std::filesystem::temp_directory_path().string()};
    // The records are new and unpublished until the map is stored: changing them is safe.
    ::vyai::ModelDetailsMap models = ::vyai::readModelDetails(devices, context, m_messages);
    ::vyai::applyRawPostprocessingConfig(models, m_dataDirectory);
    return models;
}

void Engine::handDevicesTheirParameters(yyjson_val* devices, const ::vyai::ModelDetailsMap& models)
{
    // An agent is reached through its lifetime token, never through a counted reference: the
    // agent may hold the engine's last reference, and one being destroyed is passed over.
    struct Delivery
    {
        DeviceAgent* agent;
        yyjson_val* parameters;
        std::shared_ptr<::vyai::LifetimeToken> token;
        std::unique_ptr<::vyai::LifetimeToken::Pass> pass; //< left before the token goes
    };
    std::vector<Delivery> deliveries;
    {
        // Only the look-up is under the engine mutex: the agents call out to the host.
        const std::lock_guard lock(m_mutex);
        size_t index = 0;
        size_t count = 0;
        yyjson_val* device = nullptr;
        yyjson_arr_foreach(devices, index, count, device)
        {
            const char* id = yyjson_get_str(yyjson_obj_get(device, "id"));
            if (!id)
                continue;
            const auto entry = m_deviceAgents.find(normalizedDeviceId(id));
            if (entry == m_deviceAgents.end())
                continue;
            auto token = entry->second->lifetimeToken();
            auto pass = std::make_unique<::vyai::LifetimeToken::Pass>(*token);
            if (*pass)
                deliveries.push_back({entry->second, device, std::move(token), std::move(pass)});
        }
    }
    for (const Delivery& delivery: deliveries)
    {
        delivery.agent->processDeviceParameters(delivery.parameters, models,
            m_inferenceManager.getExternalPreprocessors(), m_inferenceManager.getExternalPostprocessors(),
            m_pipelineParseReport);
    }
}

} // namespace vy::vms_server_plugins::analytics::vyai
