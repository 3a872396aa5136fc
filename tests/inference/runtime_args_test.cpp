#include <gtest/gtest.h>

#include "captured_log.h"
#include "inference/runtime_args.h"
#include "scoped_temp_directory.h"
#include "test_files.h"

namespace {

using vyai::test::CapturedLog;
using vyai::test::writeFile;

struct ArgsCase {
    const char* name;
    const char* fileText; // null: no file
    std::vector<std::string> keys;
    std::vector<std::string> values;
    const char* logLine;
};

class RuntimeArgsFile: public testing::TestWithParam<ArgsCase>
{
};

TEST_P(RuntimeArgsFile, GivesStringMembersInFileOrder)
{
    const ArgsCase& testCase = GetParam();
    ScopedTempDirectory directory;
    CapturedLog log;
    const auto path = directory.path() / "runtime_args.json";
    if (testCase.fileText)
        writeFile(path, testCase.fileText);

    std::vector<std::string> keys;
    std::vector<std::string> values;
    vyai::readRuntimeArgs(directory.path(), keys, values);
    EXPECT_EQ(keys, testCase.keys);
    EXPECT_EQ(values, testCase.values);
    EXPECT_TRUE(log.contains(testCase.logLine)) << log.text();

    const vyai::RuntimeArgsView view(keys, values);
    const RuntimeArgs_t args = view.args();
    ASSERT_EQ(args.count, static_cast<int32_t>(keys.size()));
    EXPECT_EQ(args.keys == nullptr, keys.empty());
    for (int32_t i = 0; i < args.count; ++i) {
        EXPECT_EQ(args.keys[i], keys[i]);
        EXPECT_EQ(args.values[i], values[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RuntimeArgsFile,
    testing::Values(
        ArgsCase{"Mixed", R"({"a": "1", "b": 2, "c": "x"})", {"a", "c"}, {"1", "x"},
            "Warning! Runtime arg 'b' has a non-string value, skipping."},
        // A runtime reads each text up to its first NUL, so it would get another key or value.
        ArgsCase{"NulInside", R"({"a\u0000b": "1", "c": "x\u0000y", "d": "2"})", {"d"}, {"2"},
            "Warning! Runtime arg 'c' holds a NUL character, skipping."},
        ArgsCase{"Loaded", R"({"latency_ms": "5"})", {"latency_ms"}, {"5"}, "Loaded 1 runtime args from "},
        ArgsCase{"Array", "[]", {}, {}, "Warning! Runtime args JSON is not an object: "},
        ArgsCase{"Empty", "", {}, {}, "Warning! Runtime args file is empty: "},
        ArgsCase{"Missing", nullptr, {}, {}, "using empty config."},
        ArgsCase{"Comment", "{\"a\": \"1\" /* no */}", {}, {}, "Warning! Failed to parse runtime args JSON: "},
        ArgsCase{"TrailingComma", R"({"a": "1",})", {}, {}, "Warning! Failed to parse runtime args JSON: "}),
    [](const testing::TestParamInfo<ArgsCase>& info) { return std::string(info.param.name); });

} // namespace
