// The cloud pipeline service's answers, served on loopback to the plug-in's own client: the
// same body answers the available-pipelines request and the reset. Every offer of an array
// becomes one pipeline, in order, whose PATCH body selects it by its own id; anything else
// offers none. A reset patches only devices it asked about, each with a JSON body holding the
// cloud's configuration, and succeeds exactly when the answer configured devices.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/result.h>

#include "cloud/loopback_server.h"
#include "core/cloud_api_client.h"
#include "foundations/json_helpers.h"
#include "fuzz_check.h"

namespace {

const std::vector<std::string> kAskedDevices = {"d1", "d2"};

// The cloud's answer of the input under test, served to every request.
class Cloud
{
public:
    Cloud()
    {
        const auto answer = [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(m_mutex);
            response.set_content(m_body, "application/json");
        };
        m_server.http().Get(R"(/system/.*/device/.*/available-pipelines)", answer);
        m_server.http().Post(R"(/reset/.*)", answer);
        FUZZ_CHECK(m_server.start(), "the loopback cloud starts");
    }

    void answerWith(std::string body)
    {
        std::lock_guard lock(m_mutex);
        m_body = std::move(body);
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_server.port()); }

private:
    vy::standins::LoopbackServer m_server;
    std::mutex m_mutex;
    std::string m_body; //< guarded by m_mutex
};

// A host that takes every PATCH and keeps it.
class PatchedHost: public vy::sdk::RefCountable<vy::sdk::IUtilityProvider4>
{
public:
    struct Patch_t
    {
        std::string path;
        std::string body;
    };

    vy::sdk::IString* secondText() const override { return nullptr; }
    const char* serverId() const override { return "server"; }
    vy::sdk::IString* cloudSystemId() const override { return vy::sdk::newRefCounted<vy::sdk::String>("site").releasePtr(); }
    void httpRequest(int32_t, const char* path, const char*, const char*, const char* body,
        IHttpRequestCompletionHandler* handler) override
    {
        patches.push_back({path ? path : "", body ? body : ""});
        handler->onRequestCompleted(vy::sdk::newRefCounted<vy::sdk::String>("HTTP/1.1 200 OK\r\n\r\n{}").releasePtr());
    }
    const char* cloudToken() const override { return "token"; }
    vy::sdk::IString* hostDirectory() const override { return nullptr; }

    std::vector<Patch_t> patches;
};

void checkPipelines(const std::vector<vyai::AvailablePipeline>& pipelines, yyjson_val* offers)
{
    FUZZ_CHECK(pipelines.size() == (yyjson_is_arr(offers) ? yyjson_arr_size(offers) : 0), "every offer is a pipeline");
    for (size_t i = 0; i < pipelines.size(); ++i)
    {
        yyjson_val* offer = yyjson_arr_get(offers, i);
        const char* name = yyjson_get_str(yyjson_obj_get(offer, "name"));
        const char* uuid = yyjson_get_str(yyjson_obj_get(offer, "uuid"));
        FUZZ_CHECK(pipelines[i].name == (name ? name : "") && pipelines[i].uuid == (uuid ? uuid : ""),
            "a pipeline keeps the offer's name and id");
        const vyai::JsonDocument body = vyai::readJsonDocument(pipelines[i].parametersJson);
        yyjson_val* vyAI = yyjson_ptr_get(yyjson_doc_get_root(body.get()), "/parameters/vyAI");
        FUZZ_CHECK(vyAI != nullptr, "a pipeline's PATCH body holds its parameters");
        if (uuid && yyjson_is_obj(offer))
        {
            FUZZ_CHECK(yyjson_equals_str(yyjson_obj_get(vyAI, "selectedPipeline"), uuid),
                "a pipeline's PATCH body selects it by its own id");
        }
    }
}

void checkReset(bool reset, const PatchedHost& host, yyjson_val* devices)
{
    size_t asked = 0;
    size_t index = 0;
    size_t count = 0;
    yyjson_val* key = nullptr;
    yyjson_val* configuration = nullptr;
    // The loop steps from its object's first member: never over no object at all.
    if (yyjson_is_obj(devices))
    {
        yyjson_obj_foreach(devices, index, count, key, configuration)
        {
            const std::string id(yyjson_get_str(key), yyjson_get_len(key));
            asked += id == kAskedDevices[0] || id == kAskedDevices[1];
        }
    }
    FUZZ_CHECK(host.patches.size() == asked, "exactly the devices asked about and answered are patched");
    for (const PatchedHost::Patch_t& patch: host.patches)
    {
        FUZZ_CHECK(patch.path == "/rest/v4/devices/d1" || patch.path == "/rest/v4/devices/d2",
            "only devices asked about are patched");
        const vyai::JsonDocument body = vyai::readJsonDocument(patch.body);
        FUZZ_CHECK(yyjson_ptr_get(yyjson_doc_get_root(body.get()), "/parameters/vyAI") != nullptr,
            "a patch holds the cloud's configuration");
    }
    FUZZ_CHECK(reset == yyjson_is_obj(devices), "a reset succeeds exactly when the cloud configured devices");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Cloud cloud;
    const std::string answer(reinterpret_cast<const char*>(data), size);
    cloud.answerWith(answer);
    vyai::CloudApiClient client({cloud.url(), std::chrono::milliseconds(5000)});
    const auto host = vy::sdk::newRefCounted<PatchedHost>();
    const vyai::JsonDocument doc = vyai::readJsonDocument(answer);
    yyjson_val* root = yyjson_doc_get_root(doc.get());

    checkPipelines(client.fetchAvailablePipelines(host, "d1"), root);
    const bool reset = client.resetDevices(host, kAskedDevices);
    checkReset(reset, *host, yyjson_obj_get(root, "Devices"));
    return 0;
}
