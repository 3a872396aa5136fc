#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yyjson.h>

#include "captured_log.h"
#include "foundations/json_helpers.h"
#include "foundations/text_helpers.h"
#include "settings/json_document.h"
#include "settings/stage_sections.h"
#include "settings_fixtures.h"

namespace {

using vyai::pipeline_stage_parameters_t;
using vyai::test::makeModel;
using vyai::test::makePostprocessor;
using vyai::test::makeStage;

// The sections array as text.
std::string sectionsText(const std::vector<pipeline_stage_parameters_t>& stages, bool ready = true,
    const std::string& selected = "p1")
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* sections = yyjson_mut_arr(doc);
    yyjson_mut_doc_set_root(doc, sections);
    vyai::appendStageSections({doc, ready, selected}, stages, sections);
    return vyai::jsonDocumentToString(doc);
}

// Sections parsed back, for looking at single items.
class Sections
{
public:
    explicit Sections(const std::vector<pipeline_stage_parameters_t>& stages, bool ready = true,
        const std::string& selected = "p1"):
        m_text(sectionsText(stages, ready, selected)), m_doc(vyai::readJsonDocument(m_text))
    {
    }

    const std::string& text() const { return m_text; }
    yyjson_val* root() const { return yyjson_doc_get_root(m_doc.get()); }

    static yyjson_val* stageItems(yyjson_val* section)
    {
        return yyjson_obj_get(yyjson_arr_get(yyjson_obj_get(section, "items"), 0), "items");
    }

    /** The stage group's item whose "caption" (or, failing that, "type") is key. */
    static yyjson_val* stageItem(yyjson_val* section, const char* key)
    {
        size_t index = 0;
        size_t count = 0;
        yyjson_val* item = nullptr;
        yyjson_arr_foreach(stageItems(section), index, count, item)
        {
            for (const char* field: {"caption", "type"})
            {
                const char* value = yyjson_get_str(yyjson_obj_get(item, field));
                if (value && std::string(value) == key)
                    return item;
            }
        }
        return nullptr;
    }

    static bool visible(yyjson_val* item) { return yyjson_get_bool(yyjson_obj_get(item, "visible")); }

private:
    std::string m_text;
    vyai::JsonDocument m_doc;
};

TEST(StageSections, EmptyStageListAppendsNothing)
{
    EXPECT_EQ(sectionsText({}), "[]");
}

TEST(StageSections, ChildrenNestInsideTheirParentToAnyDepth)
{
    const auto model = makeModel("m", "M", {"person"});
    pipeline_stage_parameters_t root = makeStage("r", model);
    root.children.push_back(makeStage("a", model, vyai::kConnectionDirect));
    root.children.push_back(makeStage("b", model, vyai::kConnectionConditional));
    root.children[0].children.push_back(makeStage("aa", model, vyai::kConnectionFeatureExtraction));
    pipeline_stage_parameters_t unassigned = makeStage("x", nullptr);
    unassigned.children.push_back(makeStage("xa", model, vyai::kConnectionDirect));

    const Sections sections({root, unassigned});
    yyjson_val* top = sections.root();
    ASSERT_EQ(yyjson_arr_size(top), 1u) << "a stage without a model gets no section";
    yyjson_val* rootSection = yyjson_arr_get(top, 0);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(rootSection, "name")), "section_r");
    yyjson_val* children = yyjson_obj_get(rootSection, "sections");
    ASSERT_EQ(yyjson_arr_size(children), 2u);
    yyjson_val* a = yyjson_arr_get(children, 0);
    yyjson_val* b = yyjson_arr_get(children, 1);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(a, "name")), "section_a");
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(b, "name")), "section_b");
    ASSERT_EQ(yyjson_arr_size(yyjson_obj_get(a, "sections")), 1u);
    yyjson_val* aa = yyjson_arr_get(yyjson_obj_get(a, "sections"), 0);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(aa, "name")), "section_aa");
    EXPECT_TRUE(yyjson_is_arr(yyjson_obj_get(aa, "sections")));
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(aa, "sections")), 0u);
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(b, "sections")), 0u);
}

