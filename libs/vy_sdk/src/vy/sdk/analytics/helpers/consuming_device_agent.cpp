#include "vy/sdk/analytics/helpers/consuming_device_agent.h"

#include <vy/kit/print.h>
#include <vy/sdk/analytics/helpers/base_support.h>
#include <vy/sdk/analytics/i_compound_metadata_packet.h>
#include <vy/sdk/analytics/i_event_metadata_packet.h>
#include <vy/sdk/analytics/i_object_metadata_packet.h>
#include <vy/sdk/analytics/i_object_track_best_shot_packet.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/failure_report.h>
#include <vy/sdk/helpers/string.h>

namespace vy::sdk::analytics {

using kit::debug::detail::Print;

namespace {

std::string indexText(int index)
{
    return index == -1 ? std::string() : " #" + std::to_string(index);
}

/** Gives back the references that pullMetadataPackets() handed over, on every path. */
class PulledPackets
{
public:
    PulledPackets() = default;
    ~PulledPackets()
    {
        for (IMetadataPacket* packet: packets)
        {
            if (packet)
                packet->dropRef();
        }
    }
    PulledPackets(const PulledPackets&) = delete;
    PulledPackets& operator=(const PulledPackets&) = delete;

    std::vector<IMetadataPacket*> packets;
};

} // namespace

ConsumingDeviceAgent::ConsumingDeviceAgent(
    const IDeviceInfo* deviceInfo, bool enableOutput, const std::string& printPrefixAddition)
    :
    m_output(enableOutput, detail::instancePrintPrefix(printPrefixAddition, "device",
        deviceInfo != nullptr, deviceInfo ? deviceInfo->id() : nullptr))
{
    if (!deviceInfo)
    {
        sdk::detail::reportFailureWithPrefix(
            m_output.printPrefix(), "deviceInfo", __FILE__, __LINE__);
    }
    Print() << m_output.printPrefix() << "Created " << static_cast<const void*>(this);
}

ConsumingDeviceAgent::~ConsumingDeviceAgent()
{
    Print() << m_output.printPrefix() << "Destroyed " << static_cast<const void*>(this);
}

Result<const ISettingsResponse*> ConsumingDeviceAgent::applySettings(const IStringMap* settings)
{
    return detail::applySettings(m_output, m_settings, settings, "Settings are invalid",
        [this] { return settingsReceived(); });
}

void ConsumingDeviceAgent::getIntegrationSideSettings(
    Result<const ISettingsResponse*>* /*outResult*/) const
{
}

Result<const IString*> ConsumingDeviceAgent::manifest() const
{
    return detail::answerManifest(m_output.printPrefix(), [this] { return manifestString(); });
}

void ConsumingDeviceAgent::setHandler(IHostHandler* handler)
{
    detail::replaceHeld(m_mutex, m_handler, handler);
}

void ConsumingDeviceAgent::failPush(
    Result<void>* outResult, ErrorCode errorCode, const std::string& message) const
{
    Print() << m_output.printPrefix() << "doPushDataPacket() "
        << (m_output.enableOutput() ? "END " : "") << "-> " << toString(errorCode) << ": "
        << message;
    if (outResult)
        *outResult = error(errorCode, message);
}

void ConsumingDeviceAgent::doPushDataPacket(Result<void>* outResult, IDataPacket* dataPacket)
{
    try
    {
        if (m_output.enableOutput())
            Print() << m_output.printPrefix() << "doPushDataPacket() BEGIN";

        if (!dataPacket)
            return failPush(outResult, ErrorCode::invalidParams,
                "dataPacket is null; discarding it.");

        if (const int64_t timestampUs = dataPacket->timestampUs(); timestampUs < 0)
        {
            return failPush(outResult, ErrorCode::invalidParams,
                "dataPacket has invalid timestamp " + std::to_string(timestampUs)
                    + "; discarding the packet.");
        }

        // First match wins: a packet of two kinds goes to one push operation only.
        if (auto compressed = queryInterface<ICompressedVideoPacket>(dataPacket))
        {
            if (!pushCompressedVideoFrame(std::move(compressed)))
                return failPush(outResult, ErrorCode::otherError,
                    "pushCompressedVideoFrame() failed.");
        }
        else if (auto uncompressed = queryInterface<IUncompressedVideoFrame>(dataPacket))
        {
            if (!pushUncompressedVideoFrame(std::move(uncompressed)))
                return failPush(outResult, ErrorCode::otherError,
                    "pushUncompressedVideoFrame() failed.");
        }
        else if (auto custom = queryInterface<ICustomMetadataPacket>(dataPacket))
        {
            if (!pushCustomMetadataPacket(std::move(custom)))
                return failPush(outResult, ErrorCode::otherError,
                    "pushCustomMetadataPacket() failed.");
        }
        else
        {
            return failPush(outResult, ErrorCode::invalidParams,
                "Unsupported frame supplied; ignored.");
        }

        bool handlerSet = false;
        {
            const std::lock_guard lock(m_mutex);
            handlerSet = (bool) m_handler;
        }
        if (!handlerSet)
            return failPush(outResult, ErrorCode::internalError, "setHandler() was not called.");

        PulledPackets pulled;
        if (!pullMetadataPackets(&pulled.packets))
            return failPush(outResult, ErrorCode::otherError, "pullMetadataPackets() failed.");

        processMetadataPackets(pulled.packets);

        if (m_output.enableOutput())
            Print() << m_output.printPrefix() << "doPushDataPacket() END";
    }
    catch (...)
    {
        failPush(outResult, ErrorCode::otherError,
            "doPushDataPacket() threw: " + detail::currentExceptionText());
    }
}

void ConsumingDeviceAgent::finalize()
{
    try
    {
        if (m_output.enableOutput())
            Print() << m_output.printPrefix() << "finalize()";
    }
    catch (...)
    {
        // Only the debug line can fail here, and nothing may leave a host call.
    }
}

void ConsumingDeviceAgent::handleActiveSettingChange(
    Result<IActiveSettingChangedResponse*>* /*outResult*/,
    const IActiveSettingChangedAction* /*action*/)
{
}

bool ConsumingDeviceAgent::pushCompressedVideoFrame(Ptr<ICompressedVideoPacket> /*videoPacket*/)
{
    return true;
}

bool ConsumingDeviceAgent::pushUncompressedVideoFrame(
    Ptr<const IUncompressedVideoFrame> /*videoFrame*/)
{
    return true;
}

bool ConsumingDeviceAgent::pushCustomMetadataPacket(
    Ptr<ICustomMetadataPacket> /*customMetadataPacket*/)
{
    return true;
}

bool ConsumingDeviceAgent::pullMetadataPackets(std::vector<IMetadataPacket*>* /*metadataPackets*/)
{
    return true;
}

Result<const ISettingsResponse*> ConsumingDeviceAgent::settingsReceived()
{
    return {};
}

void ConsumingDeviceAgent::submitMetadataPacket(Ptr<IMetadataPacket> metadataPacket)
{
    const std::lock_guard lock(m_mutex);
    processMetadataPacket(std::move(metadataPacket), -1);
}

void ConsumingDeviceAgent::submitManifest(const std::string& manifest)
{
    // The handler is taken with a reference of our own, so that a concurrent setHandler()
    // cannot release it during the call.
    Ptr<IHostHandler> handler;
    {
        const std::lock_guard lock(m_mutex);
        handler = m_handler;
    }
    if (!handler)
    {
        Print() << m_output.printPrefix() << "submitManifest(): "
            << "INTERNAL ERROR: setHandler() was not called; ignoring the manifest";
        return;
    }
    const auto manifestString = newRefCounted<String>(manifest);
    handler->pushManifest(manifestString.get());
}

std::map<std::string, std::string> ConsumingDeviceAgent::currentSettingMap() const
{
    return m_settings;
}

void ConsumingDeviceAgent::processMetadataPackets(
    const std::vector<IMetadataPacket*>& metadataPackets)
{
    if (!metadataPackets.empty() && m_output.enableOutput())
    {
        Print() << m_output.printPrefix() << "processMetadataPackets(): Producing "
            << metadataPackets.size() << " metadata packet(s).";
    }

    const std::lock_guard lock(m_mutex);
    int index = 0;
    for (IMetadataPacket* packet: metadataPackets)
        processMetadataPacket(shareToPtr(packet), index++);
}

void ConsumingDeviceAgent::processMetadataPacket(Ptr<IMetadataPacket> metadataPacket, int index)
{
    if (!m_handler)
    {
        Print() << m_output.printPrefix() << "processMetadataPacket(): "
            << "INTERNAL ERROR: setHandler() was not called; ignoring the packet";
        return;
    }
    if (!metadataPacket)
    {
        if (m_output.enableOutput())
        {
            Print() << m_output.printPrefix() << "processMetadataPacket"
                << "(): WARNING: Null metadata packet" << indexText(index)
                << " found; discarded.";
        }
        return;
    }

    logMetadataPacketIfNeeded(metadataPacket.get(), index);
    if (metadataPacket->timestampUs() < 0)
    {
        sdk::detail::reportFailureWithPrefix(m_output.printPrefix(),
            "metadataPacket->timestampUs() >= 0", __FILE__, __LINE__);
    }

    // Delivered under the agent mutex: the handler sees one agent's packets one at a time,
    // in the order they obtained the mutex.
    m_handler->handleMetadata(metadataPacket.get());
}

void ConsumingDeviceAgent::logMetadataPacketIfNeeded(
    const IMetadataPacket* metadataPacket, int index) const
{
    if (!m_output.enableOutput())
        return;
    const std::string& prefix = m_output.printPrefix();
    if (!metadataPacket)
    {
        sdk::detail::reportFailureWithPrefix(prefix, "metadataPacket", __FILE__, __LINE__);
        return;
    }

    std::string kind;
    if (queryInterface<IObjectMetadataPacket>(metadataPacket))
        kind = "Object";
    else if (queryInterface<IEventMetadataPacket>(metadataPacket))
        kind = "Event";
    else if (queryInterface<IObjectTrackBestShotPacket>(metadataPacket))
        kind = "Best Shot";
    else if (toPtr(const_cast<IMetadataPacket*>(metadataPacket)->findInterface(
        "vy::sdk::analytics::IObjectTrackTitlePacket")))
    {
        kind = "Title";
    }
    else
    {
        Print() << prefix << "logMetadataPacketIfNeeded(): WARNING: Metadata packet"
            << indexText(index) << " has unknown type.";
        kind = "Unknown";
    }
    const std::string caption = kind + " metadata packet" + indexText(index);

    const auto compound = queryInterface<ICompoundMetadataPacket>(metadataPacket);
    if (!compound)
        return;

    const int32_t count = compound->count();
    if (count == 0)
    {
        Print() << prefix << "logMetadataPacketIfNeeded(): WARNING: " << caption
            << " is empty.";
        return;
    }

    std::string itemText = "item(s)";
    if (count == 1)
    {
        const auto item = toPtr(compound->at(0));
        const char* typeId = item ? item->typeId() : nullptr;
        itemText = "item of type " + std::string(typeId ? typeId : "");
    }
    Print() << prefix << "logMetadataPacketIfNeeded(): " << caption << " contains "
        << count << " " << itemText << ".";

    if (metadataPacket->timestampUs() == 0)
    {
        Print() << prefix << "logMetadataPacketIfNeeded(): WARNING: " << caption
            << " has timestamp 0.";
    }
}

} // namespace vy::sdk::analytics
