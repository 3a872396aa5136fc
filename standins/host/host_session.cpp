#include "host/host_session.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <QtCore/QtGlobal>

#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/helpers/uuid.h>

#include "host/camera_feeder.h"
#include "host/device_info.h"
#include "host/engine_description.h"
#include "host/engine_handler.h"
#include "host/rest_store.h"
#include "host/sdk_results.h"

namespace vyhost {

using namespace vy::sdk;
using namespace vy::sdk::analytics;

namespace {

constexpr const char* kExpectedSdkVersion = "6.1.4 R1";
constexpr const char* kEngineId = "vy.vyai";

std::string defaultPluginPath()
{
    // The build puts vyhost in <build>/standins/host and the plug-in in <build>.
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "libvy_veltrin_plugin.so";
    return (executable.parent_path() / "../../libvy_veltrin_plugin.so").lexically_normal();
}

/** "libvy_veltrin_plugin.so" -> "vy_veltrin_plugin": the name that starts the SDK's lines. */
std::string libraryName(const std::string& path)
{
    std::string name = std::filesystem::path(path).stem();
    if (name.rfind("lib", 0) == 0)
        name.erase(0, 3);
    return name;
}

std::string newDeviceId()
{
    return uuidToString(randomUuid(), UuidFormatOptions::hyphens | UuidFormatOptions::braces);
}

/** The text of a settings response's model and values as one "settingsModel" line. */
void printSettingsResponse(
    OutputStream& out, const std::string& camera, const ISettingsResponse* response)
{
    JsonLine line("settingsModel");
    line.addString("camera", camera);
    const auto model = toPtr(response->model());
    line.addJsonText("model", textOf(model.get()));
    yyjson_mut_val* values = yyjson_mut_obj_add_obj(line.doc(), line.root(), "values");
    if (const auto map = toPtr(response->values()))
    {
        for (int32_t i = 0; i < map->count(); ++i)
        {
            const char* key = map->key(i);
            const char* value = map->value(i);
            yyjson_mut_obj_add(values, yyjson_mut_strcpy(line.doc(), key ? key : ""),
                yyjson_mut_strcpy(line.doc(), value ? value : ""));
        }
    }
    out.write(line);
}

/** Prints a manifest as a line of `type`; false when the result is an error. */
bool printManifest(OutputStream& out, const char* type, const Result<const IString*>& manifest,
    std::string* failure)
{
    const auto text = toPtr(manifest.value());
    *failure = takeErrorText(manifest.error());
    if (!failure->empty())
        return false;
    JsonLine line(type);
    line.addJsonText("manifest", textOf(text.get()));
    out.write(line);
    return true;
}

} // namespace

HostSession::HostSession(Options options, OutputStream& out):
    m_options(std::move(options)), m_out(out)
{
}

HostSession::~HostSession()
{
    releaseAll();
    if (m_removeHostDirectory)
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_hostDirectory, ignored);
    }
}

bool HostSession::fail(const std::string& message)
{
    m_out.log(message);
    return false;
}

int HostSession::run()
{
    // vyhost's own objects (frames, handlers, descriptions, strings) are counted too.
    LibContext& hostContext = libContext();
    hostContext.setName("vyhost");
    if (!hostContext.refCountableRegistry())
        hostContext.setRefCountableRegistry(new LeakRegistry(m_hostObjects));

    if (!m_options.scenarioFile.empty())
    {
        fail("scenario files are not supported yet: " + m_options.scenarioFile);
        printSummary(false);
        return 1;
    }

    const bool completed = prepareHostDirectory() && loadPlugin() && createIntegration()
        && createEngine() && createDeviceAgents();
    if (completed)
    {
        pushFrames();
        waitForQuiet();
    }
    releaseAll();
    printSummary(completed);
    const bool leaked = m_hostObjects->live() != 0 || m_pluginObjects->live() != 0;
    return completed && !leaked ? 0 : 1;
}

