#include "host/scenario.h"

#include <algorithm>
#include <set>

#include "host/json_field.h"

namespace vyhost {

namespace {

using vy::standins::CloudStandin;

constexpr int kMaxCameras = 64;
constexpr int kMaxSide = 7680;
constexpr double kMaxActionSeconds = 1e6;
constexpr int64_t kMaxFaultDelayMs = 600'000;
constexpr int64_t kMaxBodyBytes = int64_t(1) << 40;

std::string newUuid()
{
    return bracedUuid(vy::sdk::randomUuid());
}

std::map<std::string, std::string> textMap(const Field& field)
{
    std::map<std::string, std::string> values;
    for (const auto& [key, value]: field.members())
        values[key] = value.scalarText("true", "false");
    return values;
}

YuvColor colourOf(const Field& field, std::string* name)
{
    if (yyjson_is_str(field.value()))
    {
        *name = field.text();
        if (const auto colour = SyntheticScene::colourNamed(*name))
            return *colour;
        field.fail("must be red, green, blue, yellow, grey or [Y, U, V]");
    }
    const std::vector<Field> parts = field.items();
    if (parts.size() != 3)
        field.fail("must be red, green, blue, yellow, grey or [Y, U, V]");
    YuvColor colour;
    colour.y = (uint8_t) parts[0].integer(0, 255);
    colour.u = (uint8_t) parts[1].integer(0, 255);
    colour.v = (uint8_t) parts[2].integer(0, 255);
    *name = field.jsonText();
    return colour;
}

SceneSettings sceneOf(const Field& field)
{
    SceneSettings scene;
    field.expectObject({"width", "height", "boxes"});
    // Even sides keep the chroma planes whole.
    if (field.has("width"))
        scene.width = (int) field.member("width").integer(16, kMaxSide) & ~1;
    if (field.has("height"))
        scene.height = (int) field.member("height").integer(16, kMaxSide) & ~1;
    if (!field.has("boxes"))
        return scene;
    std::vector<SyntheticScene::Box> boxes;
    for (const Field& item: field.member("boxes").items())
    {
        item.expectObject({"colour", "width", "height", "x", "y", "dx", "dy"});
        SyntheticScene::Box box;
        box.color = colourOf(item.member("colour"), &box.colourName);
        box.width = (int) item.member("width").integer(2, scene.width) & ~1;
        box.height = (int) item.member("height").integer(2, scene.height) & ~1;
        box.x0 = item.has("x") ? (int) item.member("x").integer(0, scene.width - box.width) : 0;
        box.y0 = item.has("y") ? (int) item.member("y").integer(0, scene.height - box.height) : 0;
        box.dx = item.has("dx") ? (int) item.member("dx").integer(-kMaxSide, kMaxSide) : 0;
        box.dy = item.has("dy") ? (int) item.member("dy").integer(-kMaxSide, kMaxSide) : 0;
        boxes.push_back(std::move(box));
    }
    scene.boxes = std::move(boxes);
    return scene;
}

std::vector<CameraScenario> camerasOf(const Field& field)
{
    std::vector<CameraScenario> cameras;
    std::set<std::string> names;
    std::set<std::string> ids;
    const std::vector<Field> items = field.items();
    if (items.empty() || items.size() > kMaxCameras)
        field.fail("must list from 1 to " + std::to_string(kMaxCameras) + " cameras");
    for (const Field& item: items)
    {
        item.expectObject({"name", "id", "vyAI", "enabled", "scene"});
        CameraScenario camera;
        camera.name = item.member("name").nonEmptyText();
        if (!names.insert(camera.name).second)
            item.member("name").fail("another camera has this name");
        camera.deviceId = item.has("id") ? item.member("id").uuid() : newUuid();
        if (!ids.insert(camera.deviceId).second)
            item.member("id").fail("another camera has this id");
        if (item.has("vyAI"))
        {
            item.member("vyAI").expectObjectLoosely();
            camera.vyAI = item.member("vyAI").jsonText();
        }
        if (item.has("enabled"))
            camera.enabled = item.member("enabled").boolean();
        if (item.has("scene"))
            camera.scene = sceneOf(item.member("scene"));
        cameras.push_back(std::move(camera));
    }
    return cameras;
}

const CameraScenario* cameraNamed(const std::vector<CameraScenario>& cameras, const std::string& name)
{
    const auto found = std::find_if(cameras.begin(), cameras.end(),
        [&name](const CameraScenario& camera) { return camera.name == name; });
    return found == cameras.end() ? nullptr : &*found;
}

const CameraScenario& cameraOf(const Field& field, const std::vector<CameraScenario>& cameras)
{
    const CameraScenario* camera = cameraNamed(cameras, field.nonEmptyText());
    if (!camera)
        field.fail("no camera is named \"" + field.text() + "\"");
    return *camera;
}

CloudStandin::Fault faultOf(const Field& field)
{
    field.expectObject({"status", "delayMs", "body"});
    CloudStandin::Fault fault;
    if (field.has("status"))
        fault.status = (int) field.member("status").integer(100, 599);
    if (field.has("delayMs"))
        fault.delay = std::chrono::milliseconds(field.member("delayMs").integer(0, kMaxFaultDelayMs));
    if (field.has("body"))
        fault.body = field.member("body").text();
    return fault;
}

/** A fault of the storage's downloads: the model's body after its redirect, or a runtime package. */
void readBodyFault(const Field& field, vy::standins::ProvisioningStorage::BodyFault* fault)
{
    field.expectObject({"status", "delayMs", "stallAfter", "cutAfter"});
    if (field.has("status"))
        fault->status = (int) field.member("status").integer(100, 599);
    if (field.has("delayMs"))
        fault->delay = std::chrono::milliseconds(field.member("delayMs").integer(0, kMaxFaultDelayMs));
    if (field.has("stallAfter"))
        fault->stallAfter = (size_t) field.member("stallAfter").integer(0, kMaxBodyBytes);
    if (field.has("cutAfter"))
        fault->truncateAfter = (size_t) field.member("cutAfter").integer(0, kMaxBodyBytes);
}

// The package object the cloud stand-in reads; without a "path", the stand-in CPU runtime
// archive built beside vyhost.
std::string runtimePackageOf(const Field& field)
{
    field.expectObject({"path"});
    const std::string path = field.has("path") ? field.member("path").nonEmptyText() : VY_STANDIN_RUNTIME_PACKAGE;
    vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
    yyjson_mut_val* package = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), package);
    yyjson_mut_obj_add_strncpy(doc.get(), package, "path", path.data(), path.size());
    return vy::standins::toCompactText(doc.get());
}

