#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/model_descriptions.h"
#include "foundations/json_helpers.h"
#include "foundations/message_codes.h"
#include "inference/model_input_spec_from_details.h"
#include "inference/model_vocabulary.h"
#include "scoped_temp_directory.h"

namespace {

using vyai::ModelDetailsMap;


constexpr const char* kMime = "application/x-cpu";

// 2026-01-02T03:04:05 and 2026-01-01T00:00:00 UTC.
constexpr int64_t kUpdatedAt = 1767323045;
constexpr int64_t kLastModified = 1767225600;

const std::string kModel = R"({"UUID":"m-1","UpdatedAt":"2026-01-02T03:04:05","Name":"People",
 "Downloads":[
  {"RuntimeArchitecture":"application/x-other","Url":"https://cdn.test/other.bin","LastModified":"2026-01-01T00:00:00","Size":1},
  {"RuntimeArchitecture":"application/x-cpu","Url":"https://cdn.test/m-1/model.bin?sig=1","LastModified":"2026-01-01T00:00:00","Size":1000}],
 "InputDriverDetails":{"width":640,"height":480,"channels":3,"vars":[255,255,255],"means":[0,0,0.5],"order":1},
 "NamedInput":[{"DataType":"float32","Name":"images","Shape":[1,3,480,640]}],
 "NamedOutput":[{"DataType":"float32","Name":"bboxes-format:xyxysc;0:person;1:car","Shape":[1,100,6]},
  {"DataType":"float32","Name":"scores-0:person","Shape":[1,100]}]})";

