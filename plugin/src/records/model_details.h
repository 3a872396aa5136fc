#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vyai {

/** One named input or output of a model, as its metadata describes it. */
struct NamedTensorSpec_t
{
    std::string name;
    uint64_t byteSize = 0; //< element size of dataType times the product of shape
    uint32_t dataType = 0; //< TensorDataType code
    std::vector<int64_t> shape;
};

/** Where a model is on its way from description to a loaded file. */
enum ModelStatus : uint32_t {
    kModelDescribed = 0,
    kModelDownloading = 1,
    kModelFileReady = 2,
    kModelFailed = 4,
};

/**
 * One model's description from the cloud. Published records are shared through
 * std::shared_ptr; the description fields are never changed after publication (a changed
 * description is a new record). Only the progress fields move: `status` and
 * `downloadProgress` are atomic, `errors` is guarded by `errorsMutex`.
 */
struct ModelDetails_t
{
    std::string uuid;
    std::string name;
    int64_t updatedAt = 0; //< seconds since 1970-01-01 UTC
    std::atomic<uint32_t> status{kModelDescribed}; //< ModelStatus
    std::vector<std::string> errors; //< user-visible problems; guarded by errorsMutex
    mutable std::mutex errorsMutex;
    int64_t lastModified = 0; //< the download's LastModified, seconds since 1970 UTC; 0 unknown
    std::string modelFilePath; //< the downloaded, possibly encrypted, file
    std::string keyFilePath;
    std::string decryptedFilePath; //< the plain file the runtime loads
    std::string runtimeName; //< the installed runtime when the description was read
    std::string url;
    bool downloadAvailable = false; //< a download for the installed runtime with a size exists
    uint64_t size = 0;
    std::atomic<int64_t> downloadProgress{0}; //< percent
    bool rawPostprocessingApplied = false;
    float confidenceThreshold = 0.25f;
    float iouThreshold = 0.45f;
    uint32_t architecture = 0; //< ModelArchitecture index; 0 is YOLO11
    std::string boxesOutputName;
    std::vector<std::string> classNames;
    std::string scoresOutputName;
    std::vector<std::string> scoresClassNames;
    std::vector<NamedTensorSpec_t> namedOutputs;
    uint64_t height = 0;
    uint64_t width = 0;
    uint64_t channels = 0;
    uint32_t order = 0; //< 1 interleaved, 0 planar
    std::array<float, 3> means{0.0f, 0.0f, 0.0f};
    std::array<float, 3> vars{0.0f, 0.0f, 0.0f};
    std::vector<NamedTensorSpec_t> namedInputs;

    ModelDetails_t() = default;

    /** A snapshot of another record: its progress and errors as they are now, a mutex of its own. */
    ModelDetails_t(const ModelDetails_t& other):
        uuid(other.uuid), name(other.name), updatedAt(other.updatedAt),
        status(other.status.load()), errors(other.errorsCopy()),
        lastModified(other.lastModified), modelFilePath(other.modelFilePath),
        keyFilePath(other.keyFilePath), decryptedFilePath(other.decryptedFilePath),
        runtimeName(other.runtimeName), url(other.url),
        downloadAvailable(other.downloadAvailable), size(other.size),
        downloadProgress(other.downloadProgress.load()),
        rawPostprocessingApplied(other.rawPostprocessingApplied),
        confidenceThreshold(other.confidenceThreshold), iouThreshold(other.iouThreshold),
        architecture(other.architecture), boxesOutputName(other.boxesOutputName),
        classNames(other.classNames), scoresOutputName(other.scoresOutputName),
        scoresClassNames(other.scoresClassNames), namedOutputs(other.namedOutputs),
        height(other.height), width(other.width), channels(other.channels), order(other.order),
        means(other.means), vars(other.vars), namedInputs(other.namedInputs)
    {
    }

    ModelDetails_t& operator=(const ModelDetails_t&) = delete;

    void addError(std::string text)
    {
        std::lock_guard lock(errorsMutex);
        errors.push_back(std::move(text));
    }

    std::vector<std::string> errorsCopy() const
    {
        std::lock_guard lock(errorsMutex);
        return errors;
    }
};

/** The engine's model descriptions by model id; the records are shared, never changed. */
using ModelDetailsMap = std::map<std::string, std::shared_ptr<ModelDetails_t>>;

} // namespace vyai
