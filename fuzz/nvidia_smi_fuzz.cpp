// nvidia-smi's XML as the driver check reads it, followed by a toolkit version. The driver's
// CUDA version read is the text of one of its two elements, the element the driver prefers
// when it has one; its major.minor is a prefix of it; and the toolkit check never refuses a
// pair both ways, nor a driver the same as the toolkit.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "provisioning/nvidia_detection.h"

namespace {

bool holdsElement(const std::string& xml, const std::string& tag, const std::string& text)
{
    return xml.find("<" + tag + ">" + text + "</" + tag + ">") != std::string::npos;
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
    const std::string preferred = vyai::xmlElementText(xml, "cuda_umd_version");
    if (!preferred.empty())
        FUZZ_CHECK(driver == preferred, "the driver's own CUDA version is preferred");
    if (!driver.empty())
    {
        FUZZ_CHECK(holdsElement(xml, "cuda_umd_version", driver) || holdsElement(xml, "cuda_version", driver),
            "the version read is an element's whole text");
    }

    for (const std::string& version: {driver, toolkit})
    {
        const std::string shortened = vyai::majorMinor(version);
        FUZZ_CHECK(version.compare(0, shortened.size(), shortened) == 0, "major.minor is a prefix of the version");
        const size_t firstDot = shortened.find('.');
        FUZZ_CHECK(firstDot == std::string::npos || shortened.find('.', firstDot + 1) == std::string::npos,
            "major.minor holds at most one dot");
    }
    FUZZ_CHECK(vyai::isToolkitSupportedByDriver(toolkit, toolkit), "a driver as new as the toolkit supports it");
    FUZZ_CHECK(vyai::isToolkitSupportedByDriver(toolkit, driver) || vyai::isToolkitSupportedByDriver(driver, toolkit),
        "of two versions one is at least as new as the other");
    return 0;
}