/** The model text with one fragment replaced; the fragment must be there. */
std::string edited(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string device(const std::string& id, const std::string& models, const char* enabled = "true")
{
    return R"({"id":")" + id + R"(","parameters":{"vyAI":{"PluginEnabled":)" + enabled
        + R"(,"models":[)" + models + R"(],"pipelines":[]}}})";
}

class ModelDescriptions: public ::testing::Test
{
protected:
    ModelDetailsMap read(const std::string& devicesText, const std::string& mime = kMime)
    {
        const vyai::JsonDocument document = vyai::readJsonDocument(devicesText);
        EXPECT_TRUE(document) << devicesText;
        const vyai::ModelReadingContext context{"Generic CPU", mime, "/cache/model_files", "/cache/keys", "/tmp"};
        return vyai::readModelDetails(yyjson_doc_get_root(document.get()), context, messages);
    }

    std::string parseFailure() const
    {
        const auto all = messages.getMessages();
        const auto entry = all.find(vyai::kMessageParseModelFailed);
        return entry == all.end() ? std::string() : entry->second.text;
    }

    vyai::MessagingManager messages;
};

TEST_F(ModelDescriptions, AValidModelIsDescribedInFull)
{
    const ModelDetailsMap models = read("[" + device("cam-1", kModel) + "]");
    ASSERT_EQ(models.size(), 1u);
    const vyai::ModelDetails_t& model = *models.at("m-1");
    EXPECT_EQ(model.name, "People");
    EXPECT_EQ(model.updatedAt, kUpdatedAt);
    EXPECT_EQ(model.status.load(), vyai::kModelDescribed);
    EXPECT_TRUE(model.errorsCopy().empty());
    EXPECT_EQ(model.url, "https://cdn.test/m-1/model.bin?sig=1");
    EXPECT_EQ(model.modelFilePath, "/cache/model_files/m-1_model.bin?sig=1"); // the query stays part of the name
    EXPECT_EQ(model.decryptedFilePath, "/tmp/m-1_model.bin?sig=1");
    EXPECT_EQ(model.keyFilePath, "/cache/keys/m-1.vyc");
    EXPECT_EQ(model.runtimeName, "Generic CPU");
    EXPECT_EQ(model.lastModified, kLastModified);
    EXPECT_TRUE(model.downloadAvailable);
    EXPECT_EQ(model.size, 1000u);
    EXPECT_EQ(model.width, 640u);
    EXPECT_EQ(model.height, 480u);
    EXPECT_EQ(model.channels, 3u);
    EXPECT_EQ(model.order, 1u);
    EXPECT_EQ(model.means, (std::array<float, 3>{0.0f, 0.0f, 0.5f}));
    EXPECT_EQ(model.vars, (std::array<float, 3>{255.0f, 255.0f, 255.0f}));
    ASSERT_EQ(model.namedInputs.size(), 1u);
    EXPECT_EQ(model.namedInputs[0].byteSize, 4u * 3 * 480 * 640);
    EXPECT_EQ(model.namedInputs[0].shape, (std::vector<int64_t>{1, 3, 480, 640}));
    ASSERT_EQ(model.namedOutputs.size(), 2u);
    EXPECT_EQ(model.boxesOutputName, "bboxes-format:xyxysc;0:person;1:car");
    EXPECT_EQ(model.classNames, (std::vector<std::string>{"person", "car"}));
    EXPECT_EQ(model.scoresOutputName, "scores-0:person");
    EXPECT_EQ(model.scoresClassNames, (std::vector<std::string>{"person"}));
    EXPECT_EQ(parseFailure(), "");
}

TEST_F(ModelDescriptions, InvalidDataSkipsOnlyThatModelAndIsReported)
{
    struct Case
    {
        const char* from;
        const char* to;
        const char* named; //< what the reported error names
    };
    const Case cases[] = {
        {R"("Name":"People",)", "", "missing required string: Name"},
        {R"("Name":"People")", R"("Name":5)", "missing required string: Name"},
        {R"("InputDriverDetails")", R"("Other")", "missing required key: InputDriverDetails"},
        {R"("vars":[255,255,255])", R"("vars":[255,255])", "'vars' must have exactly 3 values."},
        {R"("means":[0,0,0.5])", R"("means":[0,0,0.5,1])", "'means' must have exactly 3 values."},
        {R"("width":640)", R"("width":0)", "'width'"},
        {R"("height":480)", R"("height":-480)", "'height'"},
        {R"("channels":3)", R"("channels":"3")", "'channels'"},
        {"[1,3,480,640]", "[1,3,0,640]", "Shape of images"},
        {"[1,3,480,640]", "[1,-1,480,640]", "Shape of images"},
        {"[1,3,480,640]", "[4294967296,4294967296,3]", "Shape of images is too large"},
        {R"("UUID":"m-1")", R"("UUID":"../../x")", "UUID"},
        {R"("UUID":"m-1")", R"("UUID":"a/b")", "UUID"},
        {R"("UUID":"m-1")", R"("UUID":"")", "UUID"},
        {"https://cdn.test/m-1/model.bin?sig=1", "https://cdn.test/m-1/..", "Url names no usable file"},
        {"https://cdn.test/m-1/model.bin?sig=1", "https://cdn.test/", "Url names no usable file"},
        {"https://cdn.test/m-1/model.bin?sig=1", "cdn.test", "Url names no usable file"},
        {"https://cdn.test/m-1/model.bin?sig=1", R"(https://cdn.test/a\\b.bin)", "Url names no usable file"},
    };
    const std::string other = edited(kModel, R"("UUID":"m-1")", R"("UUID":"m-2")");
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.to);
        const ModelDetailsMap models = read(
            "[" + device("cam-1", edited(kModel, c.from, c.to)) + "," + device("cam-2", other) + "]");
        EXPECT_EQ(models.size(), 1u);
        EXPECT_EQ(models.count("m-2"), 1u);
        EXPECT_NE(parseFailure().find(c.named), std::string::npos) << parseFailure();
        EXPECT_EQ(parseFailure().rfind(vyai::parseModelFailedText(""), 0), 0u);
    }
}

TEST_F(ModelDescriptions, APassWithoutFailuresRemovesTheParseWarning)
{
    read("[" + device("cam-1", edited(kModel, R"("Name":"People",)", "")) + "]");
    ASSERT_NE(parseFailure(), "");
    read("[" + device("cam-1", kModel) + "]");
    EXPECT_EQ(parseFailure(), "");
}

TEST_F(ModelDescriptions, TheSameModelOfTwoDevicesIsTheNewestThatParses)
{
    struct Case
    {
        const char* secondUpdatedAt;
        bool secondValid;
        const char* expectedName;
        bool failure;
    };
    const Case cases[] = {
        {"2026-01-03T00:00:00", true, "Second", false},
        {"2026-01-02T03:04:05", true, "People", false}, // equal times: the first
        {"2025-12-31T00:00:00", true, "People", false},
        // A broken newer description does not take the valid older one with it.
        {"2026-01-03T00:00:00", false, "People", true},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.secondUpdatedAt);
        std::string second = edited(edited(kModel, "2026-01-02T03:04:05", c.secondUpdatedAt),
            R"("Name":"People")", R"("Name":"Second")");
        if (!c.secondValid)
            second = edited(second, R"("width":640)", R"("width":0)");
        const ModelDetailsMap models =
            read("[" + device("cam-1", kModel) + "," + device("cam-2", second) + "]");
        ASSERT_EQ(models.size(), 1u);
        EXPECT_EQ(models.at("m-1")->name, c.expectedName);
        EXPECT_EQ(parseFailure() != "", c.failure);
        messages.removeMessage(vyai::kMessageParseModelFailed);
    }
}

