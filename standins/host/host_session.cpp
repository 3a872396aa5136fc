#include "host/host_session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>

#include <unistd.h>

#include <QtCore/QtGlobal>

#include <vy/sdk/helpers/lib_context.h>
#include <vy/sdk/helpers/string_map.h>

#include "host/action_requests.h"
#include "host/camera_feeder.h"
#include "host/device_info.h"
#include "host/dialog_buttons.h"
#include "host/engine_description.h"
#include "host/engine_handler.h"
#include "host/exit_status.h"
#include "host/plugin_log.h"
#include "host/processor_declarations.h"
#include "host/response_lines.h"
#include "host/rest_store.h"
#include "host/sdk_results.h"
#include "host/store_lines.h"

namespace vyhost {

using namespace vy::sdk;
using namespace vy::sdk::analytics;

namespace {

constexpr const char* kExpectedSdkVersion = "6.1.4 R1";
constexpr const char* kEngineId = "vy.vyai";
constexpr const char* kIniFileName = "vy_veltrin_plugin.ini";

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

/** A new directory under the system's temporary one; empty when it cannot be made. */
std::string makeTemporaryDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vyhost-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
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

/** The record of "parameters" -> "vyAI" of a server or device, as a PATCH body. */
std::string vyAIParameters(const std::string& vyAIObjectText)
{
    return R"({"parameters":{"vyAI":)" + vyAIObjectText + "}}";
}

/** The value with each "{cloud}" replaced by the cloud stand-in's base URL. */
std::string withCloudUrl(std::string value, const std::string& baseUrl)
{
    static constexpr std::string_view kPlaceholder = "{cloud}";
    for (size_t at = value.find(kPlaceholder); at != std::string::npos;
        at = value.find(kPlaceholder, at + baseUrl.size()))
    {
        value.replace(at, kPlaceholder.size(), baseUrl);
    }
    return value;
}

/** Creates the directory when missing; empty when files can be written into it, else why not. */
std::string usableDirectory(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (!error && !std::filesystem::is_directory(path, error) && !error)
        return "it is not a directory";
    if (!error && access(path.c_str(), W_OK | X_OK) != 0)
        error.assign(errno, std::generic_category());
    return error ? error.message() : std::string();
}

constexpr std::chrono::duration<double> kGiveUpWaiting{10.0};

/** How much slower than a plain build this run goes: the tests' VY_TEST_TIME_FACTOR (per
 * build) times VY_TEST_LOAD_FACTOR (a loaded machine); 1 without them. */
double waitFactor()
{
    double factor = 1.0;
    for (const char* name: {"VY_TEST_TIME_FACTOR", "VY_TEST_LOAD_FACTOR"})
    {
        const char* text = std::getenv(name);
        const double value = text ? std::strtod(text, nullptr) : 1.0;
        factor *= value >= 1.0 ? value : 1.0;
    }
    return factor;
}

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

HostSession::HostSession(Options options, Scenario scenario, OutputStream& out, StopSignal& stop):
    m_options(std::move(options)), m_scenario(std::move(scenario)), m_out(out), m_stop(stop)
{
    for (const CameraScenario& scenarioCamera: m_scenario.cameras)
    {
        Camera& camera = m_cameras.emplace_back();
        camera.scenario = scenarioCamera;
    }
}

HostSession::~HostSession()
{
    releaseAll();
    m_cloud.stop();
    std::error_code ignored;
    if (m_removeHostDirectory)
        std::filesystem::remove_all(m_hostDirectory, ignored);
    if (!m_ownDirectory.empty())
        std::filesystem::remove_all(m_ownDirectory, ignored);
}

bool HostSession::fail(const std::string& message)
{
    m_out.log(message);
    std::fprintf(stderr, "vyhost: %s\n", message.c_str());
    return false;
}

int HostSession::run()
{
    // vyhost's own objects (frames, handlers, descriptions, strings) are counted too.
    LibContext& hostContext = libContext();
    hostContext.setName("vyhost");
    if (!hostContext.refCountableRegistry())
        hostContext.setRefCountableRegistry(new LeakRegistry(m_hostObjects));

    bool completed = prepareDirectories() && preparePictures() && startCloud() && writePluginIni()
        && writeProcessorDeclarations() && loadPlugin()
        && createIntegration() && createEngine() && createDeviceAgents();
    if (completed)
    {
        pushFrames();
        waitForQuiet();
    }
    if (m_stop.requested())
        completed = fail("stopped early: " + m_stop.reason());
    releaseAll();
    if (m_pictures)
        m_pictures->finish();
    // After the release: the engine's loop has stopped asking.
    printCloudRequests(m_out, m_cloud.requests());
    printSummary(completed);
    tellTruthMatch();
    const bool leaked = m_hostObjects->live() != 0 || m_pluginObjects->live() != 0;
    if (leaked)
    {
        std::fprintf(stderr, "vyhost: objects were not released: %lld of the plug-in, %lld of vyhost\n",
            (long long) m_pluginObjects->live(), (long long) m_hostObjects->live());
    }
    if (!completed || leaked || m_out.failed())
        return kExitFailed;
    if (m_refusedActions > 0)
    {
        std::fprintf(stderr, "vyhost: %lld scenario actions were refused (see above)\n",
            (long long) m_refusedActions);
        return kExitActionRefused;
    }
    return kExitCompleted;
}

bool HostSession::prepareDirectories()
{
    m_ownDirectory = makeTemporaryDirectory();
    if (m_ownDirectory.empty())
        return fail("cannot create a temporary directory");
    if (m_options.hostDirectory.empty())
    {
        m_hostDirectory = m_ownDirectory;
        return true;
    }
    m_hostDirectory = m_options.hostDirectory;
    const std::string error = usableDirectory(m_hostDirectory);
    return error.empty() || fail("cannot use the host directory " + m_hostDirectory + ": " + error);
}

bool HostSession::preparePictures()
{
    if (m_options.picturesDirectory.empty())
        return true;
    if (const std::string error = usableDirectory(m_options.picturesDirectory); !error.empty())
        return fail("cannot use the pictures directory " + m_options.picturesDirectory + ": " + error);
    m_pictures = std::make_unique<PictureWriter>(m_options.picturesDirectory, m_options.pictureEvery, m_out);
    return true;
}

bool HostSession::startCloud()
{
    // Started first, so that "{cloud}" in the catalogue (model download URLs) names its port.
    if (!m_cloud.start())
        return fail("cannot start the cloud stand-in on a loopback port");
    vy::standins::CloudScenario cloud = m_scenario.cloud;
    cloud.pipelines = withCloudUrl(cloud.pipelines, m_cloud.baseUrl());
    if (!m_cloud.configure(cloud))
        return fail("the cloud stand-in refused the scenario's pipelines, models or runtime package");
    const bool connected = m_scenario.cloudSystemId && m_scenario.cloudToken;
    m_out.log("cloud stand-in at " + m_cloud.baseUrl() + "; "
        + (connected ? "the site is connected to the cloud: system " + *m_scenario.cloudSystemId
                     : std::string("the site is not connected to the cloud: the host has no ")
                         + (m_scenario.cloudSystemId ? "token" : "cloud system id")));
    return true;
}

bool HostSession::writePluginIni()
{
    // The options of an ini file the caller points at stay, unless the scenario sets them
    // again: the plug-in takes the last line of an option.
    std::string text;
    if (const char* callerDirectory = std::getenv("VY_INI_DIR"); callerDirectory && *callerDirectory)
    {
        std::ifstream callerIni(std::filesystem::path(callerDirectory) / kIniFileName);
        text.assign(std::istreambuf_iterator<char>(callerIni), std::istreambuf_iterator<char>());
        if (!text.empty() && text.back() != '\n')
            text += '\n';
    }
    // Nothing the plug-in fetches leaves the machine unless a scenario asks for it.
    text += "CloudAPI=" + m_cloud.baseUrl() + "\n";
    // The cloud stand-in's storage serves runtime archives under "/runtimes".
    text += "RuntimesStorageURL=" + m_cloud.baseUrl() + "/runtimes\n";
    for (const auto& [name, value]: m_scenario.ini)
        text += name + "=" + withCloudUrl(value, m_cloud.baseUrl()) + "\n";

    const std::string path = (std::filesystem::path(m_ownDirectory) / kIniFileName).string();
    std::ofstream ini(path);
    ini << text;
    ini.close();
    if (!ini)
        return fail("cannot write " + path);
    if (setenv("VY_INI_DIR", m_ownDirectory.c_str(), 1) != 0)
        return fail("cannot set VY_INI_DIR");
    return true;
}

bool HostSession::writeProcessorDeclarations()
{
    // Before the plug-in starts its engine, which starts the declared processors and reads the
    // raw-output decoding configuration.
    std::string error;
    if (!m_scenario.preprocessors.empty())
        error = vyhost::writeProcessorDeclarations(m_scenario.preprocessors, m_hostDirectory, ProcessorKind::pre);
    if (error.empty() && !m_scenario.postprocessors.empty())
        error = vyhost::writeProcessorDeclarations(m_scenario.postprocessors, m_hostDirectory, ProcessorKind::post);
    if (error.empty() && m_scenario.rawPostprocessing)
        error = writeRawPostprocessing(*m_scenario.rawPostprocessing, m_hostDirectory);
    return error.empty() || fail(error);
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
    auto store = std::make_shared<RestStore>(m_scenario.serverId);
    if (m_scenario.siteId)
        store->patchServer(siteIdPatchBody(m_scenario.siteId));
    for (const Camera& camera: m_cameras)
    {
        vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
        yyjson_mut_val* record = yyjson_mut_obj(doc.get());
        yyjson_mut_doc_set_root(doc.get(), record);
        yyjson_mut_obj_add_strcpy(doc.get(), record, "id", camera.scenario.deviceId.c_str());
        yyjson_mut_obj_add_strcpy(doc.get(), record, "name", camera.scenario.name.c_str());
        store->putDevice(vy::standins::toCompactText(doc.get()));
        if (!camera.scenario.vyAI.empty())
        {
            store->handle("PATCH", "/rest/v4/devices/" + camera.scenario.deviceId,
                vyAIParameters(camera.scenario.vyAI));
        }
    }
    std::map<std::string, std::string> cameraNames;
    for (const Camera& camera: m_cameras)
        cameraNames[normalizedId(camera.scenario.deviceId)] = camera.scenario.name;
    store->setPatchObserver(patchLogger(m_out, std::move(cameraNames)));
    m_store = store;
    m_utilityProvider = newRefCounted<UtilityProvider>(store,
        UtilityProvider::Identity{m_hostDirectory, "vyhost", m_scenario.serverId,
            m_scenario.cloudSystemId, m_scenario.cloudToken});

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
        camera.handler = newRefCounted<DeviceAgentHandler>(camera.scenario.name, m_out, m_packets,
            [this](const std::string& name, int64_t timestampUs, std::vector<ReturnedObject> objects)
            {
                if (m_pictures)
                    m_pictures->addObjects(name, timestampUs, objects);
                m_truthMatch.addObjects(name, timestampUs, std::move(objects));
            });
        if (!camera.scenario.enabled)
            continue;
        if (const std::string failure = createDeviceAgent(camera); !failure.empty())
            return fail("camera " + camera.scenario.name + ": " + failure);
    }
    return true;
}

std::string HostSession::createDeviceAgent(Camera& camera)
{
    const auto deviceInfo =
        newRefCounted<DeviceInfo>(camera.scenario.deviceId, camera.scenario.name);
    Result<IDeviceAgent*> created;
    m_engine->doCreateDeviceAgent(&created, deviceInfo.get());
    const auto agent = toPtr(created.value());
    if (const std::string failure = takeErrorText(created.error()); !failure.empty())
        return "doCreateDeviceAgent: " + failure;
    const auto consuming = queryInterface<IConsumingDeviceAgent>(agent);
    if (!consuming)
        return "the device agent takes no data packets";
    consuming->setHandler(camera.handler.get());

    const Result<const IString*> manifest = consuming->manifest();
    const auto manifestText = toPtr(manifest.value());
    if (const std::string failure = takeErrorText(manifest.error()); !failure.empty())
    {
        consuming->finalize();
        return "device agent manifest: " + failure;
    }
    camera.handler->pushManifest(manifestText.get());

    // As the server does when an agent starts: the dialog's saved values (none yet).
    printSettingsResult(m_out, camera.scenario.name, "applySettings",
        consuming->applySettings(newRefCounted<StringMap>().get()));
    camera.agent->set(consuming);
    return {};
}

void HostSession::releaseDeviceAgent(Camera& camera)
{
    if (const auto agent = camera.agent->take())
        agent->finalize();
    camera.shownButtons.clear();
    camera.shownSettings.clear();
}

void HostSession::showDialog(Camera& camera, const std::optional<std::string>& modelText)
{
    if (!modelText)
        return;
    camera.shownButtons = shownButtons(*modelText);
    camera.shownSettings = shownSettings(*modelText);
}

HostSession::Camera* HostSession::cameraNamed(const std::string& name)
{
    for (Camera& camera: m_cameras)
    {
        if (camera.scenario.name == name)
            return &camera;
    }
    return nullptr;
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
        const SceneSettings& scene = camera.scenario.scene;
        feeders.push_back(std::make_unique<CameraFeeder>(camera.scenario.name,
            scene.boxes ? SyntheticScene(scene.width, scene.height, *scene.boxes)
                        : SyntheticScene(scene.width, scene.height, (int) i),
            camera.agent, settings, m_out, m_stop,
            [this](const FrameTruth& truth, const std::array<PlaneView, 3>& planes)
            {
                if (m_pictures)
                    m_pictures->addFrame(truth, planes);
                m_truthMatch.addTruth(truth);
            }));
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto& feeder: feeders)
        feeder->start();
    std::thread actions([this, start] { performActions(start); });

