#include "foundations/time_helpers.h"

#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "scoped_environment.h"

namespace vyai {
namespace {

constexpr char kIsoFormat[] = "%Y-%m-%dT%H:%M:%S";
constexpr char kHttpFormat[] = "%a, %d %b %Y %H:%M:%S GMT";

TEST(ParseTimeString, UtcSecondsSince1970)
{
    const struct {
        const char* text;
        const char* format;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"1970-01-01T00:00:00", kIsoFormat, 0},
        {"2024-03-10T12:34:56", kIsoFormat, 1710074096},
        {"2024-03-10T12:34:56Z", kIsoFormat, 1710074096},       // trailing text ignored
        {"2024-03-10T12:34:56.123Z", kIsoFormat, 1710074096},
        {"Sun, 10 Mar 2024 12:34:56 GMT", kHttpFormat, 1710074096},
        {"2024-02-29T23:59:59", kIsoFormat, 1709251199},
        {"2024-03-10", kIsoFormat, std::nullopt},
        {"yesterday", kIsoFormat, std::nullopt},
        {"", kIsoFormat, std::nullopt},
    };
    for (const auto& c : cases) {
        test::CapturedLog log;
        EXPECT_EQ(parseTimeString(c.text, c.format), c.seconds) << c.text;
        EXPECT_EQ(log.count(std::string("Error! Failed to parse string to time: ") + c.text),
            c.seconds ? 0 : 1)
            << c.text;
    }
}

TEST(ParseTimeString, SameSecondsInEveryTimeZone)
{
    for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "JST-9", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        const test::ScopedEnv timeZone("TZ", zone);
        ::tzset();
        EXPECT_EQ(parseTimeString("2024-03-10T12:34:56", kIsoFormat), 1710074096) << zone;
        EXPECT_EQ(parseTimeString("2024-07-01T00:00:00", kIsoFormat), 1719792000) << zone;
    }
    // The zone the process had is back in the environment; the C library rereads it here.
    ::tzset();
}

} // namespace
} // namespace vyai
