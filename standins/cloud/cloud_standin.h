#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_text.h"
#include "cloud/loopback_server.h"
#include "cloud/provisioning_storage.h"

namespace vy::standins {

struct CloudScenario;

// The cloud pipeline service on loopback: the pipelines offered per device
// and the device reset, with switches for the faults a real service shows.
// Thread-safe; answers come from the server's own threads.
class CloudStandin
{
public:
    enum class Route
    {
        availablePipelines, //< GET /system/{system}/device/{device}/available-pipelines
        reset, //< POST /reset/{system}
    };

    // Applied to every answer of a route until cleared.
    struct Fault
    {
        int status = 0; //< answer this status with an error body; 0: answer normally
        std::chrono::milliseconds delay{0}; //< wait this long before answering
        std::optional<std::string> body{}; //< sent in place of the answer's body
    };

    struct Request
    {
        std::string method;
        std::string path;
        std::string authorization;
        std::string userAgent;
        std::string contentType;
        std::string body;
    };

    // The name a scenario gives a route ("availablePipelines", "reset"); nullopt: none.
    static std::optional<Route> routeNamed(std::string_view name);

    CloudStandin();
    ~CloudStandin();

    CloudStandin(const CloudStandin&) = delete;
    CloudStandin& operator=(const CloudStandin&) = delete;

    bool start();
    void stop();
    int port() const { return m_server.port(); }
    // What the plug-in's CloudAPI option names: "http://127.0.0.1:<port>".
    std::string baseUrl() const;

    // Requests whose "Authorization" differs are refused with 401. Until set,
    // any value (or none) is accepted.
    void setToken(std::string token);
    // Requests for another cloud system are answered 404. Until set, any.
    void setSystemId(std::string systemId);

    // The catalogue: a JSON array of pipeline objects, each with "name" and
    // "uuid" and the pipeline's "models", "pipelines", ... False when the text
    // is not a JSON array (the catalogue is then unchanged).
    bool setPipelines(const std::string& jsonArray);
    // Limits what one device is offered, by uuid, in this order; a device not
    // named here is offered the whole catalogue. A device is reset to the
    // first pipeline it is offered.
    void offerPipelines(const std::string& deviceId, std::vector<std::string> uuids);

    // Applies the whole scenario: identity, catalogue, offers, stored files and faults (the
    // faults it names replace those set before; the others stay). False when the catalogue
    // is not an array, the runtime package cannot be read or a model lacks "file" or
    // "content".
    bool configure(const CloudScenario& scenario);

    // What the storage serves, as the scenario set it: a JSON array text of model objects
    // and a JSON object text of the runtime package ("" when there is none).
    std::string models() const;
    std::string runtimePackage() const;

    void setFault(Route route, Fault fault);
    void clearFaults();

    std::vector<Request> requests() const;
    void clearRequests();

    // Runtime packages and models, served by the same server.
    ProvisioningStorage& storage() { return m_storage; }

private:
    struct Answer
    {
        int status = 200;
        std::string body;
    };
    using RouteHandler = Answer (CloudStandin::*)(const httplib::Request&);

    struct RouteEntry
    {
        const char* method;
        const char* pattern;
        Route route;
        const char* name; //< as a scenario names the route
        RouteHandler handler;
    };
    static const RouteEntry kRoutes[];

    // Hands the scenario's runtime package and models to the storage.
    bool storeFiles(const CloudScenario& scenario);

    void serve(const RouteEntry& entry, const httplib::Request& request, httplib::Response& response);

    Answer availablePipelines(const httplib::Request& request);
    Answer reset(const httplib::Request& request);

    // Called with m_mutex held. The catalogue entries offered to the device.
    std::vector<yyjson_val*> offeredLocked(const std::string& deviceId) const;
    // Called with m_mutex held. An answer of the given status when the system is unknown.
    std::optional<Answer> checkSystemLocked(const std::string& systemId) const;

    LoopbackServer m_server;
    ProvisioningStorage m_storage{m_server};

    mutable std::mutex m_mutex; //< guards everything below
    std::optional<std::string> m_token;
    std::optional<std::string> m_systemId;
    JsonDoc m_catalogue;
    std::map<std::string, std::vector<std::string>> m_offers;
    std::string m_models = "[]";
    std::string m_runtimePackage;
    std::map<Route, Fault> m_faults;
    std::vector<Request> m_requests;
};

} // namespace vy::standins
