#include "core/gui_settings.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include <yyjson.h>

#include "foundations/constants.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "foundations/text_helpers.h"
#include "inference/external_processor_declarations.h"
#include "settings/pipeline_stage_walks.h"

namespace vyai {

namespace {

constexpr int32_t kDefaultNmsPercentage = 42;
constexpr int32_t kDefaultLoiteringSeconds = 30;
constexpr int32_t kDefaultDumpingSeconds = 60;
constexpr int64_t kMicrosPerSecond = 1'000'000;

using Values = std::map<std::string, std::string>;

const std::string* findValue(const Values& values, const std::string& key)
{
    const auto found = values.find(key);
    return found == values.end() ? nullptr : &found->second;
}

double pointCoordinate(yyjson_val* point, size_t index)
{
    yyjson_val* value = yyjson_arr_get(point, index);
    return yyjson_is_num(value) ? yyjson_get_num(value) : 0.0;
}

// A coordinate beyond a float's range would make an infinite mask or line.
bool fitsFloat(double coordinate)
{
    return std::fabs(coordinate) <= std::numeric_limits<float>::max();
}

// The "points" array of a dialog figure {"figure": {"points": [[x, y], ...]}}; null if none.
yyjson_val* figurePoints(yyjson_val* root)
{
    yyjson_val* figure = yyjson_obj_get(root, "figure");
    return yyjson_is_obj(figure) ? yyjson_obj_get(figure, "points") : nullptr;
}

void applyCropBox(pipeline_stage_parameters_t& stage, const std::string* value)
{
    float box[4] = {0, 0, 1, 1};
    const JsonDocument doc = value ? readJsonDocument(*value) : nullptr;
    yyjson_val* points = figurePoints(yyjson_doc_get_root(doc.get()));
    if (yyjson_is_arr(points) && yyjson_arr_size(points) == 2)
    {
        for (size_t i = 0; i < 2; ++i)
        {
            yyjson_val* point = yyjson_arr_get(points, i);
            if (!yyjson_is_arr(point) || yyjson_arr_size(point) != 2)
                break;
            box[2 * i] = static_cast<float>(std::clamp(pointCoordinate(point, 0), 0.0, 1.0));
            box[2 * i + 1] = static_cast<float>(std::clamp(pointCoordinate(point, 1), 0.0, 1.0));
        }
        if (box[0] > box[2])
            std::swap(box[0], box[2]);
        if (box[1] > box[3])
            std::swap(box[1], box[3]);
    }
    std::copy(std::begin(box), std::end(box), stage.cropBox);
}

bool applyModelNms(pipeline_stage_parameters_t& stage, const std::string* value)
{
    if (!value)
        return false;
    const int32_t percentage = stringToIntOr(*value, kDefaultNmsPercentage);
    const float nms = static_cast<float>(1.0 - percentage / 100.0);
    if (std::fabs(nms - stage.modelNMS) < 1e-6F)
        return false;
    stage.modelNMS = nms;
    logInfo("Set model NMS for %s to %.4f (percentage: %d)\n", stage.id.c_str(), nms, percentage);
    return true;
}

void applyVisualisedClasses(pipeline_stage_parameters_t& stage, const std::string* value)
{
    stage.visualisedClasses.clear();
    const std::vector<std::string> noClasses;
    const std::vector<std::string>& classNames = stage.model ? stage.model->classNames : noClasses;
    if (!value)
    {
        for (const std::string& name: visualisableClasses(stage))
            stage.visualisedClasses[name] = true;
        return;
    }
    const JsonDocument doc = readJsonDocument(*value);
    if (!doc)
    {
        logError("Warning! Failed to parse visualisation settings for pipeline %s\n", stage.id.c_str());
        return;
    }
    yyjson_val* shown = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(shown))
    {
        logError("Warning! Visualisation settings for pipeline %s is not an array\n", stage.id.c_str());
        return;
    }
    for (const std::string& name: classNames)
        stage.visualisedClasses[name] = false;
    size_t index = 0;
    size_t count = 0;
    yyjson_val* item = nullptr;
    yyjson_arr_foreach(shown, index, count, item)
    {
        if (const char* name = yyjson_get_str(item))
            stage.visualisedClasses[name] = true;
    }
}

void applyMasks(pipeline_stage_parameters_t& stage, const Values& values)
{
    stage.masks.clear();
    for (uint32_t number = 1;; ++number)
    {
        const std::string suffix = std::to_string(number);
        const std::string* type = findValue(values, kMaskTypePrefix + suffix + "_" + stage.id);
        if (!type)
            return;
        const std::string* polygon = findValue(values, kPolygon + suffix + ".figure_" + stage.id);
        if (!polygon)
            continue;
        const JsonDocument doc = readJsonDocument(*polygon);
        if (!doc)
        {
            logError("Failed to parse polygon for mask %u\n", number);
            continue;
        }
        StageMask_t mask;
        mask.exclusive = *type == "exclusive" ? 1 : 0;
        size_t index = 0;
        size_t count = 0;
        yyjson_val* point = nullptr;
        yyjson_arr_foreach(figurePoints(yyjson_doc_get_root(doc.get())), index, count, point)
        {
            if (!yyjson_is_arr(point) || yyjson_arr_size(point) < 2)
                continue;
            const double x = pointCoordinate(point, 0);
            const double y = pointCoordinate(point, 1);
            if (!fitsFloat(x) || !fitsFloat(y))
                continue;
            mask.points.push_back(static_cast<float>(x));
            mask.points.push_back(static_cast<float>(y));
        }
        if (!mask.points.empty())
            stage.masks.push_back(std::move(mask));
    }
}

void applyCrossingLine(pipeline_stage_parameters_t& stage, const std::string* value)
{
    stage.crossingLine.reset();
    if (!value)
        return;
    const JsonDocument doc = readJsonDocument(*value);
    if (!doc)
    {
        logError("Failed to parse line crossing settings\n");
        return;
    }
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    yyjson_val* figure = yyjson_obj_get(root, "figure");
    if (!yyjson_is_obj(figure) || !yyjson_obj_get(figure, "points"))
    {
        logInfo("No line crossing line specified.\n");
        return;
    }
    yyjson_val* points = yyjson_obj_get(figure, "points");
    if (!yyjson_is_arr(points) || yyjson_arr_size(points) < 2)
        return;
    yyjson_val* start = yyjson_arr_get(points, 0);
    yyjson_val* end = yyjson_arr_get(points, 1);
    const double ends[] = {pointCoordinate(start, 0), pointCoordinate(start, 1), pointCoordinate(end, 0),
        pointCoordinate(end, 1)};
    if (!std::all_of(std::begin(ends), std::end(ends), fitsFloat))
    {
        logError("Warning! The crossing line of %s lies beyond any frame. Ignoring it.\n", stage.id.c_str());
        return;
    }
    StageCrossingLine_t line;
    line.x1 = static_cast<float>(ends[0]);
    line.y1 = static_cast<float>(ends[1]);
    line.x2 = static_cast<float>(ends[2]);
    line.y2 = static_cast<float>(ends[3]);
    line.enabled = 1;
    stage.crossingLine = line;
}

std::string valueOr(const std::string* value, const char* fallback)
{
    return value ? *value : fallback;
}

int64_t secondsOr(const std::string* value, int32_t fallback)
{
    return value ? stringToIntOr(*value, fallback) : fallback;
}

void applyLoiteringAndDumping(pipeline_stage_parameters_t& stage, const Values& values)
{
    stage.loitering.reset();
    stage.dumping.reset();
    if (stage.postprocessor == "LoiteringDetection")
    {
        StageLoitering_t loitering;
        loitering.enabled = true;
        loitering.thresholdSeconds = secondsOr(
            findValue(values, kLoiterDetectionTimeThresholdPrefix + stage.id), kDefaultLoiteringSeconds);
        loitering.objectClass = valueOr(findValue(values, kLoiterDetectionObjectClassPrefix + stage.id), "person");
        stage.loitering = loitering;
    }
    if (stage.postprocessor == "Illegal Dumping")
    {
        StageDumping_t dumping;
        dumping.enabled = true;
        dumping.objectType = valueOr(findValue(values, kDumpingDetectionObjectTypePrefix + stage.id), "object");
        dumping.thresholdMicros = kMicrosPerSecond
            * secondsOr(findValue(values, kDumpingDetectionTimeThresholdPrefix + stage.id), kDefaultDumpingSeconds);
        stage.dumping = dumping;
    }
}

void applyProcessorSettings(pipeline_stage_parameters_t& stage, const Values& values)
{
    const std::pair<std::string, std::map<std::string, std::string>*> kinds[] = {
        {stage.id + kPostprocessorSettingInfix, &stage.postprocessorSettings},
        {stage.id + kPreprocessorSettingInfix, &stage.preprocessorSettings},
    };
    for (const auto& [prefix, settings]: kinds)
    {
        for (auto entry = values.lower_bound(prefix);
             entry != values.end() && entry->first.starts_with(prefix); ++entry)
        {
            (*settings)[entry->first.substr(prefix.size())] = entry->second;
        }
    }
}

bool applyToStages(std::vector<pipeline_stage_parameters_t>& stages, const Values& values)
{
    bool nmsChanged = false;
    for (pipeline_stage_parameters_t& stage: stages)
    {
        applyCropBox(stage, findValue(values, kCropBoxPrefix + stage.id));
        nmsChanged = applyModelNms(stage, findValue(values, kModelNmsPrefix + stage.id)) || nmsChanged;
        applyVisualisedClasses(stage, findValue(values, kVisualiseClassesPrefix + stage.id));
        applyMasks(stage, values);
        applyCrossingLine(stage, findValue(values, kLineCrossingLinePrefix + stage.id));
        applyLoiteringAndDumping(stage, values);
        applyProcessorSettings(stage, values);
        nmsChanged = applyToStages(stage.children, values) || nmsChanged;
    }
    return nmsChanged;
}

} // namespace

bool applyGuiSettings(DeviceAgentSettings_t& record, const std::map<std::string, std::string>& values)
{
    const std::string* active = findValue(values, kDeviceActiveSwitch);
    record.active = active && *active == "true";
    return applyToStages(record.pipelines, values);
}

} // namespace vyai