    for (size_t i = 0; i < m_cameras.size(); ++i)
    {
        feeders[i]->join();
        m_cameras[i].framesPushed = feeders[i]->framesPushed();
        m_cameras[i].framesSkipped = feeders[i]->framesSkipped();
        m_cameras[i].pushFailures = feeders[i]->pushFailures();
    }
    actions.join();
}

void HostSession::performActions(std::chrono::steady_clock::time_point start)
{
    for (const UserAction& action: m_scenario.actions)
    {
        const auto due = start
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(action.atSeconds));
        if (!m_stop.waitUntil(due))
            return;
        perform(action);
    }
}

void HostSession::perform(const UserAction& action)
{
    Camera* camera = action.camera.empty() ? nullptr : cameraNamed(action.camera);
    const auto agent = camera ? camera->agent->get() : nullptr;
    const bool needsAgent = action.kind == UserAction::Kind::applySettings
        || action.kind == UserAction::Kind::openSettings
        || action.kind == UserAction::Kind::pressButton;
    if (needsAgent && !agent)
    {
        refuse(action, "the plug-in is switched off for this camera");
        return;
    }

    // A user can press or set only what the dialog in front of them shows.
    if (const std::string notShown = needsAgent ? notShownBy(*camera, action) : std::string(); !notShown.empty())
    {
        if (action.ifShown)
        {
            m_out.log("camera " + action.camera + ": the dialog does not show " + notShown + "; "
                + actionKindName(action.kind) + " passed over");
        }
        else if (action.kind == UserAction::Kind::pressButton)
        {
            refuse(action, "button not shown");
        }
        else
        {
            refuse(action, "setting not shown: " + notShown);
        }
        return;
    }

    switch (action.kind)
    {
        case UserAction::Kind::applySettings:
            showDialog(*camera, printSettingsResult(m_out, action.camera, "applySettings",
                agent->applySettings(newStringMap(action.values).get())));
            break;
        case UserAction::Kind::openSettings:
            openSettings(*camera, action);
            break;
        case UserAction::Kind::pressButton:
        {
            Result<IActiveSettingChangedResponse*> result;
            agent->handleActiveSettingChange(&result,
                newRefCounted<ActiveSettingChangedAction>(action.id, action.values).get());
            showDialog(*camera, printButtonResult(m_out, action, result));
            break;
        }
        case UserAction::Kind::setDeviceEnabled:
        {
            std::string failure;
            if (!action.enabled)
                releaseDeviceAgent(*camera);
            else if (!agent)
                failure = createDeviceAgent(*camera);
            printPlainActionResult(m_out, action, failure);
            break;
        }
        case UserAction::Kind::engineAction:
        {
            Result<ActionResult> result;
            m_engine->doExecuteAction(&result,
                newRefCounted<ActionRequest>(action.id,
                    camera ? camera->scenario.deviceId : std::string(), action.values, nowUs())
                    .get());
            printEngineActionResult(m_out, action, result);
            break;
        }
        case UserAction::Kind::setSiteId:
        {
            const RestStore::Answer answer = m_store->patchServer(siteIdPatchBody(action.siteId));
            printPlainActionResult(m_out, action, answer.status == 200 ? std::string() : answer.body);
            break;
        }
    }
}

