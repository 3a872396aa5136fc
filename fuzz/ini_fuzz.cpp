// Ini files pieced together from option lines, comments, lines without '=' and stray spaces,
// tabs and carriage returns. Checked against an independent reckoning: each option ends with
// the last well-formed value the file gives it (trimmed), a malformed one changes nothing,
// and comments and lines without '=' are ignored.
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <vy/kit/ini_config.h>

#include "fuzz_check.h"

namespace {

constexpr const char* kFileName = "fuzz.ini";
constexpr const char* kWhitespace = " \t\r";

class FuzzIni: public vy::kit::IniConfig
{
public:
    FuzzIni(): IniConfig(kFileName) { reload(); }

    bool flag = regBoolParam(&flag, false, "flag", "");
    int number = regIntParam(&number, 7, "number", "");
    const char* text = regStringParam(&text, "start", "text", "");
};

class Input
{
public:
    Input(const uint8_t* data, size_t size): m_data(data), m_size(size) {}
    bool empty() const { return m_position >= m_size; }
    uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }

    /** Up to `limit` bytes drawn from `alphabet`, or raw bytes (no line end, no NUL) when null. */
    std::string text(size_t limit, const char* alphabet)
    {
        std::string result;
        const size_t length = byte() % (limit + 1);
        const std::string letters = alphabet ? alphabet : "";
        for (size_t i = 0; i < length && !empty(); ++i)
        {
            const char c = (char) byte();
            if (alphabet)
                result += letters[(unsigned char) c % letters.size()];
            else if (c != '\n' && c != '\0')
                result += c;
        }
        return result;
    }

    std::string padding() { return text(2, kWhitespace); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string directory()
{
    static const std::string path = []
        {
            std::string made = fuzzTemporaryDirectory("ini-fuzz");
            setenv("VY_INI_DIR", made.c_str(), 1);
            return made;
        }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    bool flag = false;
    int number = 7;
    std::string text = "start";
    std::string file;
    while (!input.empty())
    {
        const uint8_t kind = input.byte() % 6;
        const std::string before = input.padding();
        const std::string after = input.padding();
        std::string value;
        switch (kind)
        {
            case 0: // a comment that would set an option
                file += before + "#flag=1\n";
                continue;
            case 1: // no '=': ignored
                file += before + input.text(8, "abcflagnumbertext #") + "\n";
                continue;
            case 2:
            {
                static const char* const kValues[] = {"0", "1", "true", "FALSE", "TrUe", "yes", "", "2"};
                value = kValues[input.byte() % 8];
                file += before + "flag" + after + "=" + input.padding() + value + input.padding() + "\n";
                if (value == "1" || value == "true" || value == "TrUe")
                    flag = true;
                else if (value == "0" || value == "FALSE")
                    flag = false;
                continue;
            }
            case 3:
            {
                value = input.text(12, "0123456789- x");
                file += before + "number" + after + "=" + value + "\n";
                const std::string digits = trimmed(value);
                int parsed = 0;
                const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
                if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size())
                    number = parsed;
                continue;
            }
            case 4:
                value = input.text(16, nullptr);
                file += before + "text" + after + "=" + value + "\n";
                text = trimmed(value);
                continue;
            default: // an option nobody registered
                file += before + "other" + after + "=" + input.text(4, "01") + "\n";
                continue;
        }
    }
    {
        std::ofstream out(std::filesystem::path(directory()) / kFileName, std::ios::binary | std::ios::trunc);
        out << file;
        FUZZ_CHECK(out.good(), "the ini file can be written");
    }
    const FuzzIni ini;
    FUZZ_CHECK(ini.flag == flag, "the flag has its last well-formed value");
    FUZZ_CHECK(ini.number == number, "the number has its last well-formed value");
    FUZZ_CHECK(text == ini.text, "the text has its last value, trimmed");
    return 0;
}