TEST_F(ModelDescriptions, AModelWithoutADownloadForTheRuntimeIsDescribedAsFailed)
{
    for (const std::string& mime: {std::string("application/x-gpu"), std::string()})
    {
        SCOPED_TRACE(mime);
        // An empty mime type (no runtime installed) matches not even an empty architecture.
        const std::string model = edited(kModel, "application/x-other", "");
        const ModelDetailsMap models = read("[" + device("cam-1", model) + "]", mime);
        ASSERT_EQ(models.size(), 1u);
        const vyai::ModelDetails_t& record = *models.at("m-1");
        EXPECT_EQ(record.status.load(), vyai::kModelFailed);
        EXPECT_FALSE(record.downloadAvailable);
        EXPECT_EQ(record.errorsCopy(),
            std::vector<std::string>{"This model is not compatible with the selected runtime.\nRuntime: "
                "Generic CPU has mimetype: " + mime});
        EXPECT_EQ(parseFailure(), "");
    }
}

TEST_F(ModelDescriptions, ADownloadWithoutASizeGivesWayToTheNextMatchingOne)
{
    for (const char* size: {"0", "-5", "\"1000\""})
    {
        SCOPED_TRACE(size);
        const std::string model = edited(kModel,
            R"("application/x-other","Url":"https://cdn.test/other.bin","LastModified":"2026-01-01T00:00:00","Size":1)",
            std::string(R"("application/x-cpu","Url":"https://cdn.test/first.bin","LastModified":"2026-01-01T00:00:00","Size":)")
                + size);
        const ModelDetailsMap models = read("[" + device("cam-1", model) + "]");
        ASSERT_EQ(models.count("m-1"), 1u);
        EXPECT_EQ(models.at("m-1")->url, "https://cdn.test/m-1/model.bin?sig=1");
        EXPECT_EQ(models.at("m-1")->size, 1000u);
    }
}

TEST_F(ModelDescriptions, ModelsWhoseUrlsEndAlikeKeepTheirFilesApart)
{
    const std::string second = edited(edited(kModel, R"("UUID":"m-1")", R"("UUID":"m-2")"),
        "https://cdn.test/m-1/model.bin?sig=1", "https://cdn.test/m-2/model.bin");
    const ModelDetailsMap models = read("[" + device("cam-1", kModel + "," + second) + "]");
    ASSERT_EQ(models.size(), 2u);
    EXPECT_NE(models.at("m-1")->modelFilePath, models.at("m-2")->modelFilePath);
    EXPECT_NE(models.at("m-1")->decryptedFilePath, models.at("m-2")->decryptedFilePath);
}

TEST_F(ModelDescriptions, DisabledDevicesAndUnreadableTimesContributeNoModels)
{
    EXPECT_TRUE(read("[" + device("cam-1", kModel, "false") + "]").empty());
    EXPECT_TRUE(read("[" + device("cam-1", kModel, "\"true\"") + "]").empty());
    EXPECT_TRUE(read(R"([{"id":"cam-1","parameters":{"vyAI":{"models":[)" + kModel + "]}}}]").empty());
    EXPECT_TRUE(read("[" + device("cam-1", edited(kModel, "2026-01-02T03:04:05", "yesterday")) + "]").empty());
    EXPECT_EQ(parseFailure(), "");
}

TEST(UnconfiguredDevices, AreThoseWithAnIncompleteVyAIValue)
{
    const vyai::JsonDocument document = vyai::readJsonDocument(R"([
        {"id":"no-parameters"},
        {"id":"no-vyAI","parameters":{}},
        {"id":"not-an-object","parameters":{"vyAI":"x"}},
        {"id":"no-models","parameters":{"vyAI":{"pipelines":[]}}},
        {"id":"no-pipelines","parameters":{"vyAI":{"models":[]}}},
        {"id":"complete","parameters":{"vyAI":{"models":[],"pipelines":[]}}},
        {"parameters":{"vyAI":{}}},
        {"id":7,"parameters":{"vyAI":{}}}
    ])");
    EXPECT_EQ(vyai::unconfiguredDeviceIds(yyjson_doc_get_root(document.get())),
        (std::vector<std::string>{"not-an-object", "no-models", "no-pipelines"}));
}

