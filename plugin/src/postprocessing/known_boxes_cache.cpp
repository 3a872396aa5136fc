#include "postprocessing/known_boxes_cache.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "foundations/file_helpers.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"

namespace vyai {

namespace {

constexpr const char* kCacheFolder = "cache";
constexpr const char* kFileName = "dumping_known_bboxes.json";
constexpr const char* kBoxKeys[] = {"x", "y", "width", "height"};

bool isNumberMember(yyjson_val* object, const char* key)
{
    return yyjson_is_num(yyjson_obj_get(object, key));
}

// A value beyond the float range would become infinite, and an infinite box can never be
// written back: every later save would fail.
bool inFloatRange(yyjson_val* object, const char* key)
{
    const double value = yyjson_get_num(yyjson_obj_get(object, key));
    return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max();
}

float numberMember(yyjson_val* object, const char* key)
{
    return static_cast<float>(yyjson_get_num(yyjson_obj_get(object, key)));
}

bool isFinite(const Box_t& box)
{
    return std::isfinite(box.x) && std::isfinite(box.y) && std::isfinite(box.width) && std::isfinite(box.height);
}

void setAside(const std::string& path)
{
    const std::string aside = path + ".corrupt";
    if (std::rename(path.c_str(), aside.c_str()) == 0)
        logError("Warning: Dumping known bboxes cache %s was moved aside to %s\n", path.c_str(), aside.c_str());
    else
        logError("Warning: Could not move dumping known bboxes cache %s aside: %s\n", path.c_str(), std::strerror(errno));
}

std::string serialise(const KnownBoxes& boxes)
{
    MutableJsonDocument document(yyjson_mut_doc_new(nullptr));
    if (!document)
        return {};
    yyjson_mut_doc* doc = document.get();
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    for (const auto& [deviceId, deviceBoxes]: boxes) {
        yyjson_mut_val* array = yyjson_mut_arr(doc);
        for (const Box_t& box: deviceBoxes) {
            // JSON has no infinities: one such box would lose the whole file.
            if (!isFinite(box))
                continue;
            yyjson_mut_val* item = yyjson_mut_arr_add_obj(doc, array);
            yyjson_mut_obj_add_real(doc, item, "x", box.x);
            yyjson_mut_obj_add_real(doc, item, "y", box.y);
            yyjson_mut_obj_add_real(doc, item, "width", box.width);
            yyjson_mut_obj_add_real(doc, item, "height", box.height);
        }
        yyjson_mut_obj_add(root, yyjson_mut_strncpy(doc, deviceId.data(), deviceId.size()), array);
    }
    size_t length = 0;
    char* text = yyjson_mut_write(doc, YYJSON_WRITE_NOFLAG, &length);
    if (!text)
        return {};
    std::string result(text, length);
    std::free(text);
    return result;
}

// The whole text reaches the disk before the caller renames the file into place.
bool writeDurably(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t step = ::write(fd, text.data() + written, text.size() - written);
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0) {
            ::close(fd);
            return false;
        }
        written += static_cast<size_t>(step);
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

} // namespace

std::string knownBoxesPath(const std::string& rootFolder)
{
    return (std::filesystem::path(rootFolder) / kCacheFolder / kFileName).string();
}

void readKnownBoxesFile(const std::string& rootFolder, KnownBoxes& boxes)
{
    const std::string path = knownBoxesPath(rootFolder);
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return;
    const auto text = readTextFile(path);
    if (!text) {
        logError("Warning: Failed to open dumping known bboxes cache: %s\n", path.c_str());
        return;
    }
    const JsonDocument document = readJsonDocument(*text);
    if (!document) {
        logError("Warning: Failed to parse dumping known bboxes cache: %s\n", path.c_str());
        setAside(path);
        return;
    }
    yyjson_val* root = yyjson_doc_get_root(document.get());
    if (!yyjson_is_obj(root)) {
        logError("Warning: Dumping known bboxes cache has unexpected format\n");
        return;
    }
    yyjson_val* key = nullptr;
    yyjson_obj_iter members = yyjson_obj_iter_with(root);
    while ((key = yyjson_obj_iter_next(&members))) {
        yyjson_val* array = yyjson_obj_iter_get_val(key);
        if (!yyjson_is_arr(array))
            continue;
        auto& deviceBoxes = boxes[yyjson_get_str(key)];
        size_t index = 0, count = 0;
        yyjson_val* item = nullptr;
        yyjson_arr_foreach(array, index, count, item) {
            const auto allMembers = [item](bool (*check)(yyjson_val*, const char*)) {
                return std::all_of(std::begin(kBoxKeys), std::end(kBoxKeys),
                    [item, check](const char* key) { return check(item, key); });
            };
            if (!yyjson_is_obj(item) || !allMembers(&isNumberMember))
                continue;
            if (!allMembers(&inFloatRange)) {
                logError("Warning: Box %zu of device %s in dumping known bboxes cache %s is out of range. Skipping.\n",
                    index, yyjson_get_str(key), path.c_str());
                continue;
            }
            deviceBoxes.push_back({numberMember(item, "x"), numberMember(item, "y"), numberMember(item, "width"),
                numberMember(item, "height")});
        }
    }
    logInfo("Loaded dumping known bboxes cache from %s\n", path.c_str());
}

bool writeKnownBoxesFile(const std::string& rootFolder, const KnownBoxes& boxes)
{
    const bool anyBox = std::any_of(boxes.begin(), boxes.end(), [](const auto& entry) { return !entry.second.empty(); });
    if (!anyBox)
        return true;
    const auto folder = std::filesystem::path(rootFolder) / kCacheFolder;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        logError("Warning: Failed to create cache directory %s: %s\n", folder.string().c_str(), error.message().c_str());
        return false;
    }
    const std::string text = serialise(boxes);
    if (text.empty()) {
        logError("Warning: Failed to serialize dumping known bboxes cache\n");
        return false;
    }
    const std::string path = knownBoxesPath(rootFolder);
    const std::string temporary = path + ".tmp";
    if (!writeDurably(temporary, text) || std::rename(temporary.c_str(), path.c_str()) != 0) {
        logError("Warning: Failed to open dumping known bboxes cache for writing: %s\n", path.c_str());
        std::remove(temporary.c_str());
        return false;
    }
    logInfo("Saved dumping known bboxes cache to %s\n", path.c_str());
    return true;
}

} // namespace vyai
