#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_compressed_video_packet.h>
#include <vy/sdk/analytics/i_consuming_device_agent.h>
#include <vy/sdk/analytics/i_custom_metadata_packet.h>
#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/helpers/output_settings.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_device_info.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk::analytics {

/**
 * Base of a per-camera device agent. Checks each data packet the host pushes, hands it by
 * kind to a push operation, then delivers the metadata packets the agent has ready to the
 * host's handler. Every delivery to the handler holds the agent mutex, so the handler is
 * never called by two threads of one agent at once; it must not call back into the agent.
 */
class ConsumingDeviceAgent: public RefCountable<IConsumingDeviceAgent>
{
protected:
    /**
     * deviceInfo is read for the print prefix only (null is reported and accepted).
     * enableOutput switches the informational lines; printPrefixAddition is put after the
     * library name in the prefix when not empty.
     */
    ConsumingDeviceAgent(const IDeviceInfo* deviceInfo, bool enableOutput,
        const std::string& printPrefixAddition = "");

public:
    ~ConsumingDeviceAgent() override;

    /** Merges the values into the settings kept, then answers with settingsReceived(). */
    Result<const ISettingsResponse*> applySettings(const IStringMap* settings) override;
    /** Leaves the result as passed. */
    void getIntegrationSideSettings(Result<const ISettingsResponse*>* outResult) const override;
    /** manifestString() in a new String. */
    Result<const IString*> manifest() const override;
    void setHandler(IHostHandler* handler) override;
    void reservedOperation() override {}
    void doPushDataPacket(Result<void>* outResult, IDataPacket* dataPacket) override;
    void finalize() override;
    /** Leaves the result as passed. */
    void handleActiveSettingChange(Result<IActiveSettingChangedResponse*>* outResult,
        const IActiveSettingChangedAction* action) override;

protected:
    virtual std::string manifestString() const = 0;

    // Each push operation receives the packet's one reference and releases it; returning
    // false fails the host's call with otherError. The defaults accept and ignore.
    virtual bool pushCompressedVideoFrame(Ptr<ICompressedVideoPacket> videoPacket);
    virtual bool pushUncompressedVideoFrame(Ptr<const IUncompressedVideoFrame> videoFrame);
    virtual bool pushCustomMetadataPacket(Ptr<ICustomMetadataPacket> customMetadataPacket);

    /**
     * Appends the packets ready for the host after a push, each with one reference that the
     * base gives back after delivery. The default adds nothing.
     */
    virtual bool pullMetadataPackets(std::vector<IMetadataPacket*>* metadataPackets);

    /** The answer to applySettings(); the default is success without a response. */
    virtual Result<const ISettingsResponse*> settingsReceived();

    /** Hands one packet to the host's handler now, from any thread. */
    void submitMetadataPacket(Ptr<IMetadataPacket> metadataPacket);

    /** Hands a new manifest (JSON) to the host's handler; refused while no handler is set. */
    void submitManifest(const std::string& manifest);

    /** A copy of the settings merged from every applySettings(). */
    std::map<std::string, std::string> currentSettingMap() const;

    const OutputSettings& outputSettings() const { return m_output; }

private:
    void failPush(Result<void>* outResult, ErrorCode errorCode,
        const std::string& message) const;
    /** Called with the agent mutex held. */
    void processMetadataPacket(Ptr<IMetadataPacket> metadataPacket, int index);
    void processMetadataPackets(const std::vector<IMetadataPacket*>& metadataPackets);
    void logMetadataPacketIfNeeded(const IMetadataPacket* metadataPacket, int index) const;

    // The print prefix is fixed at construction.
    OutputSettings m_output;

    // Held while the handler is replaced and during every delivery to it.
    mutable std::mutex m_mutex;
    Ptr<IHostHandler> m_handler; //< protected by m_mutex

    // Written by applySettings() on the host's thread; read by currentSettingMap() from
    // settingsReceived(), on the same call.
    std::map<std::string, std::string> m_settings;
};

} // namespace vy::sdk::analytics