void readCloud(const Field& field, const std::vector<CameraScenario>& cameras, Scenario* scenario)
{
    field.expectObject(
        {"systemId", "token", "pipelines", "offers", "models", "runtimePackage", "faults"});
    vy::standins::CloudScenario& cloud = scenario->cloud;
    if (field.has("systemId"))
        scenario->cloudSystemId = field.member("systemId").optionalText();
    if (field.has("token"))
        scenario->cloudToken = field.member("token").optionalText();
    if (field.has("pipelines"))
    {
        for (const Field& pipeline: field.member("pipelines").items())
        {
            pipeline.expectObjectLoosely();
            pipeline.member("uuid").nonEmptyText();
        }
        cloud.pipelines = field.member("pipelines").jsonText();
    }
    if (field.has("offers"))
    {
        for (const auto& [name, uuids]: field.member("offers").members())
        {
            const CameraScenario* camera = cameraNamed(cameras, name);
            if (!camera)
                uuids.fail("no camera is named \"" + name + "\"");
            std::vector<std::string>& offered = cloud.offers[camera->deviceId];
            for (const Field& uuid: uuids.items())
                offered.push_back(uuid.nonEmptyText());
        }
    }
    if (field.has("models"))
    {
        for (const Field& model: field.member("models").items())
            model.expectObjectLoosely();
        cloud.models = field.member("models").jsonText();
    }
    if (field.has("runtimePackage") && !field.member("runtimePackage").isNull())
        cloud.runtimePackage = runtimePackageOf(field.member("runtimePackage"));
    if (field.has("faults"))
    {
        for (const auto& [name, fault]: field.member("faults").members())
        {
            if (name == "modelDownload")
            {
                readBodyFault(fault, &cloud.modelFault.emplace());
                continue;
            }
            if (name == "runtimePackage")
            {
                readBodyFault(fault, &cloud.packageFault.emplace());
                continue;
            }
            const auto route = CloudStandin::routeNamed(name);
            if (!route)
                fault.fail("no cloud route has this name");
            cloud.faults[*route] = faultOf(fault);
        }
    }
}