std::string HostSession::notShownBy(const Camera& camera, const UserAction& action)
{
    if (action.kind == UserAction::Kind::pressButton)
        return camera.shownButtons.contains(action.id) ? std::string() : action.id;
    if (action.kind != UserAction::Kind::applySettings)
        return {};
    std::string notShown;
    for (const auto& [key, value]: action.values)
    {
        if (!camera.shownSettings.contains(key))
            notShown += (notShown.empty() ? "" : ", ") + key;
    }
    return notShown;
}

void HostSession::refuse(const UserAction& action, const std::string& reason)
{
    printPlainActionResult(m_out, action, reason);
    std::string what = actionKindName(action.kind);
    if (!action.id.empty())
        what += " \"" + action.id + "\"";
    if (!action.camera.empty())
        what += " on camera " + action.camera;
    std::fprintf(stderr, "vyhost: %s at %.1f s refused: %s\n", what.c_str(), action.atSeconds, reason.c_str());
    ++m_refusedActions;
}

void HostSession::openSettings(Camera& camera, const UserAction& action)
{
    // A user waiting for an item looks again now and then, and gives up after a while; a
    // slower build (the sanitizers') gets its time factor longer.
    constexpr auto kLookAgain = std::chrono::milliseconds(200);
    const std::chrono::duration<double> limit = kGiveUpWaiting * waitFactor();
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(limit);
    const auto agent = camera.agent->get();
    for (;;)
    {
        Result<const ISettingsResponse*> result;
        agent->getIntegrationSideSettings(&result);
        const std::optional<std::string> model =
            printSettingsResult(m_out, action.camera, "openSettings", result);
        showDialog(camera, model);
        const auto shows = [&model](const std::string& wanted) { return model && dialogShows(*model, wanted); };
        if (action.untilShown.empty() || std::any_of(action.untilShown.begin(), action.untilShown.end(), shows))
            return;
        if (std::chrono::steady_clock::now() >= giveUp)
        {
            std::string wanted;
            for (const std::string& item: action.untilShown)
                wanted += (wanted.empty() ? "\"" : " or \"") + item + "\"";
            const std::string note = "camera " + action.camera + ": the dialog did not show " + wanted
                + " within " + std::to_string((int) limit.count()) + " s";
            m_out.log(note);
            std::fprintf(stderr, "vyhost: %s\n", note.c_str());
            return;
        }
        if (!m_stop.waitUntil(std::chrono::steady_clock::now() + kLookAgain))
            return;
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
        if (!m_stop.waitUntil(std::chrono::steady_clock::now() + kPoll))
            return;
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
        releaseDeviceAgent(camera);
    m_engine.reset();
    m_integration.reset();
    // The provider's destructor joins its answer threads once the plug-in let go of it.
    m_utilityProvider.reset();
    // Unloading runs the library's static destructors, which may still release objects.
    m_library.reset();
    for (Camera& camera: m_cameras)
        camera.handler.reset();
}

std::string HostSession::noMetadataReason() const
{
    int64_t pushed = 0;
    std::string pushingCameras;
    for (const Camera& camera: m_cameras)
    {
        pushed += camera.framesPushed;
        if (camera.framesPushed > 0)
            pushingCameras += (pushingCameras.empty() ? "" : ", ") + camera.scenario.name;
    }
    if (pushed == 0)
        return "no frame was pushed";
    if (!m_scenario.cloudToken || !m_scenario.cloudSystemId)
    {
        return "the host gives the plug-in no cloud system id or token, so it is not connected "
            "to the cloud and refuses every frame of " + pushingCameras;
    }
    const std::string dataDirectory = m_hostDirectory + "/vy_veltrin";
    if (const auto warning = lastPluginWarning(dataDirectory))
        return "the plug-in returned nothing for " + std::to_string(pushed)
            + " frames of " + pushingCameras + "; its last warning: " + withCameraNames(*warning);
    return "the plug-in returned nothing for " + std::to_string(pushed)
        + " frames of " + pushingCameras + " and logged no warning";
}

std::string HostSession::withCameraNames(std::string text) const
{
    for (const Camera& camera: m_cameras)
    {
        const std::string id = normalizedId(camera.scenario.deviceId);
        for (size_t at = text.find(id); at != std::string::npos;
            at = text.find(id, at + camera.scenario.name.size()))
        {
            text.replace(at, id.size(), camera.scenario.name);
        }
    }
    return text;
}

void HostSession::printSummary(bool completed)
{
    JsonLine line("summary");
    yyjson_mut_doc* doc = line.doc();
    yyjson_mut_obj_add_bool(doc, line.root(), "completed", completed);

    yyjson_mut_val* frames = yyjson_mut_obj_add_obj(doc, line.root(), "framesPushed");
    int64_t failures = 0;
    int64_t skipped = 0;
    for (const Camera& camera: m_cameras)
    {
        failures += camera.pushFailures;
        skipped += camera.framesSkipped;
        yyjson_mut_obj_add(frames, yyjson_mut_strcpy(doc, camera.scenario.name.c_str()),
            yyjson_mut_int(doc, camera.framesPushed));
    }
    yyjson_mut_obj_add_int(doc, line.root(), "framesSkipped", skipped);
    yyjson_mut_obj_add_int(doc, line.root(), "pushFailures", failures);
    if (const auto counts = lastPluginFrameCounts(m_hostDirectory + "/vy_veltrin"))
    {
        // The plug-in's own account: stage inputs it admitted or dropped before admission, the
        // outputs of admitted ones it dropped, those it inferred, and answered with metadata.
        yyjson_mut_val* inference = yyjson_mut_obj_add_obj(doc, line.root(), "inference");
        yyjson_mut_obj_add_int(doc, inference, "admitted", counts->admitted);
        yyjson_mut_obj_add_int(doc, inference, "inferred", counts->inferred);
        yyjson_mut_obj_add_int(doc, inference, "dropped", counts->dropped);
        yyjson_mut_obj_add_int(doc, inference, "outputsDropped", counts->outputsDropped);
        yyjson_mut_obj_add_int(doc, inference, "lostInEngine", counts->lostInEngine);
        yyjson_mut_obj_add_int(doc, inference, "answered", counts->answered);
    }

    addRefusals(line);

    yyjson_mut_val* packets = yyjson_mut_obj_add_obj(doc, line.root(), "packets");
    yyjson_mut_obj_add_int(doc, packets, "objects", m_packets.objects);
    yyjson_mut_obj_add_int(doc, packets, "events", m_packets.events);
    yyjson_mut_obj_add_int(doc, packets, "bestShot", m_packets.bestShot);
    yyjson_mut_obj_add_int(doc, packets, "unknown", m_packets.unknown);
    yyjson_mut_obj_add_int(doc, packets, "manifests", m_packets.manifests);
    if (m_packets.objects + m_packets.events + m_packets.bestShot + m_packets.unknown == 0)
        line.addString("noMetadataReason", noMetadataReason());

    addTruthMatch(line);
    if (m_pictures)
    {
        yyjson_mut_val* pictures = yyjson_mut_obj_add_obj(doc, line.root(), "pictures");
        yyjson_mut_obj_add_strcpy(doc, pictures, "directory", m_options.picturesDirectory.c_str());
        yyjson_mut_obj_add_int(doc, pictures, "written", m_pictures->written());
    }

    const int64_t pluginLeaks = m_pluginObjects->live();
    const int64_t hostLeaks = m_hostObjects->live();
    yyjson_mut_obj_add_int(doc, line.root(), "leakedObjects", pluginLeaks + hostLeaks);
    yyjson_mut_val* leaks = yyjson_mut_obj_add_obj(doc, line.root(), "leaks");
    yyjson_mut_obj_add_int(doc, leaks, "plugin", pluginLeaks);
    yyjson_mut_obj_add_int(doc, leaks, "host", hostLeaks);
    m_out.write(line);
}

void HostSession::addTruthMatch(JsonLine& summary) const
{
    const auto tallies = m_truthMatch.tally();
    if (tallies.empty())
        return;
    yyjson_mut_doc* doc = summary.doc();
    yyjson_mut_val* match = yyjson_mut_obj_add_obj(doc, summary.root(), "truthMatch");
    for (const auto& [camera, tally]: tallies)
    {
        yyjson_mut_val* item = yyjson_mut_obj(doc);
        yyjson_mut_obj_add(match, yyjson_mut_strcpy(doc, camera.c_str()), item);
        yyjson_mut_obj_add_int(doc, item, "framesAnswered", tally.framesAnswered);
        yyjson_mut_obj_add_int(doc, item, "boxes", tally.boxes);
        yyjson_mut_obj_add_int(doc, item, "found", tally.found);
        yyjson_mut_obj_add_int(doc, item, "missed", tally.missed);
        yyjson_mut_obj_add_int(doc, item, "extra", tally.extra);
        yyjson_mut_obj_add_real(doc, item, "medianIou", std::round(tally.medianIou * 1000) / 1000);
        yyjson_mut_obj_add_real(doc, item, "lowestIou", std::round(tally.lowestIou * 1000) / 1000);
    }
}

void HostSession::addRefusals(JsonLine& summary) const
{
    // The plug-in's own account of the frames it turned away before admission: with
    // "inference"."admitted" and "dropped" they add up to the frames pushed.
    const auto refusals = pluginRefusals(m_hostDirectory + "/vy_veltrin");
    yyjson_mut_doc* doc = summary.doc();
    yyjson_mut_val* refused = yyjson_mut_obj_add_obj(doc, summary.root(), "framesRefused");
    for (const Camera& camera: m_cameras)
    {
        const auto found = refusals.find(normalizedId(camera.scenario.deviceId));
        const PluginRefusals counts = found == refusals.end() ? PluginRefusals{} : found->second;
        yyjson_mut_val* item = yyjson_mut_obj(doc);
        yyjson_mut_obj_add(refused, yyjson_mut_strcpy(doc, camera.scenario.name.c_str()), item);
        yyjson_mut_obj_add_int(doc, item, "notConnected", counts.notConnected);
        yyjson_mut_obj_add_int(doc, item, "switchedOff", counts.switchedOff);
        yyjson_mut_obj_add_int(doc, item, "withoutSettings", counts.withoutSettings);
    }
}

void HostSession::tellTruthMatch() const
{
    for (const auto& [camera, tally]: m_truthMatch.tally())
        std::fprintf(stderr, "%s\n", plainTruthMatch(camera, tally).c_str());
    if (m_pictures)
    {
        std::fprintf(stderr, "%lld pictures in %s\n", (long long) m_pictures->written(),
            m_options.picturesDirectory.c_str());
    }
}

} // namespace vyhost
