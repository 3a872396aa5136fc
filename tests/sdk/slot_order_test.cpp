#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/i_consuming_device_agent.h>
#include <vy/sdk/analytics/i_data_packet.h>
#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/analytics/i_event_metadata.h>
#include <vy/sdk/analytics/i_event_metadata_packet.h>
#include <vy/sdk/analytics/i_object_metadata.h>
#include <vy/sdk/analytics/i_object_metadata_packet.h>
#include <vy/sdk/analytics/i_integration.h>
#include <vy/sdk/analytics/i_object_track_best_shot_packet.h>
#include <vy/sdk/i_action_request.h>
#include <vy/sdk/i_action_response.h>
#include <vy/sdk/i_active_setting_changed_response.h>
#include <vy/sdk/i_attribute.h>
#include <vy/sdk/i_device_info.h>
#include <vy/sdk/i_engine_description.h>
#include <vy/sdk/i_integration.h>
#include <vy/sdk/i_lib_context.h>
#include <vy/sdk/i_ref_countable_registry.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/i_string.h>
#include <vy/sdk/i_string_map.h>
#include <vy/sdk/i_utility_provider.h>

// The host, built apart from us, calls these objects by slot number: every other test uses the
// same headers as the code it tests, so only this one notices a virtual function that moved.
namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;

#if defined(__x86_64__) && !defined(_MSC_VER)

/**
 * The host's slot number of a virtual function. In the Itanium C++ ABI a pointer to a virtual
 * member holds 1 + the function's byte offset in the vtable, and a virtual destructor takes two
 * entries (complete and deleting) where the host counts one slot.
 */
template<typename MemberFunction>
int slotOf(MemberFunction function)
{
    static_assert(sizeof(function) == 2 * sizeof(uintptr_t));
    uintptr_t words[2];
    std::memcpy(words, &function, sizeof(words));
    if (words[0] % sizeof(void*) != 1)
        return -1; //< Not a virtual function.
    return static_cast<int>((words[0] - 1) / sizeof(void*)) - 1;
}

