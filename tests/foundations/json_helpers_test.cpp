#include "foundations/json_helpers.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace vyai {
namespace {

std::string written(yyjson_mut_doc* doc)
{
    char* json = yyjson_mut_write(doc, 0, nullptr);
    std::string text = json ? json : "";
    free(json);
    return text;
}

TEST(MakeParametersDocument, EnvelopeWithTheInnerObjectToFill)
{
    const ParametersDocument parameters = makeParametersDocument();
    ASSERT_NE(parameters.doc, nullptr);
    ASSERT_NE(parameters.vyAI, nullptr);
    EXPECT_EQ(written(parameters.doc), R"({"parameters":{"vyAI":{}}})");

    yyjson_mut_obj_add_str(parameters.doc, parameters.vyAI, "selectedPipeline", "p1");
    EXPECT_EQ(written(parameters.doc), R"({"parameters":{"vyAI":{"selectedPipeline":"p1"}}})");
    yyjson_mut_doc_free(parameters.doc);
}

class RequireJson : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const char json[] =
            R"({"name":"yolo","size":12,"nothing":null,"list":[1],"object":{"a":"b"}})";
        m_doc = yyjson_read(json, sizeof json - 1, 0);
        ASSERT_NE(m_doc, nullptr);
        m_root = yyjson_doc_get_root(m_doc);
    }
    void TearDown() override { yyjson_doc_free(m_doc); }

    // The exception's text, or "" when nothing was thrown.
    template <typename Call>
    static std::string thrownText(Call call)
    {
        try {
            call();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }

    yyjson_doc* m_doc = nullptr;
    yyjson_val* m_root = nullptr;
};

TEST_F(RequireJson, StringMembersOnly)
{
    EXPECT_STREQ(requireJsonString(m_root, "name"), "yolo");
    const struct {
        const char* key;
        bool fromRoot;
    } failures[] = {{"size", true}, {"nothing", true}, {"object", true}, {"absent", true},
        {"name", false}};
    for (const auto& f : failures) {
        yyjson_val* object = f.fromRoot ? m_root : yyjson_obj_get(m_root, "list");
        EXPECT_EQ(thrownText([&] { requireJsonString(object, f.key); }),
            std::string("missing required string: ") + f.key);
    }
    EXPECT_EQ(thrownText([&] { requireJsonString(nullptr, "name"); }),
        "missing required string: name");
    EXPECT_EQ(thrownText([&] { requireJsonString(m_root, nullptr); }),
        "missing required string: ");
}

TEST_F(RequireJson, KeysOfAnyTypeIncludingNull)
{
    for (const char* key : {"name", "size", "nothing", "list", "object"})
        EXPECT_EQ(requireJsonKey(m_root, key), yyjson_obj_get(m_root, key)) << key;
    EXPECT_TRUE(yyjson_is_null(requireJsonKey(m_root, "nothing")));
    EXPECT_EQ(thrownText([&] { requireJsonKey(m_root, "absent"); }), "missing required key: absent");
    EXPECT_EQ(thrownText([&] { requireJsonKey(yyjson_obj_get(m_root, "list"), "name"); }),
        "missing required key: name");
    EXPECT_EQ(thrownText([&] { requireJsonKey(nullptr, "name"); }), "missing required key: name");
}

} // namespace
} // namespace vyai