struct ActionKindName
{
    const char* name;
    UserAction::Kind kind;
};
constexpr ActionKindName kActionKinds[] = {
    {"applySettings", UserAction::Kind::applySettings},
    {"openSettings", UserAction::Kind::openSettings},
    {"pressButton", UserAction::Kind::pressButton},
    {"setDeviceEnabled", UserAction::Kind::setDeviceEnabled},
    {"engineAction", UserAction::Kind::engineAction},
    {"setSiteId", UserAction::Kind::setSiteId},
};

UserAction actionOf(const Field& field, const std::vector<CameraScenario>& cameras)
{
    UserAction action;
    if (!yyjson_is_obj(field.value()))
        field.fail("must be an object");
    const std::string kind = field.member("do").text();
    const auto found = std::find_if(std::begin(kActionKinds), std::end(kActionKinds),
        [&kind](const ActionKindName& entry) { return kind == entry.name; });
    if (found == std::end(kActionKinds))
    {
        field.member("do").fail(
            "must be applySettings, openSettings, pressButton, setDeviceEnabled, engineAction "
            "or setSiteId");
    }
    action.kind = found->kind;
    switch (action.kind)
    {
        case UserAction::Kind::applySettings:
            field.expectObject({"at", "do", "camera", "values", "ifShown"});
            action.values = textMap(field.member("values"));
            if (field.has("ifShown"))
                action.ifShown = field.member("ifShown").boolean();
            break;
        case UserAction::Kind::openSettings:
            field.expectObject({"at", "do", "camera", "untilShown"});
            if (field.has("untilShown"))
            {
                for (const Field& shown: field.member("untilShown").items())
                    action.untilShown.push_back(shown.nonEmptyText());
                if (action.untilShown.empty())
                    field.member("untilShown").fail("must name what to wait for");
            }
            break;
        case UserAction::Kind::pressButton:
            field.expectObject({"at", "do", "camera", "button", "values", "ifShown"});
            action.id = field.member("button").nonEmptyText();
            if (field.has("ifShown"))
                action.ifShown = field.member("ifShown").boolean();
            if (field.has("values"))
                action.values = textMap(field.member("values"));
            break;
        case UserAction::Kind::setDeviceEnabled:
            field.expectObject({"at", "do", "camera", "enabled"});
            action.enabled = field.member("enabled").boolean();
            break;
        case UserAction::Kind::engineAction:
            field.expectObject({"at", "do", "camera", "action", "params"});
            action.id = field.member("action").nonEmptyText();
            if (field.has("params"))
                action.values = textMap(field.member("params"));
            break;
        case UserAction::Kind::setSiteId:
            field.expectObject({"at", "do", "siteId"});
            action.siteId = field.member("siteId").optionalText();
            break;
    }
    if (field.has("at"))
        action.atSeconds = field.member("at").number(0, kMaxActionSeconds);
    // A site change concerns the server; an engine action may concern no device.
    const bool deviceOptional = action.kind == UserAction::Kind::engineAction
        || action.kind == UserAction::Kind::setSiteId;
    if (!deviceOptional || field.has("camera"))
        action.camera = cameraOf(field.member("camera"), cameras).name;
    return action;
}