TEST(HostSlotOrder, EveryInterfaceKeepsTheHostsSlots)
{
    using ValueByKey = const char* (IStringMap::*)(const char*) const;
    using ValueByIndex = const char* (IStringMap::*)(int32_t) const;

    const struct
    {
        const char* function;
        int slot;
        int expected;
    } cases[] = {
        {"IRefCountable::findInterface", slotOf(&IRefCountable::findInterface), 1},
        {"IRefCountable::acquireRef", slotOf(&IRefCountable::acquireRef), 2},
        {"IRefCountable::dropRef", slotOf(&IRefCountable::dropRef), 3},
        {"IRefCountableRegistry::recordCreation", slotOf(&IRefCountableRegistry::recordCreation), 1},
        {"IRefCountableRegistry::recordDestruction",
            slotOf(&IRefCountableRegistry::recordDestruction), 2},
        {"ILibContext::setName", slotOf(&ILibContext::setName), 1},
        {"ILibContext::setRefCountableRegistry", slotOf(&ILibContext::setRefCountableRegistry), 2},

        {"IString::str", slotOf(&IString::str), 4},
        {"IStringMap::count", slotOf(&IStringMap::count), 4},
        {"IStringMap::key", slotOf(&IStringMap::key), 5},
        {"IStringMap::value(key)", slotOf(static_cast<ValueByKey>(&IStringMap::value)), 6},
        {"IStringMap::value(index)", slotOf(static_cast<ValueByIndex>(&IStringMap::value)), 7},

        {"IAttribute::type", slotOf(&IAttribute::type), 4},
        {"IAttribute::name", slotOf(&IAttribute::name), 5},
        {"IAttribute::value", slotOf(&IAttribute::value), 6},
        {"IAttribute::confidence", slotOf(&IAttribute::confidence), 7},

        {"IMetadata::typeId", slotOf(&IMetadata::typeId), 4},
        {"IMetadata::confidence", slotOf(&IMetadata::confidence), 5},
        {"IMetadata::attribute", slotOf(&IMetadata::attribute), 6},
        {"IMetadata::attributeCount", slotOf(&IMetadata::attributeCount), 7},
        {"IEventMetadata::caption", slotOf(&IEventMetadata::caption), 8},
        {"IEventMetadata::description", slotOf(&IEventMetadata::description), 9},
        {"IEventMetadata::isActive", slotOf(&IEventMetadata::isActive), 10},
        {"IEventMetadata::getTrackId", slotOf(&IEventMetadata::getTrackId), 11},
        {"IEventMetadata::extraText", slotOf(&IEventMetadata::extraText), 12},
        {"IEventMetadata::getBoundingBox", slotOf(&IEventMetadata::getBoundingBox), 13},
        {"IObjectMetadata::getTrackId", slotOf(&IObjectMetadata::getTrackId), 8},
        {"IObjectMetadata::extraText", slotOf(&IObjectMetadata::extraText), 9},
        {"IObjectMetadata::getBoundingBox", slotOf(&IObjectMetadata::getBoundingBox), 10},

        {"IEventMetadataPacket::timestampUs", slotOf(&IEventMetadataPacket::timestampUs), 4},
        {"IEventMetadataPacket::durationUs", slotOf(&IEventMetadataPacket::durationUs), 5},
        {"IEventMetadataPacket::count", slotOf(&IEventMetadataPacket::count), 6},
        {"IEventMetadataPacket::at", slotOf(&IEventMetadataPacket::at), 7},
        {"IEventMetadataPacket::extraValue", slotOf(&IEventMetadataPacket::extraValue), 8},
        {"IObjectMetadataPacket::at", slotOf(&IObjectMetadataPacket::at), 7},
        {"IObjectMetadataPacket::extraValue", slotOf(&IObjectMetadataPacket::extraValue), 8},
        {"IObjectTrackBestShotPacket::timestampUs",
            slotOf(&IObjectTrackBestShotPacket::timestampUs), 4},
        {"IObjectTrackBestShotPacket::getTrackId",
            slotOf(&IObjectTrackBestShotPacket::getTrackId), 5},
        {"IObjectTrackBestShotPacket::getBoundingBox",
            slotOf(&IObjectTrackBestShotPacket::getBoundingBox), 6},
        {"IObjectTrackBestShotPacket::extraText", slotOf(&IObjectTrackBestShotPacket::extraText), 7},
        {"IObjectTrackBestShotPacket::data", slotOf(&IObjectTrackBestShotPacket::data), 8},
        {"IObjectTrackBestShotPacket::dataSize", slotOf(&IObjectTrackBestShotPacket::dataSize), 9},
        {"IObjectTrackBestShotPacket::dataText", slotOf(&IObjectTrackBestShotPacket::dataText), 10},
        {"IObjectTrackBestShotPacket::attribute", slotOf(&IObjectTrackBestShotPacket::attribute), 11},
        {"IObjectTrackBestShotPacket::attributeCount",
            slotOf(&IObjectTrackBestShotPacket::attributeCount), 12},
        {"IObjectTrackBestShotPacket::extraValue",
            slotOf(&IObjectTrackBestShotPacket::extraValue), 13},

        {"ISettingsResponse::values", slotOf(&ISettingsResponse::values), 4},
        {"ISettingsResponse::secondValues", slotOf(&ISettingsResponse::secondValues), 5},
        {"ISettingsResponse::model", slotOf(&ISettingsResponse::model), 6},
        {"IActionResponse::actionUrl", slotOf(&IActionResponse::actionUrl), 4},
        {"IActionResponse::actionText", slotOf(&IActionResponse::actionText), 5},
        {"IActionResponse::firstFlag", slotOf(&IActionResponse::firstFlag), 6},
        {"IActionResponse::secondFlag", slotOf(&IActionResponse::secondFlag), 7},
        {"IActiveSettingChangedResponse::actionResponse",
            slotOf(&IActiveSettingChangedResponse::actionResponse), 4},
        {"IActiveSettingChangedResponse::settingsResponse",
            slotOf(&IActiveSettingChangedResponse::settingsResponse), 5},

        {"IIntegration::attachUtilityProvider",
            slotOf(&vy::sdk::IIntegration::attachUtilityProvider), 4},
        {"analytics::IIntegration::manifest", slotOf(&analytics::IIntegration::manifest), 5},
        {"analytics::IIntegration::provideEngine", slotOf(&analytics::IIntegration::provideEngine), 6},

        {"IEngine::attachEngineInfo", slotOf(&IEngine::attachEngineInfo), 4},
        {"IEngine::applySettings", slotOf(&IEngine::applySettings), 5},
        {"IEngine::getIntegrationSideSettings", slotOf(&IEngine::getIntegrationSideSettings), 6},
        {"IEngine::manifest", slotOf(&IEngine::manifest), 7},
        {"IEngine::reservedQuery", slotOf(&IEngine::reservedQuery), 8},
        {"IEngine::doCreateDeviceAgent", slotOf(&IEngine::doCreateDeviceAgent), 9},
        {"IEngine::doExecuteAction", slotOf(&IEngine::doExecuteAction), 10},
        {"IEngine::setHandler", slotOf(&IEngine::setHandler), 11},
        {"IEngine::reservedOperation", slotOf(&IEngine::reservedOperation), 12},

        {"IDeviceAgent::applySettings", slotOf(&IConsumingDeviceAgent::applySettings), 4},
        {"IDeviceAgent::getIntegrationSideSettings",
            slotOf(&IConsumingDeviceAgent::getIntegrationSideSettings), 5},
        {"IDeviceAgent::manifest", slotOf(&IConsumingDeviceAgent::manifest), 6},
        {"IDeviceAgent::setHandler", slotOf(&IConsumingDeviceAgent::setHandler), 7},
        {"IDeviceAgent::reservedOperation", slotOf(&IConsumingDeviceAgent::reservedOperation), 8},
        {"IConsumingDeviceAgent::doPushDataPacket",
            slotOf(&IConsumingDeviceAgent::doPushDataPacket), 9},
        {"IConsumingDeviceAgent::finalize", slotOf(&IConsumingDeviceAgent::finalize), 10},
        {"IConsumingDeviceAgent::handleActiveSettingChange",
            slotOf(&IConsumingDeviceAgent::handleActiveSettingChange), 11},
        {"IDeviceAgent::IHostHandler::handleMetadata",
            slotOf(&IDeviceAgent::IHostHandler::handleMetadata), 4},
        {"IDeviceAgent::IHostHandler::handleDiagnosticEvent",
            slotOf(&IDeviceAgent::IHostHandler::handleDiagnosticEvent), 5},
        {"IDeviceAgent::IHostHandler::pushManifest",
            slotOf(&IDeviceAgent::IHostHandler::pushManifest), 6},

        {"IUtilityProvider4::secondText", slotOf(&IUtilityProvider4::secondText), 5},
        {"IUtilityProvider4::serverId", slotOf(&IUtilityProvider4::serverId), 7},
        {"IUtilityProvider4::cloudSystemId", slotOf(&IUtilityProvider4::cloudSystemId), 8},
        {"IUtilityProvider4::httpRequest", slotOf(&IUtilityProvider4::httpRequest), 10},
        {"IUtilityProvider4::cloudToken", slotOf(&IUtilityProvider4::cloudToken), 11},
        {"IUtilityProvider4::hostDirectory", slotOf(&IUtilityProvider4::hostDirectory), 14},
        {"IHttpRequestCompletionHandler::onRequestCompleted",
            slotOf(&IUtilityProvider4::IHttpRequestCompletionHandler::onRequestCompleted), 4},

        {"IDeviceInfo::id", slotOf(&IDeviceInfo::id), 4},
        {"IDeviceInfo::name", slotOf(&IDeviceInfo::name), 8},
        {"IEngineDescription::id", slotOf(&IEngineDescription::id), 4},
        {"IDataPacket::timestampUs", slotOf(&IDataPacket::timestampUs), 4},
        {"IActionRequest::actionId", slotOf(&IActionRequest::actionId), 4},
        {"IActionRequest::objectTrackId", slotOf(&IActionRequest::objectTrackId), 5},
        {"IActionRequest::deviceId", slotOf(&IActionRequest::deviceId), 6},
        {"IActionRequest::furtherObject", slotOf(&IActionRequest::furtherObject), 7},
        {"IActionRequest::timestampUs", slotOf(&IActionRequest::timestampUs), 8},
        {"IActionRequest::params", slotOf(&IActionRequest::params), 9},
    };
    for (const auto& c: cases)
        EXPECT_EQ(c.slot, c.expected) << c.function;
}

#else

TEST(HostSlotOrder, EveryInterfaceKeepsTheHostsSlots)
{
    GTEST_SKIP() << "slot numbers are read in the Itanium C++ ABI of x86-64 only";
}

#endif

} // namespace
