#include "postprocessing/object_tracking.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include <vy/sdk/helpers/uuid.h>

#include "foundations/log.h"
#include "foundations/text_helpers.h"
#include "inference/model_vocabulary.h"
#include "postprocessing/box_conversion.h"
#include "postprocessing/decoders/detection_table.h"
#include "postprocessing/object_attributes.h"

namespace vyai {

namespace {

constexpr size_t kRowFloats = 6; // x1, y1, x2, y2, score, class index
constexpr size_t kMaximumTracksPerClass = 100;
constexpr size_t kTracksKeptWhenPruned = 70;
constexpr double kMinimumScore = 0.000001;
constexpr float kMinimumOverlap = 0.000001f;

const Tensor_t* findDetectionTensor(const TensorSet_t* tensors)
{
    if (!tensors || !tensors->tensors)
        return nullptr;
    for (int32_t i = 0; i < tensors->count; ++i) {
        const Tensor_t& tensor = tensors->tensors[i];
        if (tensor.type == TensorDataType_Float && tensor.name && std::strstr(tensor.name, "format:xyxysc"))
            return &tensor;
    }
    return nullptr;
}

Box_t toBox(const std::array<float, 4>& box)
{
    return {box[0], box[1], box[2], box[3]};
}

struct Candidate {
    double weight;
    size_t track;
    size_t detection;
};

} // namespace

ObjectTracker::ObjectTracker(TrackingThresholds_t thresholds): m_thresholds(thresholds)
{
}

std::shared_ptr<ObjectTracker::DeviceTracks> ObjectTracker::findDevice(const std::string& deviceId) const
{
    std::shared_lock lock(m_registryMutex);
    const auto found = m_devices.find(deviceId);
    return found == m_devices.end() ? nullptr : found->second;
}

std::shared_ptr<ObjectTracker::DeviceTracks> ObjectTracker::findOrCreateDevice(const std::string& deviceId)
{
    if (auto device = findDevice(deviceId))
        return device;
    std::unique_lock lock(m_registryMutex);
    auto& device = m_devices[deviceId];
    if (!device)
        device = std::make_shared<DeviceTracks>();
    return device;
}

void ObjectTracker::process_objects(ObjectsByClass& objects, const InferenceInput_t& input, const TensorSet_t* tensors)
{
    Timer timer("process_objects");
    objects.clear();
    const Tensor_t* tensor = findDetectionTensor(tensors);
    if (!tensor) {
        logInfo("Notice: Model has no bboxes to process.\n");
        return;
    }
    const ModelDetails_t* model = input.stage && input.stage->model ? input.stage->model.get() : nullptr;
    const std::vector<std::string> classNames = model && model->boxesOutputName == tensor->name
        ? model->classNames
        : parseOutputTensorName(tensor->name);
    timer.lap("find index");

    // An incomplete last row is dropped.
    const size_t rowCount = tensor->data ? tensor->size / sizeof(float) / kRowFloats : 0;
    const auto* values = static_cast<const float*>(tensor->data);
    DetectionsByClass detections;
    for (size_t row = 0; row < rowCount; ++row) {
        const float* v = values + row * kRowFloats;
        // A model's own table may hold what a decoder would have dropped.
        if (!isFiniteRow(v))
            continue;
        const float classValue = std::trunc(v[5]);
        if (!(classValue >= 0.0f))
            continue;
        if (!(static_cast<double>(v[4]) >= kMinimumScore))
            continue;
        if (classValue >= static_cast<float>(classNames.size())) {
            logError("Warning! Got an invalid order from the model: %d\n",
                classValue < static_cast<float>(INT_MAX) ? static_cast<int>(classValue) : INT_MAX);
            continue;
        }
        const auto box = convertBoxToFrame(input, v[0], v[1], v[2], v[3]);
        if (!std::isfinite(box[0]))
            continue;
        detections[classNames[static_cast<size_t>(classValue)]].push_back({box, v[4]});
    }
    timer.lap("convert coordinates");

    const std::string deviceId = input.device ? input.device->id : std::string();
    const auto device = findOrCreateDevice(deviceId);
    timer.lap("map lock");
    std::lock_guard lock(device->mutex);
    timer.lap("device lock");
    const auto now = static_cast<int64_t>(input.timestamp);
    for (const auto& [className, classDetections]: detections)
        device->classes[className];
    for (auto& [className, tracks]: device->classes) {
        const auto found = detections.find(className);
        static const std::vector<Detection> kNone;
        std::vector<std::shared_ptr<VyAIObject_t>> reported;
        trackClass(tracks, found == detections.end() ? kNone : found->second, className, now, reported);
        if (!reported.empty())
            objects[className] = std::move(reported);
    }
    std::erase_if(device->classes, [](const auto& entry) { return entry.second.empty(); });
    timer.lap("process objects");

    const std::string deviceName = input.device ? input.device->name : std::string();
    const std::string modelName = model ? model->name : std::string();
    for (const auto& [className, classObjects]: objects) {
        logInfo("Device %s Model %s Detected %zu objects of class: %s\n", deviceName.c_str(), modelName.c_str(),
            classObjects.size(), className.c_str());
    }
}

void ObjectTracker::trackClass(std::vector<VyAIObject_t>& tracks, const std::vector<Detection>& detections,
    const std::string& className, int64_t now, std::vector<std::shared_ptr<VyAIObject_t>>& reported) const
{
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const int64_t silence = now - tracks[i].lastSeen;
        if (silence > kMatchWindowUs)
            continue;
        for (size_t j = 0; j < detections.size(); ++j) {
            const float overlap = intersectionOverUnion(toBox(detections[j].box), toBox(tracks[i].box));
            if (overlap > kMinimumOverlap) {
                const double perMillisecond = static_cast<double>(std::max<int64_t>(silence, 1000)) / 1000.0;
                candidates.push_back({overlap / perMillisecond, i, j});
            }
        }
    }
    std::sort(candidates.begin(), candidates.end(),
        [](const Candidate& a, const Candidate& b) { return a.weight > b.weight; });

