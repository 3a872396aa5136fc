// A device's dialog values written to its settings cache file and read back by a new cache,
// as at the plug-in's next start. Every value survives the file whatever bytes it holds;
// every key survives except those the cache keeps out of the file on purpose: those that
// would break a line or read back as another key.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "core/settings_cache.h"
#include "fuzz_check.h"

namespace {

class Input
{
public:
    Input(const uint8_t* data, size_t size): m_data(data), m_size(size) {}
    bool empty() const { return m_position >= m_size; }
    uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }

    std::string key()
    {
        static const std::string kLetters = std::string("ab=.\n\r\\\x1b_ ");
        if (byte() % 8 == 0)
            return byte() % 2 ? "selectedPipeline" : "deviceActiveSwitch";
        std::string text;
        for (size_t length = byte() % 6; length > 0; --length)
            text += kLetters[byte() % kLetters.size()];
        return text;
    }

    std::string value()
    {
        std::string text;
        for (size_t length = byte() % 12; length > 0 && !empty(); --length)
            text += (char) byte();
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

bool keptOut(const std::string& key)
{
    return key == "selectedPipeline" || key == "deviceActiveSwitch"
        || key.find_first_of("\r\n=") != std::string::npos;
}

std::string cachePath()
{
    static const std::string path = fuzzTemporaryDirectory("settings-cache-fuzz") + "/device.cache";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    std::map<std::string, std::string> entries;
    while (!input.empty() && entries.size() < 8)
    {
        std::string key = input.key();
        std::string value = input.value();
        FUZZ_CHECK(vyai::decodeSettingsCacheValue(vyai::encodeSettingsCacheValue(value)) == value,
            "a value decodes to itself");
        FUZZ_CHECK(vyai::encodeSettingsCacheValue(value).find('\n') == std::string::npos,
            "an encoded value is one line");
        entries[std::move(key)] = std::move(value);
    }

    std::filesystem::remove(cachePath());
    vyai::SettingsCache written(cachePath());
    FUZZ_CHECK(written.merge(entries), "the cache file can be written");
    vyai::SettingsCache read(cachePath());
    read.load();

    std::map<std::string, std::string> expected;
    for (const auto& [key, value]: entries)
    {
        if (!keptOut(key))
            expected[key] = value;
    }
    FUZZ_CHECK(read.values() == expected, "the file gives back every key it keeps, with its value");
    return 0;
}
