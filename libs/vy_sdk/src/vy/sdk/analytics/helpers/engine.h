#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/helpers/output_settings.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk::analytics {

/**
 * Base of the plug-in's engine: keeps the engine's print prefix, the settings the host
 * passed and the host's engine handler, and turns the host's settings, action and manifest
 * calls into settingsReceived(), runAction() and manifestString(). A subclass supplies
 * doCreateDeviceAgent() and manifestString().
 */
class Engine: public RefCountable<IEngine>
{
protected:
    /** printPrefixAddition is put after the library name in the prefix when not empty. */
    explicit Engine(bool enableOutput, std::string printPrefixAddition = "");

public:
    ~Engine() override;

    /** Rebuilds the print prefix with the engine's id; the description is not kept. */
    void attachEngineInfo(const IEngineDescription* engineInfo) override;
    /** Merges the values into the settings kept, then answers with settingsReceived(). */
    Result<const ISettingsResponse*> applySettings(const IStringMap* settings) override;
    /** Leaves the result as passed. */
    void getIntegrationSideSettings(Result<const ISettingsResponse*>* outResult) const override;
    /** manifestString() in a new String. */
    Result<const IString*> manifest() const override;
    bool reservedQuery() const override { return true; }
    /** Reads the request and answers with runAction(). */
    void doExecuteAction(Result<ActionResult>* outResult,
        const IActionRequest* actionRequest) override;
    void setHandler(IHostHandler* handler) override;
    void reservedOperation() override {}

protected:
    virtual std::string manifestString() const = 0;

    /** The answer to applySettings(); the default is success without a response. */
    virtual Result<const ISettingsResponse*> settingsReceived();

    /**
     * One engine action; furtherObject carries a reference the callee gives back. The
     * default answers success with an empty ActionResult.
     */
    virtual Result<ActionResult> runAction(const std::string& actionId, Uuid objectTrackId,
        Uuid deviceId, int64_t timestampUs, Ptr<IRefCountable> furtherObject,
        const std::map<std::string, std::string>& params);

    const OutputSettings& outputSettings() const { return m_output; }
    /** The settings merged from every applySettings(). */
    const std::map<std::string, std::string>& settings() const { return m_settings; }

private:
    void executeAction(Result<ActionResult>* outResult, const IActionRequest* actionRequest);

    // The host sets the engine description, the settings and actions without overlapping
    // these calls; the prefix and settings are therefore not locked.
    OutputSettings m_output;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_settings;
    Ptr<IHostHandler> m_handler; //< protected by m_mutex
    const std::string m_printPrefixAddition;
};

} // namespace vy::sdk::analytics
