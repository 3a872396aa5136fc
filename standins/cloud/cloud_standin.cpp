#include "cloud/cloud_standin.h"

#include <algorithm>
#include <cstdlib>

#include "cloud/cloud_scenario.h"

namespace vy::standins {

namespace {

const char* reasonOf(int status)
{
    switch (status)
    {
        case 400: return "bad request";
        case 401: return "unauthorized";
        case 404: return "not found";
        case 500: return "internal error";
        case 503: return "unavailable";
        default: return "error";
    }
}

std::string errorBody(int status)
{
    return errorJson(reasonOf(status));
}

const char* stringMember(yyjson_val* object, const char* key)
{
    return yyjson_get_str(yyjson_obj_get(object, key));
}

std::string valueText(yyjson_val* value)
{
    std::size_t length = 0;
    char* text = yyjson_val_write(value, YYJSON_WRITE_NOFLAG, &length);
    if (!text)
        return {};
    std::string result(text, length);
    std::free(text);
    return result;
}

// The configuration a device gets for a pipeline: the entry without its
// "name" and "uuid", with "selectedPipeline" naming it.
yyjson_mut_val* deviceConfiguration(yyjson_mut_doc* doc, yyjson_val* pipeline)
{
    yyjson_mut_val* configuration = yyjson_val_mut_copy(doc, pipeline);
    yyjson_mut_obj_remove_str(configuration, "name");
    yyjson_mut_obj_remove_str(configuration, "uuid");
    if (const char* uuid = stringMember(pipeline, "uuid"))
        yyjson_mut_obj_add_strcpy(doc, configuration, "selectedPipeline", uuid);
    return configuration;
}

} // namespace

// The route table: add a line (and a handler) per service the cloud offers.
const CloudStandin::RouteEntry CloudStandin::kRoutes[] = {
    {"GET", R"(/system/([^/]*)/device/([^/]+)/available-pipelines)", Route::availablePipelines,
        "availablePipelines", &CloudStandin::availablePipelines},
    {"POST", R"(/reset/([^/]*))", Route::reset, "reset", &CloudStandin::reset},
};

std::optional<CloudStandin::Route> CloudStandin::routeNamed(std::string_view name)
{
    for (const RouteEntry& entry: kRoutes)
    {
        if (name == entry.name)
            return entry.route;
    }
    return std::nullopt;
}

CloudStandin::CloudStandin(): m_catalogue(parseJson("[]"))
{
    for (const RouteEntry& entry: kRoutes)
    {
        auto handler = [this, &entry](const httplib::Request& request, httplib::Response& response) {
            serve(entry, request, response);
        };
        if (std::string_view(entry.method) == "GET")
            m_server.http().Get(entry.pattern, handler);
        else
            m_server.http().Post(entry.pattern, handler);
    }
}

CloudStandin::~CloudStandin()
{
    stop();
}

bool CloudStandin::start()
{
    return m_server.start();
}

void CloudStandin::stop()
{
    m_server.stop();
}

std::string CloudStandin::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_server.port());
}

void CloudStandin::setToken(std::string token)
{
    std::lock_guard lock(m_mutex);
    m_token = std::move(token);
}

void CloudStandin::setSystemId(std::string systemId)
{
    std::lock_guard lock(m_mutex);
    m_systemId = std::move(systemId);
}

bool CloudStandin::setPipelines(const std::string& jsonArray)
{
    JsonDoc catalogue = parseJson(jsonArray);
    if (!catalogue || !yyjson_is_arr(yyjson_doc_get_root(catalogue.get())))
        return false;
    std::lock_guard lock(m_mutex);
    m_catalogue = std::move(catalogue);
    return true;
}

void CloudStandin::offerPipelines(const std::string& deviceId, std::vector<std::string> uuids)
{
    std::lock_guard lock(m_mutex);
    m_offers[deviceId] = std::move(uuids);
}

bool CloudStandin::configure(const CloudScenario& scenario)
{
    if (!setPipelines(scenario.pipelines) || !storeFiles(scenario))
        return false;
    std::lock_guard lock(m_mutex);
    m_systemId = scenario.systemId;
    m_token = scenario.token;
    m_offers = scenario.offers;
    m_models = scenario.models;
    m_runtimePackage = scenario.runtimePackage;
    for (const auto& [route, fault]: scenario.faults)
        m_faults[route] = fault;
    return true;
}

bool CloudStandin::storeFiles(const CloudScenario& scenario)
{
    if (scenario.token)
        m_storage.setToken(*scenario.token);
    if (scenario.modelFault)
        m_storage.setModelFault(*scenario.modelFault);
    if (scenario.packageFault)
        m_storage.setPackageFault(*scenario.packageFault);
    if (!scenario.runtimePackage.empty())
    {
        JsonDoc package = parseJson(scenario.runtimePackage);
        const char* path = stringMember(package ? yyjson_doc_get_root(package.get()) : nullptr, "path");
        if (!path || !m_storage.loadRuntimePackage(path))
            return false;
    }
    JsonDoc models = parseJson(scenario.models);
    yyjson_val* list = models ? yyjson_doc_get_root(models.get()) : nullptr;
    if (!yyjson_is_arr(list))
        return false;
    std::size_t index = 0;
    std::size_t count = 0;
    yyjson_val* model = nullptr;
    yyjson_arr_foreach(list, index, count, model)
    {
        const char* file = stringMember(model, "file");
        yyjson_val* content = yyjson_obj_get(model, "content");
        if (!file || !*file || !content)
            return false;
        // A model given as JSON is served as its compact text; a string as it is.
        const std::string plain = yyjson_is_str(content) ? yyjson_get_str(content) : valueText(content);
        m_storage.putModel(file, plain, yyjson_get_sint(yyjson_obj_get(model, "lastModified")));
    }
    return true;
}