// The loader skips a declaration without a name or a way to reach its program; a scenario
// that means to run a processor says so at once.
std::vector<ProcessorDeclaration> declarationsOf(const Field& field)
{
    std::vector<ProcessorDeclaration> declarations;
    std::set<std::string> names;
    for (const Field& item: field.items())
    {
        item.expectObjectLoosely();
        ProcessorDeclaration& declaration = declarations.emplace_back();
        declaration.name = item.member("Name").nonEmptyText();
        if (!names.insert(declaration.name).second)
            item.member("Name").fail("another processor has this name");
        if (item.has("Port"))
            item.member("Port").integer(1, 65535);
        else
            declaration.command = item.member("Command").nonEmptyText();
        if (item.has("arguments"))
        {
            if (declaration.command.empty())
                item.member("arguments").fail("needs a \"Command\" to pass them to");
            for (const Field& argument: item.member("arguments").items())
                declaration.arguments.push_back(argument.text());
        }
        vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
        yyjson_mut_val* copy = yyjson_val_mut_copy(doc.get(), item.value());
        yyjson_mut_obj_remove_key(copy, "arguments");
        yyjson_mut_doc_set_root(doc.get(), copy);
        declaration.declaration = vy::standins::toCompactText(doc.get());
    }
    return declarations;
}

Scenario scenarioOf(const Field& root, int defaultCameras)
{
    root.expectObject({"serverId", "siteId", "cloud", "ini", "cameras", "actions", "preprocessors", "postprocessors",
        "rawPostprocessing"});
    Scenario scenario;
    scenario.serverId = root.has("serverId") ? root.member("serverId").uuid() : newUuid();
    if (root.has("siteId"))
        scenario.siteId = root.member("siteId").optionalText();
    // A site connected to the cloud unless the scenario says otherwise.
    scenario.cloudSystemId = newUuid();
    scenario.cloudToken = "vyhost-token-" + scenario.cloudSystemId->substr(1, 8);

    if (root.has("cameras"))
    {
        scenario.cameras = camerasOf(root.member("cameras"));
    }
    else
    {
        for (int i = 1; i <= defaultCameras; ++i)
        {
            CameraScenario& camera = scenario.cameras.emplace_back();
            camera.name = "camera" + std::to_string(i);
            camera.deviceId = newUuid();
        }
    }
    if (root.has("cloud"))
        readCloud(root.member("cloud"), scenario.cameras, &scenario);
    scenario.cloud.systemId = scenario.cloudSystemId;
    scenario.cloud.token = scenario.cloudToken;

    if (root.has("ini"))
    {
        for (const auto& [name, value]: root.member("ini").members())
        {
            const std::string text = value.scalarText("1", "0");
            if (name.empty() || name.find_first_of("=\n#") != std::string::npos
                || text.find('\n') != std::string::npos)
            {
                value.fail("an ini option has a name without '=' or '#', and no line end");
            }
            scenario.ini.emplace_back(name, text);
        }
    }
    if (root.has("preprocessors"))
        scenario.preprocessors = declarationsOf(root.member("preprocessors"));
    if (root.has("postprocessors"))
        scenario.postprocessors = declarationsOf(root.member("postprocessors"));
    if (root.has("rawPostprocessing"))
    {
        const Field raw = root.member("rawPostprocessing");
        raw.expectObjectLoosely();
        vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
        yyjson_mut_doc_set_root(doc.get(), yyjson_val_mut_copy(doc.get(), raw.value()));
        scenario.rawPostprocessing = vy::standins::toCompactText(doc.get());
    }
    if (root.has("actions"))
    {
        for (const Field& item: root.member("actions").items())
            scenario.actions.push_back(actionOf(item, scenario.cameras));
        std::stable_sort(scenario.actions.begin(), scenario.actions.end(),
            [](const UserAction& a, const UserAction& b) { return a.atSeconds < b.atSeconds; });
    }
    return scenario;
}

} // namespace

ParsedScenario parseScenario(const std::string& text, int defaultCameras)
{
    ParsedScenario parsed;
    yyjson_read_err error{};
    const vy::standins::JsonDoc doc(
        yyjson_read_opts(const_cast<char*>(text.data()), text.size(), YYJSON_READ_NOFLAG, nullptr, &error));
    if (!doc)
    {
        parsed.error = "not JSON at byte " + std::to_string(error.pos) + ": " + error.msg;
        return parsed;
    }
    try
    {
        parsed.scenario = scenarioOf(Field(yyjson_doc_get_root(doc.get()), ""), defaultCameras);
    }
    catch (const FieldError& fieldError)
    {
        parsed.error = fieldError.message;
    }
    return parsed;
}

} // namespace vyhost
