#include <string>

#include <gtest/gtest.h>
#include <yyjson.h>

#include "captured_log.h"
#include "settings/json_builder.h"
#include "settings/json_document.h"

namespace {

using vyai::jsonDocumentToString;

TEST(JsonDocumentToString, WritesCompactlyInInsertionOrder)
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "zeta", "last letter");
    yyjson_mut_obj_add_int(doc, root, "alpha", 1);
    yyjson_mut_val* list = yyjson_mut_obj_add_arr(doc, root, "list");
    yyjson_mut_arr_add_bool(doc, list, true);
    yyjson_mut_arr_add_null(doc, list);

    EXPECT_EQ(jsonDocumentToString(doc),
        R"({"zeta":"last letter","alpha":1,"list":[true,null]})");
}

TEST(JsonDocumentToString, EmptyRootGivesBracesWithoutAnError)
{
    vyai::test::CapturedLog log;
    yyjson_mut_doc* empty = yyjson_mut_doc_new(nullptr);
    yyjson_mut_doc_set_root(empty, yyjson_mut_obj(empty));

    EXPECT_EQ(jsonDocumentToString(empty), "{}");
    EXPECT_EQ(log.text().find("Error creating settings model string"), std::string::npos);
}

TEST(JsonDocumentToString, UnwritableDocumentsGiveBracesAndAnError)
{
    vyai::test::CapturedLog log;
    // A document without a root cannot be written; neither can a missing one.
    EXPECT_EQ(jsonDocumentToString(yyjson_mut_doc_new(nullptr)), "{}");
    EXPECT_EQ(jsonDocumentToString(nullptr), "{}");

    const std::string text = log.text();
    const auto first = text.find("Error creating settings model string\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("Error creating settings model string\n", first + 1), std::string::npos);
}

TEST(JsonDocumentToString, InvalidUtf8IsReplacedAndTheRestKeptAsBuilt)
{
    vyai::test::CapturedLog log;
    vyai::JsonObjectBuilder root = vyai::newJsonDocument();
    root.text("name", "Caf\xC3\xA9 \xE9t\xE9");
    root.array("list").object().entry("k\xF0\x9F\x98", "\xF4\x90\x80\x80 \xC0\xAF ok\xE2\x82\xAC");

    // Valid multi-byte texts stay as they are; each byte of a bad sequence becomes U+FFFD.
    EXPECT_EQ(jsonDocumentToString(root.doc()),
        "{\"name\":\"Caf\xC3\xA9 \xEF\xBF\xBDt\xEF\xBF\xBD\",\"list\":[{\"k"
        "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\":\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD "
        "\xEF\xBF\xBD\xEF\xBF\xBD ok\xE2\x82\xAC\"}]}");
    log.stop();
    EXPECT_TRUE(log.contains("Warning! Invalid UTF-8 text in a JSON document was replaced.\n"));
    EXPECT_FALSE(log.contains("Error creating settings model string"));
}

} // namespace