std::string CloudStandin::models() const
{
    std::lock_guard lock(m_mutex);
    return m_models;
}

std::string CloudStandin::runtimePackage() const
{
    std::lock_guard lock(m_mutex);
    return m_runtimePackage;
}

void CloudStandin::setFault(Route route, Fault fault)
{
    std::lock_guard lock(m_mutex);
    m_faults[route] = std::move(fault);
}

void CloudStandin::clearFaults()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

std::vector<CloudStandin::Request> CloudStandin::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void CloudStandin::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void CloudStandin::serve(const RouteEntry& entry, const httplib::Request& request, httplib::Response& response)
{
    Fault fault;
    bool authorized = true;
    {
        std::lock_guard lock(m_mutex);
        const Request& seen = m_requests.emplace_back(Request{request.method, request.path,
            request.get_header_value("Authorization"), request.get_header_value("User-Agent"),
            request.get_header_value("Content-Type"), request.body});
        if (const auto found = m_faults.find(entry.route); found != m_faults.end())
            fault = found->second;
        if (m_token)
            authorized = seen.authorization == *m_token;
    }

    if (fault.delay.count() > 0 && !m_server.pause(fault.delay))
        return; // stopping: the connection is dropped

    Answer answer;
    if (fault.status != 0)
        answer = {fault.status, errorBody(fault.status)};
    else if (!authorized)
        answer = {401, errorBody(401)};
    else
        answer = (this->*entry.handler)(request);
    if (fault.body)
        answer.body = *fault.body;

    response.status = answer.status;
    response.set_content(answer.body, "application/json");
}

std::optional<CloudStandin::Answer> CloudStandin::checkSystemLocked(const std::string& systemId) const
{
    if (m_systemId && *m_systemId != systemId)
        return Answer{404, errorBody(404)};
    return std::nullopt;
}

std::vector<yyjson_val*> CloudStandin::offeredLocked(const std::string& deviceId) const
{
    yyjson_val* catalogue = yyjson_doc_get_root(m_catalogue.get());
    std::vector<yyjson_val*> all;
    std::size_t index = 0;
    std::size_t count = 0;
    yyjson_val* pipeline = nullptr;
    yyjson_arr_foreach(catalogue, index, count, pipeline)
        all.push_back(pipeline);

    const auto offer = m_offers.find(deviceId);
    if (offer == m_offers.end())
        return all;
    std::vector<yyjson_val*> offered;
    for (const std::string& uuid: offer->second)
    {
        const auto match = std::find_if(all.begin(), all.end(), [&uuid](yyjson_val* candidate) {
            const char* candidateUuid = stringMember(candidate, "uuid");
            return candidateUuid && uuid == candidateUuid;
        });
        if (match != all.end())
            offered.push_back(*match);
    }
    return offered;
}

CloudStandin::Answer CloudStandin::availablePipelines(const httplib::Request& request)
{
    MutableJsonDoc doc = newJsonDoc();
    yyjson_mut_val* list = yyjson_mut_arr(doc.get());
    yyjson_mut_doc_set_root(doc.get(), list);

    std::lock_guard lock(m_mutex);
    if (auto refusal = checkSystemLocked(request.matches[1]))
        return *refusal;
    for (yyjson_val* pipeline: offeredLocked(request.matches[2]))
        yyjson_mut_arr_append(list, yyjson_val_mut_copy(doc.get(), pipeline));
    return {200, toCompactText(doc.get())};
}

CloudStandin::Answer CloudStandin::reset(const httplib::Request& request)
{
    JsonDoc body = parseJson(request.body);
    yyjson_val* devices = yyjson_obj_get(body ? yyjson_doc_get_root(body.get()) : nullptr, "Devices");
    if (!yyjson_is_arr(devices))
        return {400, errorBody(400)};

    MutableJsonDoc doc = newJsonDoc();
    yyjson_mut_val* root = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), root);
    yyjson_mut_val* configurations = yyjson_mut_obj(doc.get());
    yyjson_mut_obj_add_val(doc.get(), root, "Devices", configurations);

    std::lock_guard lock(m_mutex);
    if (auto refusal = checkSystemLocked(request.matches[1]))
        return *refusal;
    std::size_t index = 0;
    std::size_t count = 0;
    yyjson_val* device = nullptr;
    yyjson_arr_foreach(devices, index, count, device)
    {
        const char* deviceId = yyjson_get_str(device);
        if (!deviceId)
            continue;
        const std::vector<yyjson_val*> offered = offeredLocked(deviceId);
        if (offered.empty())
            continue;
        yyjson_mut_obj_add(configurations, yyjson_mut_strcpy(doc.get(), deviceId),
            deviceConfiguration(doc.get(), offered.front()));
    }
    return {200, toCompactText(doc.get())};
}

} // namespace vy::standins