class RawPostprocessing: public ModelDescriptions
{
protected:
    ModelDetailsMap applied(const std::optional<std::string>& file)
    {
        if (file)
            std::ofstream(directory.file("raw_postprocessing.json")) << *file;
        // m-2 has no output that names its classes.
        const std::string plain = edited(edited(kModel, R"("UUID":"m-1")", R"("UUID":"m-2")"),
            "bboxes-format:xyxysc;0:person;1:car", "output0");
        ModelDetailsMap models = read("[" + device("cam-1", kModel + "," + plain) + "]");
        vyai::applyRawPostprocessingConfig(models, directory.path().string());
        return models;
    }

    ScopedTempDirectory directory;
};

TEST_F(RawPostprocessing, TheFileAppliesToEveryModelButClassNamesOnlyWhereThereAreNone)
{
    const ModelDetailsMap models = applied(
        R"({"confidence_threshold":1,"iou_threshold":0.3,"class_names":["a",5,"b"],"modelArchitecture":"rt-detr"})");
    const vyai::ModelDetails_t& named = *models.at("m-1");
    const vyai::ModelDetails_t& plain = *models.at("m-2");
    for (const vyai::ModelDetails_t* model: {&named, &plain})
    {
        EXPECT_TRUE(model->rawPostprocessingApplied);
        EXPECT_FLOAT_EQ(model->confidenceThreshold, 1.0f);
        EXPECT_FLOAT_EQ(model->iouThreshold, 0.3f);
        EXPECT_EQ(model->boxesOutputName, "output0 format:xyxysc");
        EXPECT_EQ(model->architecture, static_cast<uint32_t>(vyai::ModelArchitecture::RtDetr));
    }
    EXPECT_EQ(named.classNames, (std::vector<std::string>{"person", "car"}));
    EXPECT_EQ(plain.classNames, (std::vector<std::string>{"a", "b"}));
}

TEST_F(RawPostprocessing, AMissingEmptyOrBrokenFileLeavesTheDefaults)
{
    for (const auto& file: {std::optional<std::string>(), std::optional<std::string>(""),
             std::optional<std::string>("{not json")})
    {
        const ModelDetailsMap models = applied(file);
        EXPECT_FALSE(models.at("m-1")->rawPostprocessingApplied);
        EXPECT_FLOAT_EQ(models.at("m-1")->confidenceThreshold, 0.25f);
        EXPECT_EQ(models.at("m-1")->boxesOutputName, "bboxes-format:xyxysc;0:person;1:car");
    }
}

TEST_F(RawPostprocessing, AnUnknownArchitectureFallsBackToTheDefault)
{
    const ModelDetailsMap models = applied(R"({"modelArchitecture":"no-such-net"})");
    EXPECT_TRUE(models.at("m-1")->rawPostprocessingApplied);
    EXPECT_EQ(models.at("m-1")->architecture, 0u);
}

TEST_F(ModelDescriptions, FramePreprocessingReadsTheSameDescription)
{
    const ModelDetailsMap models = read("[" + device("cam-1", kModel) + "]");
    const vyai::ModelInputSpec spec = vyai::modelInputSpecFromDetails(*models.at("m-1"));
    EXPECT_EQ(spec.modelName, "People");
    ASSERT_EQ(spec.inputs.size(), 1u);
    EXPECT_EQ(spec.inputs[0].name, "images");
    EXPECT_EQ(spec.inputs[0].type, vyai::dataTypeFromString("float32"));
    EXPECT_EQ(spec.inputs[0].shape, (std::vector<int64_t>{1, 3, 480, 640}));
    EXPECT_EQ(spec.width, 640u);
    EXPECT_EQ(spec.height, 480u);
    EXPECT_EQ(spec.order, 1);
    EXPECT_EQ(spec.vars, (std::array<float, 3>{255.0f, 255.0f, 255.0f}));
    EXPECT_EQ(spec.runtimeName, "Generic CPU");
}

} // namespace
