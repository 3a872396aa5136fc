// nvidia-smi's XML as the driver check reads it, followed by a toolkit version. From a log that
// holds the toolkit's text as the driver's own CUDA version, that text is read rather than the
// general version, whichever comes first (an empty one counts as none); major.minor is the
// version up to its second dot; and the toolkit check never refuses a pair both ways, nor a
// driver the same as the toolkit.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "provisioning/nvidia_detection.h"

namespace {

// The version up to its second dot, read a character at a time.
std::string upToSecondDot(const std::string& version)
{
    std::string kept;
    int dots = 0;
    for (const char c: version)
    {
        if (c == '.' && ++dots == 2)
            break;
        kept += c;
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The last line, when there is more than one, is the toolkit's version.
    const size_t lastLine = input.rfind('\n');
    const std::string xml = lastLine == std::string::npos ? input : input.substr(0, lastLine);
    const std::string toolkit = lastLine == std::string::npos ? "12.4" : input.substr(lastLine + 1);

    const std::string driver = vyai::readDriverCudaVersion(xml);
    // A text without "<" is an element's whole text.
    if (toolkit.find('<') == std::string::npos)
    {
        const std::string own = "<cuda_umd_version>" + toolkit + "</cuda_umd_version>";
        const std::string general = "<cuda_version>11.8</cuda_version>";
        const std::string expected = toolkit.empty() ? "11.8" : toolkit;
        FUZZ_CHECK(vyai::readDriverCudaVersion("<log>" + own + general + "</log>") == expected
                && vyai::readDriverCudaVersion("<log>" + general + own + "</log>") == expected,
            "the driver's own CUDA version is read rather than the general one, whichever comes first");
    }

    for (const std::string& version: {driver, toolkit})
    {
        FUZZ_CHECK(vyai::majorMinor(version) == upToSecondDot(version),
            "major.minor is the version up to its second dot");
    }
    FUZZ_CHECK(vyai::isToolkitSupportedByDriver(toolkit, toolkit), "a driver as new as the toolkit supports it");
    FUZZ_CHECK(vyai::isToolkitSupportedByDriver(toolkit, driver) || vyai::isToolkitSupportedByDriver(driver, toolkit),
        "of two versions one is at least as new as the other");
    return 0;
}
