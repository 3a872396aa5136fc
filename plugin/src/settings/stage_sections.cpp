#include "settings/stage_sections.h"

#include "foundations/constants.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "inference/external_processor_declarations.h"
#include "settings/json_builder.h"
#include "settings/setting_names.h"
#include "settings/settings_items.h"

namespace vyai {

namespace {

const char* connectionBannerText(uint32_t connectionType)
{
    switch (connectionType)
    {
        case kConnectionNone:
            return "This is the root model. It processes the input frames from the video stream.";
        case kConnectionDirect:
            return "This model receives direct input from the previous model. The output tensors "
                   "from the previous model are fed directly as input to this model.";
        case kConnectionConditional:
            return "This model runs conditionally based on the previous model's output. It will "
                   "only execute if the previous model outputs a true condition.";
        case kConnectionFeatureExtraction:
            return "This model extracts features from the previous model. Each bounding box "
                   "detected by the previous model is used to create sub-images, which are then "
                   "fed to this model as separate inputs.";
        default:
            return "";
    }
}

void appendSensitivity(const StageSectionContext& context, const pipeline_stage_parameters_t& stage,
    JsonArrayBuilder& items)
{
    items.item("SpinBox")
        .text("name", kModelNmsPrefix + stage.id)
        .text("caption", "Model Sensitivity")
        .text("suffix", "%")
        .text("description",
            "Controls the sensitivity of the model. A higher value will make the model more "
            "sensitive, resulting in more detections but also more false positives.")
        .text("isActive", "false")
        .real("defaultValue", 42.0)
        .real("minValue", 1.0)
        .real("maxValue", 100.0)
        .real("step", 5.0)
        .flag("visible", context.ready && context.selectedPipeline != kCustomPipelineId);
}

void appendRegionOfInterest(const StageSectionContext& context,
    const pipeline_stage_parameters_t& stage, JsonArrayBuilder& items)
{
    // A stage fed by its parent's tensors or crops has no frame of its own to crop.
    const bool ownsFrame = stage.connectionType != kConnectionDirect
        && stage.connectionType != kConnectionFeatureExtraction;
    items.item("BoxFigure")
        .text("caption", "Region of Interest")
        .text("name", kCropBoxPrefix + stage.id)
        .text("description", "The image will be cropped to this region before being sent to Veltrin.")
        .flag("visible", context.ready && ownsFrame);
}

/** A group box of "caption", "items" and "visible", in that order; returns its items. */
JsonArrayBuilder appendGroupBox(JsonArrayBuilder& items, const char* caption, bool visible)
{
    JsonObjectBuilder group = items.item("GroupBox");
    group.text("caption", caption);
    JsonArrayBuilder groupItems = group.array("items");
    group.flag("visible", visible);
    return groupItems;
}

void appendLineCrossing(const pipeline_stage_parameters_t& stage, bool visible,
    JsonArrayBuilder& items)
{
    JsonArrayBuilder groupItems = appendGroupBox(items, "Line Crossing", visible);
    groupItems.item("LineFigure")
        .text("name", kLineCrossingLinePrefix + stage.id)
        .text("caption", "Line")
        .text("description", "The line to detect crossings on.")
        .text("allowedDirections", "none")
        .flag("visible", visible);
}

void appendLoitering(const pipeline_stage_parameters_t& stage, bool visible, JsonArrayBuilder& items)
{
    JsonArrayBuilder groupItems = appendGroupBox(items, "Loitering Detection", visible);
    groupItems.item("SpinBox")
        .text("name", kLoiterDetectionTimeThresholdPrefix + stage.id)
        .text("caption", "Loiter Detection Time Threshold (s)")
        .text("description",
            "Loitering will be detected on persons who stay in frame for at least this amount of time.")
        .integer("minValue", 1)
        .integer("maxValue", 1000)
        .integer("defaultValue", 30)
        .flag("visible", visible);
    groupItems.item("TextField")
        .text("name", kLoiterDetectionObjectClassPrefix + stage.id)
        .text("caption", "Loiter Detection Class")
        .text("description", "Which object type to check for loitering detection.")
        .text("defaultValue", "person")
        .flag("visible", visible);
}

void appendDumping(const pipeline_stage_parameters_t& stage, bool visible, JsonArrayBuilder& items)
{
    JsonArrayBuilder groupItems = appendGroupBox(items, "Illegal Dumping Detection", visible);
    groupItems.item("TextField")
        .text("name", kDumpingDetectionObjectTypePrefix + stage.id)
        .text("caption", "Dumping Detection Class")
        .text("description", "Which object type to check for illegal dumping.")
        .text("defaultValue", "object")
        .flag("visible", visible);
    groupItems.item("SpinBox")
        .text("name", kDumpingDetectionTimeThresholdPrefix + stage.id)
        .text("caption", "Dumping Detection Time Threshold (s)")
        .text("description",
            "Dumping will be detected on objects which stays static for at least this amount of time.")
        .integer("minValue", 1)
        .integer("maxValue", 1000)
        .integer("defaultValue", 15)
        .flag("visible", visible);
    appendButton(groupItems, kTriggerReferenceRunButtonPrefix + stage.id, "Trigger Reference Run",
        "This will trigger a reference run in the Edge Veltrin to compare detected objects in "
        "subsequent runs to the ones detected in the reference run.")
        .flag("visible", visible);
}

void appendInputMasks(const pipeline_stage_parameters_t& stage, bool visible, JsonArrayBuilder& items)
{
    // "#" stays literal: the host's repeater numbers each copy, and the device agent reads the
    // masks back under the numbered names.
    const std::string polygonName = kPolygon + "#.figure_" + stage.id;
    JsonArrayBuilder groupItems = appendGroupBox(items, "Input Masks", visible);

    JsonObjectBuilder repeater = groupItems.item("Repeater");
    repeater.integer("count", 5);
    JsonObjectBuilder mask = repeater.object("template");
    mask.text("type", "GroupBox")
        .text("caption", "Mask #")
        .text("description",
            "Only bounding boxes whose center bottom falls within/without ( Depending on Mask "
            "Type ) this mask will generate objects.");
    mask.array("filledCheckItems").text(polygonName);
    JsonArrayBuilder maskItems = mask.array("items");
    JsonObjectBuilder maskType = maskItems.item("ComboBox");
    maskType.text("name", kMaskTypePrefix + "#_" + stage.id)
        .text("caption", "Mask Type")
        .text("description", "Choose whether this mask should be inclusive or exclusive.")
        .text("defaultValue", "inclusive");
    maskType.array("range").text("inclusive").text("exclusive");
    maskType.object("itemCaptions").text("inclusive", "Inclusive").text("exclusive", "Exclusive");
    maskItems.item("PolygonFigure")
        .text("name", polygonName)
        .integer("minPoints", 3)
        .integer("maxPoints", 8);
}

struct ProcessorSettings
{
    const std::string& name;
    const std::string& userSettings; //< the declaration's settings array as JSON text
    const std::string& nameInfix;
    const char* warning;
};

void appendProcessorSettings(const StageSectionContext& context,
    const pipeline_stage_parameters_t& stage, const ProcessorSettings& processor,
    JsonArrayBuilder& items)
{
    if (processor.userSettings.empty())
        return;
    JsonObjectBuilder group = items.item("GroupBox");
    group.text("caption", processor.name + " Settings").flag("visible", context.ready);

    const JsonDocument declared = readJsonDocument(processor.userSettings);
    yyjson_val* root = declared ? yyjson_doc_get_root(declared.get()) : nullptr;
    if (!yyjson_is_arr(root))
    {
        logError("%s", processor.warning);
        return;
    }
    yyjson_mut_val* copy = yyjson_val_mut_copy(context.doc, root);
    prefixSettingNames(context.doc, copy, processor.nameInfix, stage.id);
    group.value("items", copy);
}

void appendClassVisualisation(const StageSectionContext& context,
    const pipeline_stage_parameters_t& stage, JsonArrayBuilder& items)
{
    JsonObjectBuilder group = items.item("GroupBox");
    group.text("caption", "Class Visualisation").flag("visible", context.ready);
    JsonArrayBuilder groupItems = group.array("items");

    JsonObjectBuilder selector = groupItems.item("MultiSelectionComboBox");
    selector.text("name", kVisualiseClassesPrefix + stage.id)
        .text("caption", "Classes")
        .text("description", "Select which object classes to visualize with bounding boxes.");
    JsonArrayBuilder range = selector.array("range");
    JsonArrayBuilder selected = selector.array("defaultValue");
    JsonObjectBuilder captions = selector.object("itemCaptions");
    // Every class starts selected. A repeated name is listed again: the host gets what the
    // model and the processor declare.
    const auto addClass = [&](const std::string& id, const std::string& caption) {
        range.text(id);
        selected.text(id);
        captions.entry(id, caption);
    };
    for (const std::string& name: stage.model->classNames)
        addClass(name, name);
    if (stage.externalPostprocessor)
    {
        for (const auto& [id, name]: stage.externalPostprocessor->Objects)
        {
            addClass(id, name);
            logError("Adding object ID: %s:%s", id.c_str(), name.c_str());
        }
    }

    JsonArrayBuilder row = groupItems.item("Row").array("items");
    appendButton(row, kSelectAllButton + "_" + stage.id, "Select All",
        "Select all object classes for visualization.");
    appendButton(row, kDeSelectAllButton + "_" + stage.id, "Deselect All",
        "Deselect all object classes for visualization.");
}

void appendStageSection(const StageSectionContext& context, const pipeline_stage_parameters_t& stage,
    JsonArrayBuilder& sections)
{
    const ModelDetails_t& model = *stage.model;
    JsonObjectBuilder section = sections.item("Section");
    section.text("caption", model.name).text("name", "section_" + stage.id)
        .flag("visible", context.ready);
    JsonArrayBuilder sectionItems = section.array("items");

    JsonObjectBuilder stageGroup = sectionItems.item("GroupBox");
    JsonArrayBuilder items = stageGroup.array("items");
    stageGroup.flag("visible", context.ready).text("caption", model.name + " - Settings\n\n");

    appendBanner(items, "information", connectionBannerText(stage.connectionType));
    appendSensitivity(context, stage, items);
    appendRegionOfInterest(context, stage, items);
    // Byte-exact names: a post-processor spelled otherwise is an external one.
    appendLineCrossing(stage, context.ready && stage.postprocessor == "LineCrossing", items);
    appendLoitering(stage, context.ready && stage.postprocessor == "LoiteringDetection", items);
    appendDumping(stage, context.ready && stage.postprocessor == "Illegal Dumping", items);
    appendInputMasks(stage, context.ready && !model.classNames.empty(), items);
    if (const ExternalPreprocessor_t* pre = stage.externalPreprocessor)
    {
        appendProcessorSettings(context, stage,
            {pre->Name, pre->UserSettings, kPreprocessorSettingInfix,
                "Warning! External preprocessor settings should be a JSON document with array as root\n"},
            items);
    }
    if (const ExternalPostprocessor_t* post = stage.externalPostprocessor)
    {
        appendProcessorSettings(context, stage,
            {post->Name, post->UserSettings, kPostprocessorSettingInfix,
                "Warning! External postprocessor settings should be a JSON document with array as root\n"},
            items);
    }
    if (!model.classNames.empty())
        appendClassVisualisation(context, stage, items);

    appendStageSections(context, stage.children, section.array("sections").val());
}

} // namespace

void appendStageSections(const StageSectionContext& context,
    const std::vector<pipeline_stage_parameters_t>& stages, yyjson_mut_val* sections)
{
    JsonArrayBuilder sectionList(context.doc, sections);
    for (const pipeline_stage_parameters_t& stage: stages)
    {
        if (stage.model)
            appendStageSection(context, stage, sectionList);
    }
}

} // namespace vyai
