#pragma once

#include <memory>
#include <string>
#include <vector>

#include "records/pipeline_stage_parameters.h"
#include "records/vyai_object.h"

namespace vyai {

class WarnOnce;

enum MaskKind : uint32_t {
    kMaskInclusive = 0,
    kMaskExclusive = 1,
};

/**
 * True when (x, y) lies inside the polygon x0, y0, x1, y1, ... or within 0.0001 of one of its
 * edges; an odd last float is ignored. All in 32-bit floats.
 */
bool pointInPolygon(std::vector<float> polygon, float x, float y);

/**
 * The stage's masks that can hold an area: a polygon with fewer than three vertices or no
 * area is left out, with one warning per stage and mask.
 */
std::vector<StageMask_t> usableMasks(const std::vector<StageMask_t>& masks, const std::string& stageId,
    WarnOnce& warnings);

/**
 * The objects whose foot point (middle of the box's bottom edge) the masks allow, in order:
 * inside some inclusive mask when there is one, and inside no exclusive mask. Masks of other
 * kinds are ignored.
 */
std::vector<std::shared_ptr<VyAIObject_t>> filterObjects(
    const std::vector<std::shared_ptr<VyAIObject_t>>& objects, const std::vector<StageMask_t>& masks);

} // namespace vyai
