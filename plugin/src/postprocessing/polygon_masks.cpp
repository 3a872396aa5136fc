#include "postprocessing/polygon_masks.h"

#include <algorithm>
#include <cmath>

#include "foundations/log.h"
#include "postprocessing/warn_once.h"

namespace vyai {

namespace {

constexpr float kEdgeTolerance = 0.0001f;

bool onEdge(float x, float y, float xi, float yi, float xj, float yj)
{
    const float cross = (xj - xi) * (y - yi) - (x - xi) * (yj - yi);
    return std::fabs(cross) <= kEdgeTolerance && x >= std::min(xi, xj) - kEdgeTolerance
        && x <= std::max(xi, xj) + kEdgeTolerance && y >= std::min(yi, yj) - kEdgeTolerance
        && y <= std::max(yi, yj) + kEdgeTolerance;
}

double polygonArea(const std::vector<float>& polygon)
{
    const size_t vertices = polygon.size() / 2;
    double twiceArea = 0;
    for (size_t i = 0, j = vertices - 1; i < vertices; j = i++) {
        twiceArea += static_cast<double>(polygon[2 * j]) * polygon[2 * i + 1]
            - static_cast<double>(polygon[2 * i]) * polygon[2 * j + 1];
    }
    return std::fabs(twiceArea) * 0.5;
}

bool anyMaskContains(const std::vector<StageMask_t>& masks, uint32_t kind, float x, float y)
{
    return std::any_of(masks.begin(), masks.end(),
        [&](const StageMask_t& mask) { return mask.exclusive == kind && pointInPolygon(mask.points, x, y); });
}

bool hasMaskOfKind(const std::vector<StageMask_t>& masks, uint32_t kind)
{
    return std::any_of(masks.begin(), masks.end(), [kind](const StageMask_t& mask) { return mask.exclusive == kind; });
}

} // namespace

bool pointInPolygon(std::vector<float> polygon, float x, float y)
{
    const size_t vertices = polygon.size() / 2;
    if (vertices == 0)
        return false;
    bool inside = false;
    for (size_t i = 0, j = vertices - 1; i < vertices; j = i++) {
        const float xi = polygon[2 * i], yi = polygon[2 * i + 1];
        const float xj = polygon[2 * j], yj = polygon[2 * j + 1];
        if (onEdge(x, y, xi, yi, xj, yj))
            return true;
        // (yi > y) != (yj > y) implies yj != yi, so the division is safe.
        if ((yi > y) != (yj > y) && (xj - xi) * (y - yi) / (yj - yi) + xi > x)
            inside = !inside;
    }
    return inside;
}

std::vector<StageMask_t> usableMasks(const std::vector<StageMask_t>& masks, const std::string& stageId,
    WarnOnce& warnings)
{
    std::vector<StageMask_t> usable;
    for (size_t index = 0; index < masks.size(); ++index) {
        const StageMask_t& mask = masks[index];
        const size_t vertices = mask.points.size() / 2;
        if (vertices >= 3 && polygonArea(mask.points) > 0.0) {
            usable.push_back(mask);
            continue;
        }
        if (warnings.first("mask " + stageId + " " + std::to_string(index))) {
            logError("Warning! Mask %zu of stage %s has %zu vertices and no area; it is ignored.\n", index,
                stageId.c_str(), vertices);
        }
    }
    return usable;
}

std::vector<std::shared_ptr<VyAIObject_t>> filterObjects(
    const std::vector<std::shared_ptr<VyAIObject_t>>& objects, const std::vector<StageMask_t>& masks)
{
    if (masks.empty())
        return objects;
    const bool hasInclusive = hasMaskOfKind(masks, kMaskInclusive);
    std::vector<std::shared_ptr<VyAIObject_t>> kept;
    for (const auto& object: objects) {
        const float footX = object->box[0] + 0.5f * object->box[2];
        const float footY = object->box[1] + object->box[3];
        if (hasInclusive && !anyMaskContains(masks, kMaskInclusive, footX, footY))
            continue;
        if (anyMaskContains(masks, kMaskExclusive, footX, footY))
            continue;
        kept.push_back(object);
    }
    return kept;
}

} // namespace vyai
