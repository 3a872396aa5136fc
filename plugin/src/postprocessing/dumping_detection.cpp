#include "postprocessing/dumping_detection.h"

#include <algorithm>
#include <cstring>

#include <vy/sdk/helpers/attribute.h>

#include "foundations/log.h"
#include "postprocessing/object_attributes.h"

namespace vyai {

namespace {

constexpr const char* kStationaryTime = "Stationary time";

Box_t boxOf(const VyAIObject_t& object)
{
    return {object.box[0], object.box[1], object.box[2], object.box[3]};
}

void addAttribute(VyAIObject_t& object, const char* name, std::string value)
{
    object.attributes.push_back(vy::sdk::newRefCounted<vy::sdk::Attribute>(name, std::move(value), 1.0f));
}

} // namespace

DumpingDetector::DumpingDetector(std::string rootFolder): m_rootFolder(std::move(rootFolder))
{
}

void DumpingDetector::setReferenceRun(const std::string& deviceId, const std::string& stageId)
{
    std::lock_guard lock(m_analyticsMutex);
    m_referenceRuns[deviceId] = stageId;
}

vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> DumpingDetector::processDumping(
    ObjectsByClass& objects, const InferenceInput_t& input)
{
    if (objects.empty() || !input.stage || !input.stage->dumping || !input.stage->dumping->enabled)
        return nullptr;
    const StageDumping_t& settings = *input.stage->dumping;
    const std::string deviceId = input.device ? input.device->id : std::string();
    const auto now = static_cast<int64_t>(input.timestamp);
    const auto classObjects = objects.find(settings.objectType);

    bool taught = false;
    bool eventDue = false;
    {
        std::lock_guard analyticsLock(m_analyticsMutex);
        const auto referenceRun = m_referenceRuns.find(deviceId);
        if (referenceRun != m_referenceRuns.end() && referenceRun->second == input.stage->id) {
            if (classObjects != objects.end()) {
                std::lock_guard knownBoxLock(m_knownBoxMutex);
                taught = teach(classObjects->second, deviceId, settings.knownBoxIouThreshold);
            }
            referenceRun->second.clear();
        } else if (classObjects != objects.end()) {
            std::lock_guard knownBoxLock(m_knownBoxMutex);
            eventDue = watch(classObjects->second, deviceId, settings, now);
        }
    }
    // Taught boxes are worth keeping at once: a crash before shut-down must not lose them.
    if (taught)
        saveDumpingCache();
    if (!eventDue)
        return nullptr;
    return makeEvent("vy.vyai.dumping", true, "Dumping Detected!",
        "An object has not moved for longer than " + std::to_string(settings.thresholdMicros / 1000000)
            + " seconds.");
}

bool DumpingDetector::isKnown(const std::string& deviceId, const Box_t& box, double iouThreshold) const
{
    const auto known = m_knownBoxes.find(deviceId);
    if (known == m_knownBoxes.end())
        return false;
    return std::any_of(known->second.begin(), known->second.end(),
        [&](const Box_t& knownBox) { return intersectionOverUnion(knownBox, box) > iouThreshold; });
}

bool DumpingDetector::teach(const std::vector<std::shared_ptr<VyAIObject_t>>& objects, const std::string& deviceId,
    double iouThreshold)
{
    bool added = false;
    for (const auto& object: objects) {
        const Box_t box = boxOf(*object);
        if (isKnown(deviceId, box, iouThreshold))
            continue;
        m_knownBoxes[deviceId].push_back(box);
        added = true;
    }
    return added;
}

bool DumpingDetector::watch(const std::vector<std::shared_ptr<VyAIObject_t>>& objects, const std::string& deviceId,
    const StageDumping_t& settings, int64_t now)
{
    auto& records = m_stationary[deviceId];
    std::erase_if(records, [now](const auto& entry) { return now - entry.second.lastSeen > kRecordTimeoutUs; });
    bool eventDue = false;
    for (const auto& object: objects) {
        if (isKnown(deviceId, boxOf(*object), settings.knownBoxIouThreshold))
            continue;
        const float cx = object->box[0] + 0.5f * object->box[2];
        const float cy = object->box[1] + 0.5f * object->box[3];
        const auto found = records.find(object->id);
        if (found == records.end()) {
            records.emplace(object->id, StationaryRecord{now, now, cx, cy, 0, now});
            continue;
        }
        StationaryRecord& record = found->second;
        record.lastSeen = std::max(record.lastSeen, now);
        std::erase_if(object->attributes,
            [](const auto& attribute) { return attribute && std::strcmp(attribute->name(), kStationaryTime) == 0; });
        const double distanceX = static_cast<double>(record.centreX) - cx;
        const double distanceY = static_cast<double>(record.centreY) - cy;
        if (distanceX * distanceX + distanceY * distanceY > settings.movementThreshold * settings.movementThreshold) {
            record.centreX = cx;
            record.centreY = cy;
            record.start = now;
            continue;
        }
        const int64_t stationary = now - record.start;
        addAttribute(*object, kStationaryTime, std::to_string(stationary / 1000000) + " s");
        if (stationary < settings.thresholdMicros)
            continue;
        addAttributeOnce(*object, kDumpedObject, "True");
        // Once per interval per object, not on every frame the object stands there.
        if (now - record.lastEvent > kReReportIntervalUs) {
            record.lastEvent = now;
            eventDue = true;
        }
    }
    if (records.empty())
        m_stationary.erase(deviceId);
    return eventDue;
}

void DumpingDetector::loadDumpingCache()
{
    std::lock_guard lock(m_knownBoxMutex);
    if (m_cacheRead)
        return;
    readKnownBoxesFile(m_rootFolder, m_knownBoxes);
    m_cacheRead = true;
}

void DumpingDetector::saveDumpingCache()
{
    std::lock_guard saveLock(m_saveMutex);
    // The file loads on a background thread: boxes taught before it came must join the stored
    // ones, never take their place.
    loadDumpingCache();
    KnownBoxes snapshot;
    {
        std::lock_guard lock(m_knownBoxMutex);
        snapshot = m_knownBoxes;
    }
    writeKnownBoxesFile(m_rootFolder, snapshot);
}

std::vector<Box_t> DumpingDetector::knownBoxes(const std::string& deviceId) const
{
    std::lock_guard lock(m_knownBoxMutex);
    const auto found = m_knownBoxes.find(deviceId);
    return found == m_knownBoxes.end() ? std::vector<Box_t>{} : found->second;
}

size_t DumpingDetector::stationaryRecordCount(const std::string& deviceId) const
{
    std::lock_guard lock(m_knownBoxMutex);
    const auto found = m_stationary.find(deviceId);
    return found == m_stationary.end() ? 0 : found->second.size();
}

} // namespace vyai
