// Dumping detection's known-boxes cache file from raw bytes, as found at a start. A file that
// is no JSON is moved aside, not left to be overwritten; the boxes a file gives can be saved
// again and read back the same, so one odd value never stops the cache from being kept.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "postprocessing/known_boxes_cache.h"

namespace {

namespace fs = std::filesystem;

std::string rootFolder()
{
    static const std::string path = fuzzTemporaryDirectory("known-boxes-fuzz");
    return path;
}

bool sameBoxes(const vyai::KnownBoxes& a, const vyai::KnownBoxes& b)
{
    const auto nonEmpty = [](const vyai::KnownBoxes& boxes)
        {
            vyai::KnownBoxes kept;
            for (const auto& [device, list]: boxes)
            {
                if (!list.empty())
                    kept[device] = list;
            }
            return kept;
        };
    const vyai::KnownBoxes x = nonEmpty(a);
    const vyai::KnownBoxes y = nonEmpty(b);
    if (x.size() != y.size())
        return false;
    for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
    {
        if (i->first != j->first || i->second.size() != j->second.size())
            return false;
        for (size_t k = 0; k < i->second.size(); ++k)
        {
            const vyai::Box_t& p = i->second[k];
            const vyai::Box_t& q = j->second[k];
            if (p.x != q.x || p.y != q.y || p.width != q.width || p.height != q.height)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = vyai::knownBoxesPath(rootFolder());
    fs::remove_all(fs::path(path).parent_path());
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(data), (std::streamsize) size);
    }

    vyai::KnownBoxes boxes;
    vyai::readKnownBoxesFile(rootFolder(), boxes);
    const bool setAside = fs::exists(path + ".corrupt");
    FUZZ_CHECK(setAside != fs::exists(path), "a file is either kept or moved aside, never lost");
    FUZZ_CHECK(!setAside || boxes.empty(), "a file moved aside gives no boxes");
    for (const auto& [device, list]: boxes)
    {
        for (const vyai::Box_t& box: list)
        {
            FUZZ_CHECK(std::isfinite(box.x) && std::isfinite(box.y) && std::isfinite(box.width)
                    && std::isfinite(box.height),
                "a known box has finite coordinates");
        }
    }

    FUZZ_CHECK(vyai::writeKnownBoxesFile(rootFolder(), boxes), "the boxes read can be saved again");
    vyai::KnownBoxes again;
    vyai::readKnownBoxesFile(rootFolder(), again);
    FUZZ_CHECK(sameBoxes(boxes, again), "saved boxes read back the same");
    return 0;
}