bool HostSession::prepareHostDirectory()
{
    if (!m_options.hostDirectory.empty())
    {
        m_hostDirectory = m_options.hostDirectory;
        std::error_code error;
        std::filesystem::create_directories(m_hostDirectory, error);
        if (error)
        {
            return fail(
                "cannot create the host directory " + m_hostDirectory + ": " + error.message());
        }
        return true;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "vyhost-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return fail("cannot create a temporary host directory");
    m_hostDirectory = pattern;
    m_removeHostDirectory = true;
    return true;
}

bool HostSession::loadPlugin()
{
    const std::string path =
        m_options.pluginPath.empty() ? defaultPluginPath() : m_options.pluginPath;
    std::string error;
    m_library = PluginLibrary::open(path, &error);
    if (!m_library)
        return fail(error);

    const char* version = m_library->sdkVersion();
    if (!version || std::string(version) != kExpectedSdkVersion)
    {
        return fail(std::string("the plug-in was built for SDK version ")
            + (version ? version : "(none)") + ", expected " + kExpectedSdkVersion);
    }

    ILibContext* context = m_library->libContext();
    if (!context)
        return fail("vyLibContext returned no library context");
    context->setName(libraryName(path).c_str());
    context->setRefCountableRegistry(new LeakRegistry(m_pluginObjects));
    // Like the real server, vyhost is itself a Qt program: Qt stays loaded when the plug-in
    // that also uses it is unloaded, as it does in production.
    m_out.log("loaded " + path + " (SDK " + version + ", host Qt " + qVersion() + ")");
    return true;
}

bool HostSession::createIntegration()
{
    const std::string serverId = newDeviceId();
    auto store = std::make_shared<RestStore>(serverId);
    m_utilityProvider = newRefCounted<UtilityProvider>(store,
        UtilityProvider::Identity{m_hostDirectory, "vyhost", serverId, std::nullopt, std::nullopt});

    for (int i = 0; i < m_options.cameras; ++i)
    {
        Camera camera;
        camera.name = "camera" + std::to_string(i + 1);
        camera.deviceId = newDeviceId();
        store->putDevice(
            R"({"id":")" + camera.deviceId + R"(","name":")" + camera.name + R"("})");
        m_cameras.push_back(std::move(camera));
    }

    const auto root = toPtr(m_library->createPlugin());
    if (!root)
        return fail("createVyPlugin returned no integration");
    m_integration = queryInterface<analytics::IIntegration>(root);
    if (!m_integration)
        return fail("the object from createVyPlugin is no analytics integration");

    m_integration->attachUtilityProvider(m_utilityProvider.get());

    std::string failure;
    if (!printManifest(m_out, "integrationManifest", m_integration->manifest(), &failure))
        return fail("integration manifest: " + failure);
    return true;
}

bool HostSession::createEngine()
{
    const Result<IEngine*> provided = m_integration->provideEngine();
    auto engine = toPtr(provided.value());
    if (const std::string failure = takeErrorText(provided.error()); !failure.empty())
        return fail("provideEngine: " + failure);
    if (!engine)
        return fail("provideEngine returned no engine");
    m_engine = std::move(engine);

    m_engine->attachEngineInfo(newRefCounted<EngineDescription>(kEngineId).get());
    m_engine->setHandler(newRefCounted<EngineHandler>().get());

    const Result<const ISettingsResponse*> settings =
        m_engine->applySettings(newRefCounted<StringMap>().get());
    toPtr(settings.value()).reset();
    if (const std::string failure = takeErrorText(settings.error()); !failure.empty())
        m_out.log("engine settings: " + failure);

    std::string failure;
    if (!printManifest(m_out, "engineManifest", m_engine->manifest(), &failure))
        return fail("engine manifest: " + failure);
    return true;
}

bool HostSession::createDeviceAgents()
{
    for (Camera& camera: m_cameras)
    {
        const auto deviceInfo = newRefCounted<DeviceInfo>(camera.deviceId, camera.name);
        Result<IDeviceAgent*> created;
        m_engine->doCreateDeviceAgent(&created, deviceInfo.get());
        const auto agent = toPtr(created.value());
        if (const std::string failure = takeErrorText(created.error()); !failure.empty())
            return fail("camera " + camera.name + ": doCreateDeviceAgent: " + failure);
        camera.agent = queryInterface<IConsumingDeviceAgent>(agent);
        if (!camera.agent)
            return fail("camera " + camera.name + ": the device agent takes no data packets");

        camera.handler = newRefCounted<DeviceAgentHandler>(camera.name, m_out, m_packets);
        camera.agent->setHandler(camera.handler.get());

        const Result<const IString*> manifest = camera.agent->manifest();
        const auto manifestText = toPtr(manifest.value());
        if (const std::string failure = takeErrorText(manifest.error()); !failure.empty())
            return fail("camera " + camera.name + ": device agent manifest: " + failure);
        camera.handler->pushManifest(manifestText.get());

        const Result<const ISettingsResponse*> settings =
            camera.agent->applySettings(newRefCounted<StringMap>().get());
        const auto response = toPtr(settings.value());
        if (const std::string failure = takeErrorText(settings.error()); !failure.empty())
            m_out.log("camera " + camera.name + ": settings: " + failure);
        if (response)
            printSettingsResponse(m_out, camera.name, response.get());
    }
    return true;
}

void HostSession::pushFrames()
{
    CameraFeeder::Settings settings;
    settings.fps = m_options.fps;
    settings.frames = m_options.framesPerCamera();
    std::vector<std::unique_ptr<CameraFeeder>> feeders;
    for (size_t i = 0; i < m_cameras.size(); ++i)
    {
        const Camera& camera = m_cameras[i];
        feeders.push_back(std::make_unique<CameraFeeder>(
            camera.name, (int) i, camera.agent, settings, m_out));
        feeders.back()->start();
    }
    for (size_t i = 0; i < m_cameras.size(); ++i)
    {
        feeders[i]->join();
        m_cameras[i].framesPushed = feeders[i]->framesPushed();
        m_cameras[i].pushFailures = feeders[i]->pushFailures();
    }
}

void HostSession::waitForQuiet()
{
    // Metadata may still come from the plug-in's workers after the last push: wait until
    // nothing has arrived for a while, but not for ever.
    constexpr auto kQuiet = std::chrono::milliseconds(500);
    constexpr auto kLimit = std::chrono::seconds(5);
    constexpr auto kPoll = std::chrono::milliseconds(50);
    const auto total = [this]
        {
            return m_packets.objects + m_packets.events + m_packets.bestShot + m_packets.unknown
                + m_packets.manifests;
        };
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    auto lastChange = std::chrono::steady_clock::now();
    int64_t seen = total();
    while (std::chrono::steady_clock::now() < deadline
        && std::chrono::steady_clock::now() - lastChange < kQuiet)
    {
        std::this_thread::sleep_for(kPoll);
        if (const int64_t now = total(); now != seen)
        {
            seen = now;
            lastChange = std::chrono::steady_clock::now();
        }
    }
}

void HostSession::releaseAll()
{
    for (Camera& camera: m_cameras)
    {
        if (camera.agent)
            camera.agent->finalize();
        camera.agent.reset();
    }
    m_engine.reset();
    m_integration.reset();
    // The provider's destructor joins its answer threads once the plug-in let go of it.
    m_utilityProvider.reset();
    // Unloading runs the library's static destructors, which may still release objects.
    m_library.reset();
    for (Camera& camera: m_cameras)
        camera.handler.reset();
}

void HostSession::printSummary(bool completed)
{
    JsonLine line("summary");
    yyjson_mut_doc* doc = line.doc();
    yyjson_mut_obj_add_bool(doc, line.root(), "completed", completed);

    yyjson_mut_val* frames = yyjson_mut_obj_add_obj(doc, line.root(), "framesPushed");
    int64_t failures = 0;
    for (const Camera& camera: m_cameras)
    {
        failures += camera.pushFailures;
        yyjson_mut_obj_add(frames, yyjson_mut_strcpy(doc, camera.name.c_str()),
            yyjson_mut_int(doc, camera.framesPushed));
    }
    yyjson_mut_obj_add_int(doc, line.root(), "pushFailures", failures);

    yyjson_mut_val* packets = yyjson_mut_obj_add_obj(doc, line.root(), "packets");
    yyjson_mut_obj_add_int(doc, packets, "objects", m_packets.objects);
    yyjson_mut_obj_add_int(doc, packets, "events", m_packets.events);
    yyjson_mut_obj_add_int(doc, packets, "bestShot", m_packets.bestShot);
    yyjson_mut_obj_add_int(doc, packets, "unknown", m_packets.unknown);
    yyjson_mut_obj_add_int(doc, packets, "manifests", m_packets.manifests);

    const int64_t pluginLeaks = m_pluginObjects->live();
    const int64_t hostLeaks = m_hostObjects->live();
    yyjson_mut_obj_add_int(doc, line.root(), "leakedObjects", pluginLeaks + hostLeaks);
    yyjson_mut_val* leaks = yyjson_mut_obj_add_obj(doc, line.root(), "leaks");
    yyjson_mut_obj_add_int(doc, leaks, "plugin", pluginLeaks);
    yyjson_mut_obj_add_int(doc, leaks, "host", hostLeaks);
    m_out.write(line);
}

} // namespace vyhost
