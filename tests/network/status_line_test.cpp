#include <gtest/gtest.h>

#include <vy/network/http/status_line.h>

using vy::network::http::StatusLine;

TEST(StatusLine, ParsesAndPrintsBackTheLine)
{
    struct Case
    {
        const char* line;
        int code;
        const char* reason;
        const char* printed;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK", 200, "OK", "HTTP/1.1 200 OK"},
        {"HTTP/1.1 404 Not Found\r\n", 404, "Not Found", "HTTP/1.1 404 Not Found"},
        {"HTTP/2 204", 204, "", "HTTP/2 204"},
        {"HTTP/1.0 500 ", 500, "", "HTTP/1.0 500"},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.line);
        const auto parsed = StatusLine::parse(c.line);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->statusCode, c.code);
        EXPECT_EQ(parsed->reasonPhrase, c.reason);
        EXPECT_EQ(parsed->toString(), c.printed);
    }
}

TEST(StatusLine, RejectsWhatIsNoStatusLine)
{
    // "020" would be code 20, which is written back as a two-digit code and read as no status.
    for (const char* line: {"", "HTTP/1.1", "HTTP/1.1 20 OK", "HTTP/1.1 2000 OK", "HTTP/1.1 abc OK",
             "HTTP/1.0 020 OK", "HTTP/1.1 000", "{\"id\":1}", "FTP/1.0 200 OK"})
    {
        SCOPED_TRACE(line);
        EXPECT_FALSE(StatusLine::parse(line));
    }
}

TEST(StatusLine, SuccessIsTheTwoHundreds)
{
    const auto isSuccess = [](int code) { return StatusLine{"HTTP/1.1", code, ""}.isSuccess(); };
    EXPECT_FALSE(isSuccess(199));
    EXPECT_TRUE(isSuccess(200));
    EXPECT_TRUE(isSuccess(299));
    EXPECT_FALSE(isSuccess(300));
}