TEST(StageSections, ConnectionBannerAndRegionOfInterestByLinkType)
{
    const struct
    {
        uint32_t connectionType;
        const char* bannerStart;
        bool regionVisible;
    } cases[] = {
        {vyai::kConnectionNone, "This is the root model.", true},
        {vyai::kConnectionDirect, "This model receives direct input", false},
        {vyai::kConnectionFeatureExtraction, "This model extracts features", false},
        {vyai::kConnectionConditional, "This model runs conditionally", true},
        {9, "", true},
    };
    for (const auto& testCase: cases)
    {
        const Sections sections({makeStage("s", makeModel("m", "M"), testCase.connectionType)});
        yyjson_val* section = yyjson_arr_get(sections.root(), 0);
        const std::string banner =
            yyjson_get_str(yyjson_obj_get(Sections::stageItem(section, "Banner"), "text"));
        EXPECT_EQ(banner.rfind(testCase.bannerStart, 0), 0u) << testCase.connectionType;
        if (testCase.connectionType == 9)
        {
            EXPECT_EQ(banner, "");
        }
        EXPECT_EQ(Sections::visible(Sections::stageItem(section, "Region of Interest")),
            testCase.regionVisible) << testCase.connectionType;
    }
}

TEST(StageSections, VisibilityFollowsReadinessSelectionAndExactProcessorNames)
{
    const struct
    {
        const char* name;
        bool ready;
        std::string selected;
        std::string postprocessor;
        bool sensitivity, lineCrossing, loitering, dumping;
    } cases[] = {
        {"not ready hides everything", false, "p1", "LineCrossing", false, false, false, false},
        {"line crossing only", true, "p1", "LineCrossing", true, true, false, false},
        {"letter case differs", true, "p1", "linecrossing", true, false, false, false},
        {"loitering", true, "p1", "LoiteringDetection", true, false, true, false},
        {"dumping", true, "p1", "Illegal Dumping", true, false, false, true},
        {"custom pipeline hides the sensitivity", true, "Custom", "", false, false, false, false},
    };
    for (const auto& testCase: cases)
    {
        const Sections sections({makeStage("s", makeModel("m", "M", {"person"}), vyai::kConnectionNone,
                                    testCase.postprocessor)},
            testCase.ready, testCase.selected);
        yyjson_val* section = yyjson_arr_get(sections.root(), 0);
        yyjson_val* lineCrossing = Sections::stageItem(section, "Line Crossing");
        EXPECT_EQ(Sections::visible(section), testCase.ready) << testCase.name;
        EXPECT_EQ(Sections::visible(Sections::stageItem(section, "Model Sensitivity")),
            testCase.sensitivity) << testCase.name;
        EXPECT_EQ(Sections::visible(lineCrossing), testCase.lineCrossing) << testCase.name;
        EXPECT_EQ(Sections::visible(yyjson_arr_get(yyjson_obj_get(lineCrossing, "items"), 0)),
            testCase.lineCrossing) << testCase.name;
        EXPECT_EQ(Sections::visible(Sections::stageItem(section, "Loitering Detection")),
            testCase.loitering) << testCase.name;
        EXPECT_EQ(Sections::visible(Sections::stageItem(section, "Illegal Dumping Detection")),
            testCase.dumping) << testCase.name;
        EXPECT_EQ(Sections::visible(Sections::stageItem(section, "Input Masks")), testCase.ready)
            << testCase.name;
        EXPECT_EQ(Sections::visible(Sections::stageItem(section, "Class Visualisation")),
            testCase.ready) << testCase.name;
    }
}

TEST(StageSections, ModelWithoutClassesHidesMasksAndHasNoVisualisation)
{
    const Sections sections({makeStage("s", makeModel("m", "M"))});
    yyjson_val* section = yyjson_arr_get(sections.root(), 0);
    ASSERT_NE(Sections::stageItem(section, "Input Masks"), nullptr);
    EXPECT_FALSE(Sections::visible(Sections::stageItem(section, "Input Masks")));
    EXPECT_EQ(Sections::stageItem(section, "Class Visualisation"), nullptr);
}

