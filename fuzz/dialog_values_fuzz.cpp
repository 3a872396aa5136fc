// A stage's settings as the host shows and returns them. The input holds, separated by 0xff
// bytes: an external post-processor's declared "UserSettings", the values the host sends back
// for the stage's dialog items (one a line, in a fixed order of items), and the host's device
// object that the NMS values are written back into. Checked: the settings model is JSON; every
// processor setting the dialog names comes back into that processor's settings under its
// declared name and into nothing else; crop boxes, masks and crossing lines are finite frame
// fractions where the dialog bounds them; and an NMS write-back is made exactly when the
// host's object holds a pipeline tree, which it keeps.
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <yyjson.h>

#include "core/gui_settings.h"
#include "core/nms_patch.h"
#include "foundations/constants.h"
#include "foundations/json_helpers.h"
#include "fuzz_check.h"
#include "inference/external_processor_declarations.h"
#include "settings/stage_sections.h"

namespace {

using vyai::pipeline_stage_parameters_t;

const std::string kStageId = "m1";

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= text.size();)
    {
        const size_t end = std::min(text.find(separator, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Every "name" text of the settings model, at any depth.
void collectNames(yyjson_val* value, std::vector<std::string>& names)
{
    std::vector<yyjson_val*> pending{value};
    while (!pending.empty())
    {
        yyjson_val* item = pending.back();
        pending.pop_back();
        size_t index = 0;
        size_t count = 0;
        if (yyjson_is_obj(item))
        {
            yyjson_val* key = nullptr;
            yyjson_val* member = nullptr;
            yyjson_obj_foreach(item, index, count, key, member)
            {
                if (yyjson_equals_str(key, "name") && yyjson_is_str(member))
                    names.emplace_back(yyjson_get_str(member), yyjson_get_len(member));
                pending.push_back(member);
            }
        }
        else if (yyjson_is_arr(item))
        {
            yyjson_val* member = nullptr;
            yyjson_arr_foreach(item, index, count, member)
                pending.push_back(member);
        }
    }
}

std::vector<std::string> dialogNames(const pipeline_stage_parameters_t& stage)
{
    const vyai::MutableJsonDocument doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val* sections = yyjson_mut_arr(doc.get());
    yyjson_mut_doc_set_root(doc.get(), sections);
    vyai::appendStageSections({doc.get(), true, vyai::kCustomPipelineId}, {stage}, sections);
    size_t length = 0;
    char* text = yyjson_mut_write(doc.get(), YYJSON_WRITE_NOFLAG, &length);
    FUZZ_CHECK(text != nullptr, "the settings model can be written");
    const vyai::JsonDocument written = vyai::readJsonDocument(std::string_view(text, length));
    free(text);
    FUZZ_CHECK(written != nullptr, "the settings model is JSON");
    std::vector<std::string> names;
    collectNames(yyjson_doc_get_root(written.get()), names);
    return names;
}

bool isFraction(float value)
{
    return std::isfinite(value) && value >= 0.0F && value <= 1.0F;
}

void checkFigures(const pipeline_stage_parameters_t& stage)
{
    const float* box = stage.cropBox;
    FUZZ_CHECK(isFraction(box[0]) && isFraction(box[1]) && isFraction(box[2]) && isFraction(box[3]),
        "a crop box lies in the frame");
    FUZZ_CHECK(box[0] <= box[2] && box[1] <= box[3], "a crop box's corners are in order");
    for (const vyai::StageMask_t& mask: stage.masks)
    {
        FUZZ_CHECK(mask.points.size() % 2 == 0, "a mask holds whole points");
        for (const float coordinate: mask.points)
            FUZZ_CHECK(std::isfinite(coordinate), "a mask's points are finite");
    }
    if (const auto& line = stage.crossingLine)
    {
        FUZZ_CHECK(std::isfinite(line->x1) && std::isfinite(line->y1) && std::isfinite(line->x2) && std::isfinite(line->y2),
            "a crossing line's ends are finite");
    }
}

bool holdsPipelineTree(std::string_view deviceText)
{
    const vyai::JsonDocument doc = vyai::readJsonDocument(deviceText);
    yyjson_val* vyAI = yyjson_ptr_get(yyjson_doc_get_root(doc.get()), "/parameters/vyAI");
    return yyjson_is_obj(vyAI) && yyjson_is_arr(yyjson_obj_get(vyAI, "pipelines"));
}

void checkNmsPatch(std::string_view deviceText, const pipeline_stage_parameters_t& stage)
{
    const std::optional<std::string> body = vyai::buildNMSPatchBody(deviceText, {stage});
    FUZZ_CHECK(body.has_value() == holdsPipelineTree(deviceText), "a write-back is made exactly over a pipeline tree");
    if (!body)
        return;
    const vyai::JsonDocument sent = vyai::readJsonDocument(*body);
    const vyai::JsonDocument held = vyai::readJsonDocument(deviceText);
    yyjson_val* sentTree = yyjson_ptr_get(yyjson_doc_get_root(sent.get()), "/parameters/vyAI/pipelines");
    yyjson_val* heldTree = yyjson_ptr_get(yyjson_doc_get_root(held.get()), "/parameters/vyAI/pipelines");
    FUZZ_CHECK(yyjson_is_arr(sentTree) && yyjson_arr_size(sentTree) == yyjson_arr_size(heldTree),
        "the write-back keeps the host's pipeline tree");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string_view> parts = split(std::string_view(reinterpret_cast<const char*>(data), size), '\xff');

    auto model = std::make_shared<vyai::ModelDetails_t>();
    model->classNames = {"person", "car"};
    vyai::ExternalPostprocessor_t post;
    post.Name = "Counter";
    post.UserSettings = std::string(parts[0]);
    pipeline_stage_parameters_t stage;
    stage.id = kStageId;
    stage.model = model;
    stage.postprocessor = "Counter";
    stage.externalPostprocessor = &post;

    const std::vector<std::string> names = dialogNames(stage);
    const std::string prefix = kStageId + vyai::kPostprocessorSettingInfix;
    std::vector<std::string> keys = {vyai::kCropBoxPrefix + kStageId, vyai::kModelNmsPrefix + kStageId,
        vyai::kVisualiseClassesPrefix + kStageId, vyai::kMaskTypePrefix + "1_" + kStageId,
        vyai::kPolygon + "1.figure_" + kStageId, vyai::kLineCrossingLinePrefix + kStageId,
        vyai::kDeviceActiveSwitch};
    std::map<std::string, std::string> processorNames; //< dialog name -> declared name
    for (const std::string& name: names)
    {
        if (name.starts_with(prefix))
        {
            processorNames[name] = name.substr(prefix.size());
            keys.push_back(name);
        }
    }

    const std::vector<std::string_view> lines = split(parts.size() > 1 ? parts[1] : std::string_view(), '\n');
    std::map<std::string, std::string> values;
    for (size_t i = 0; i < keys.size() && i < lines.size(); ++i)
        values.emplace(keys[i], std::string(lines[i]));

    vyai::DeviceAgentSettings_t record;
    record.pipelines = {stage};
    vyai::applyGuiSettings(record, values);
    const pipeline_stage_parameters_t& applied = record.pipelines.front();
    checkFigures(applied);
    FUZZ_CHECK(applied.preprocessorSettings.empty(), "no post-processor setting reaches the pre-processor");
    for (const auto& [dialogName, declaredName]: processorNames)
    {
        const auto sent = values.find(dialogName);
        if (sent == values.end())
            continue;
        const auto kept = applied.postprocessorSettings.find(declaredName);
        FUZZ_CHECK(kept != applied.postprocessorSettings.end() && kept->second == sent->second,
            "a processor setting comes back under its declared name");
    }

    checkNmsPatch(parts.size() > 2 ? parts[2] : std::string_view(), applied);
    return 0;
}
