#include <string>

#include <gtest/gtest.h>
#include <yyjson.h>

#include "settings/json_document.h"
#include "settings/setting_names.h"

namespace {

// Parses the items into a document, prefixes them and writes them back, as a text.
std::string prefixed(const std::string& itemsJson, const std::string& head)
{
    yyjson_doc* parsed = yyjson_read(itemsJson.data(), itemsJson.size(), 0);
    EXPECT_NE(parsed, nullptr) << itemsJson;
    yyjson_mut_doc* doc = yyjson_doc_mut_copy(parsed, nullptr);
    yyjson_doc_free(parsed);
    vyai::prefixSettingNames(doc, yyjson_mut_doc_get_root(doc), "_postprocessor_setting_", head);
    return vyai::jsonDocumentToString(doc);
}

struct PrefixCase
{
    const char* name;
    const char* items;
    const char* expected;
};

class PrefixSettingNames: public testing::TestWithParam<PrefixCase> {};

TEST_P(PrefixSettingNames, RewritesNamesAsTheHostReturnsThem)
{
    EXPECT_EQ(prefixed(GetParam().items, "s1"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PrefixSettingNames, testing::Values(
    PrefixCase{"StringNameMovesLast",
        R"([{"type":"TextField","name":"threshold","caption":"T"}])",
        R"([{"type":"TextField","caption":"T","name":"s1_postprocessor_setting_threshold"}])"},
    PrefixCase{"NumberNameKept",
        R"([{"name":7,"type":"SpinBox"}])",
        R"([{"name":7,"type":"SpinBox"}])"},
    PrefixCase{"TwoNamesBecomeOneFromTheFirst",
        R"([{"name":"a","type":"X","name":"b"}])",
        R"([{"type":"X","name":"s1_postprocessor_setting_a"}])"},
    PrefixCase{"UnnamedGroupPrefixesItsItemsOnce",
        R"([{"type":"GroupBox","items":[{"name":"x"},{"type":"Row","items":[{"name":"y"}]}]}])",
        R"([{"type":"GroupBox","items":[{"name":"s1_postprocessor_setting_x"},)"
        R"({"type":"Row","items":[{"name":"s1_postprocessor_setting_y"}]}]}])"},
    PrefixCase{"RepeaterTemplateKeepsItsPlaceholder",
        R"([{"type":"Repeater","count":2,"template":{"name":"zone#","items":[{"name":"p#"}]}}])",
        R"([{"type":"Repeater","count":2,"template":{"items":[{"name":"s1_postprocessor_setting_p#"}],)"
        R"("name":"s1_postprocessor_setting_zone#"}}])"},
    PrefixCase{"OnlyTheFirstItemsArrayIsFollowed",
        R"([{"items":[{"name":"a"}],"items":[{"name":"b"}]}])",
        R"([{"items":[{"name":"s1_postprocessor_setting_a"}],"items":[{"name":"b"}]}])"},
    PrefixCase{"NonObjectsAndNonArraysAreSkipped",
        R"([1,"name",null,{"items":{"name":"in an object"},"template":[{"name":"in an array"}]}])",
        R"([1,"name",null,{"items":{"name":"in an object"},"template":[{"name":"in an array"}]}])"},
    PrefixCase{"TextsNeedingEscapesStayEscaped",
        R"([{"name":"a\"b\\c"}])",
        R"([{"name":"s1_postprocessor_setting_a\"b\\c"}])"}),
    [](const testing::TestParamInfo<PrefixCase>& info) { return std::string(info.param.name); });

TEST(PrefixSettingNames, ValueThatIsNoArrayIsLeftAlone)
{
    EXPECT_EQ(prefixed(R"({"name":"a","items":[{"name":"b"}]})", "s1"),
        R"({"name":"a","items":[{"name":"b"}]})");
}

TEST(PrefixSettingName, ItemTakesItsPrefixItsItemsTheHeadAndSuffix)
{
    const std::string text = R"({"name":"n","template":{"name":"t","items":[{"name":"i"}]}})";
    yyjson_doc* parsed = yyjson_read(text.data(), text.size(), 0);
    yyjson_mut_doc* doc = yyjson_doc_mut_copy(parsed, nullptr);
    yyjson_doc_free(parsed);
    vyai::prefixSettingName(doc, yyjson_mut_doc_get_root(doc), "_x_", "h", "P:");
    EXPECT_EQ(vyai::jsonDocumentToString(doc),
        R"({"template":{"items":[{"name":"h_x_i"}],"name":"P:t"},"name":"P:n"})");
}

TEST(PrefixSettingNames, DeepNestingDoesNotExhaustTheStack)
{
    constexpr int kDepth = 200000;
    std::string text;
    for (int i = 0; i < kDepth; ++i)
        text += R"([{"name":"n","items":)";
    text += "[]";
    for (int i = 0; i < kDepth; ++i)
        text += "}]";
    const std::string result = prefixed(text, "s");
    EXPECT_EQ(result.rfind(R"([{"items":[{"items":)", 0), 0u);
    EXPECT_NE(result.find(R"({"items":[],"name":"s_postprocessor_setting_n"}],)"
                          R"("name":"s_postprocessor_setting_n"}])"),
        std::string::npos);
}

} // namespace