TEST(StageSections, DeclaredObjectsFollowTheClassesAndRepeatsAreKept)
{
    vyai::test::CapturedLog log;
    const vyai::ExternalPostprocessor_t post =
        makePostprocessor("Bags", {{"bag", "Bag"}, {"person", "Someone"}});
    pipeline_stage_parameters_t stage = makeStage("s", makeModel("m", "M", {"person", "bag \"x\""}));
    stage.externalPostprocessor = &post;

    EXPECT_NE(sectionsText({stage}).find(
                  R"("range":["person","bag \"x\"","bag","person"],)"
                  R"("defaultValue":["person","bag \"x\"","bag","person"],)"
                  R"("itemCaptions":{"person":"person","bag \"x\"":"bag \"x\"","bag":"Bag","person":"Someone"}})"),
        std::string::npos);
    log.stop();
    EXPECT_TRUE(log.contains("Adding object ID: bag:Bag"));
    EXPECT_TRUE(log.contains("Adding object ID: person:Someone"));
}

TEST(StageSections, ProcessorSettingsAreCopiedWithPrefixedNamesOrLeftOutWithAWarning)
{
    const std::string group = R"({"type":"GroupBox","caption":"Proc Settings","visible":true)";
    const struct
    {
        const char* name;
        std::string userSettings;
        std::string expected; //< "" when no group is expected
        bool warned;
    } cases[] = {
        {"array of items",
            R"([{"type":"TextField","name":"threshold"},{"type":"GroupBox","items":[{"name":"inner"}]}])",
            group + R"(,"items":[{"type":"TextField","name":"s1_KIND_setting_threshold"},)"
                    R"({"type":"GroupBox","items":[{"name":"s1_KIND_setting_inner"}]}]})",
            false},
        {"object root", "{}", group + "}", true},
        {"not JSON", "[{\"name\":", group + "}", true},
        {"invalid UTF-8 is refused like other bad JSON", "[\"\xC3\"]", group + "}", true},
        {"no settings declared", "", "", false},
    };
    for (const bool pre: {true, false})
    {
        for (const auto& testCase: cases)
        {
            vyai::test::CapturedLog log;
            vyai::ExternalPreprocessor_t preprocessor;
            preprocessor.Name = "Proc";
            preprocessor.UserSettings = testCase.userSettings;
            const vyai::ExternalPostprocessor_t postprocessor =
                makePostprocessor("Proc", {}, {}, testCase.userSettings);
            pipeline_stage_parameters_t stage = makeStage("s1", makeModel("m", "M"));
            if (pre)
                stage.externalPreprocessor = &preprocessor;
            else
                stage.externalPostprocessor = &postprocessor;

            const std::string text = sectionsText({stage});
            std::string expected = testCase.expected;
            vyai::replaceAll(expected, "_KIND_", pre ? "_preprocessor_" : "_postprocessor_");
            const std::string afterMasks = R"("maxPoints":8}]}}],"visible":false})";
            const size_t masksEnd = text.find(afterMasks);
            ASSERT_NE(masksEnd, std::string::npos);
            const std::string tail = text.substr(masksEnd + afterMasks.size());
            const std::string end = R"(],"visible":true,"caption":"M - Settings\n\n"})";
            EXPECT_EQ(tail.substr(0, tail.find(end)), expected.empty() ? "" : "," + expected)
                << testCase.name << (pre ? " (pre)" : " (post)");
            log.stop();
            const std::string warning = std::string("Warning! External ")
                + (pre ? "pre" : "post")
                + "processor settings should be a JSON document with array as root\n";
            EXPECT_EQ(log.contains(warning), testCase.warned) << testCase.name;
        }
    }
}

TEST(StageSections, MaskNamesKeepTheRepeaterPlaceholder)
{
    const std::string text = sectionsText({makeStage("s1", makeModel("m", "M", {"person"}))});
    EXPECT_NE(text.find(R"("filledCheckItems":["polygon#.figure_s1"])"), std::string::npos);
    EXPECT_NE(text.find(R"("name":"maskType_#_s1")"), std::string::npos);
    EXPECT_NE(text.find(R"({"type":"PolygonFigure","name":"polygon#.figure_s1","minPoints":3,"maxPoints":8})"),
        std::string::npos);
}

} // namespace