    std::vector<bool> trackTaken(tracks.size(), false);
    std::vector<bool> detectionTaken(detections.size(), false);
    for (const Candidate& candidate: candidates) {
        if (trackTaken[candidate.track] || detectionTaken[candidate.detection])
            continue;
        trackTaken[candidate.track] = true;
        detectionTaken[candidate.detection] = true;
        VyAIObject_t& track = tracks[candidate.track];
        const int64_t previousLastSeen = track.lastSeen;
        track.confidence = detections[candidate.detection].score;
        track.box = detections[candidate.detection].box;
        track.lastSeen = now;
        if (previousLastSeen - track.firstSeen > m_thresholds.minimumTrackAgeUs && now - previousLastSeen < m_thresholds.maximumSilenceUs)
            reported.push_back(std::make_shared<VyAIObject_t>(track));
    }

    // A track past the match window can never be matched again: keeping it only costs memory.
    std::erase_if(tracks, [now](const VyAIObject_t& track) { return now - track.lastSeen > kMatchWindowUs; });
    if (tracks.size() > kMaximumTracksPerClass) {
        std::sort(tracks.begin(), tracks.end(),
            [](const VyAIObject_t& a, const VyAIObject_t& b) { return a.lastSeen > b.lastSeen; });
        tracks.resize(kTracksKeptWhenPruned);
    }

    const std::string typeId = "vy.vyai." + sanitizeIdentifier(className);
    for (size_t j = 0; j < detections.size(); ++j) {
        if (detectionTaken[j])
            continue;
        VyAIObject_t track;
        track.firstSeen = now;
        track.lastSeen = now;
        track.id = vy::sdk::randomUuid();
        track.typeId = typeId;
        track.box = detections[j].box;
        tracks.push_back(track);
        if (m_thresholds.minimumTrackAgeUs == 0)
            reported.push_back(std::make_shared<VyAIObject_t>(track));
    }
}

std::optional<ObjectsByClass> ObjectTracker::snapshotDeviceObjects(const std::string& deviceId) const
{
    const auto device = findDevice(deviceId);
    if (!device)
        return std::nullopt;
    ObjectsByClass snapshot;
    std::lock_guard lock(device->mutex);
    for (const auto& [className, tracks]: device->classes) {
        auto& copies = snapshot[className];
        for (const VyAIObject_t& track: tracks)
            copies.push_back(std::make_shared<VyAIObject_t>(track));
    }
    return snapshot;
}

template<class Change>
bool ObjectTracker::changeTrack(const std::string& deviceId, const std::string& className, const vy::sdk::Uuid& id,
    Change change)
{
    const auto device = findDevice(deviceId);
    if (!device)
        return false;
    std::lock_guard lock(device->mutex);
    const auto tracks = device->classes.find(className);
    if (tracks == device->classes.end())
        return false;
    const auto track = std::find_if(tracks->second.begin(), tracks->second.end(),
        [&id](const VyAIObject_t& candidate) { return candidate.id == id; });
    if (track == tracks->second.end())
        return false;
    change(*track);
    return true;
}

bool ObjectTracker::updateTrackedObject(const std::string& deviceId, const std::string& className,
    const vy::sdk::Uuid& id, const VyAIObject_t& updated, int64_t frameTimestamp)
{
    bool written = false;
    changeTrack(deviceId, className, id, [&](VyAIObject_t& track) {
        if (track.lastSeen > frameTimestamp)
            return;
        written = true;
        track.id = updated.id;
        track.box = updated.box;
        track.confidence = updated.confidence;
        track.skipFeatureExtraction = updated.skipFeatureExtraction;
        track.attributes = updated.attributes;
    });
    return written;
}

bool ObjectTracker::keepTrackAttribute(const std::string& deviceId, const std::string& className,
    const vy::sdk::Uuid& id, const char* name, const char* value)
{
    return changeTrack(deviceId, className, id, [name, value](VyAIObject_t& track) {
        addAttributeOnce(track, name, value);
    });
}

size_t ObjectTracker::trackCount(const std::string& deviceId) const
{
    const auto device = findDevice(deviceId);
    if (!device)
        return 0;
    std::lock_guard lock(device->mutex);
    size_t count = 0;
    for (const auto& [className, tracks]: device->classes)
        count += tracks.size();
    return count;
}

} // namespace vyai
