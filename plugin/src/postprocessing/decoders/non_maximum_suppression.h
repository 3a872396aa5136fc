#pragma once

#include <vector>

#include "postprocessing/decoders/detection_table.h"

namespace vyai {

/** Corner-box overlap; 0 when the union is not positive (zero-area or inverted boxes). */
float intersectionOverUnion(const Detection_t& a, const Detection_t& b);

/**
 * Greedy one-pass suppression: detections sorted by score, highest first (equal scores keep
 * their input order), a detection is dropped when its overlap with an earlier kept one of the
 * same class (any class when `classAgnostic`) is greater than `iouThreshold`. Kept detections
 * come back in descending score order. Scores must not be NaN (decoders filter them out).
 */
std::vector<Detection_t> nonMaximumSuppression(std::vector<Detection_t> detections, float iouThreshold,
    bool classAgnostic);

} // namespace vyai
