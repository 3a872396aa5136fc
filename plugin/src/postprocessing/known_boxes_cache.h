#pragma once

#include <map>
#include <string>
#include <vector>

#include "inference/model_vocabulary.h"

namespace vyai {

/** Known boxes of dumping detection, by device id. */
using KnownBoxes = std::map<std::string, std::vector<Box_t>>;

/** "<root>/cache/dumping_known_bboxes.json". */
std::string knownBoxesPath(const std::string& rootFolder);

/**
 * Adds the boxes of the cache file to `boxes`. A missing file adds nothing, silently. A file
 * that cannot be parsed is logged and renamed aside (".corrupt"), so that it neither stops a
 * start nor gets overwritten before someone can look at it.
 */
void readKnownBoxesFile(const std::string& rootFolder, KnownBoxes& boxes);

/**
 * Writes all boxes to the cache file through a temporary file and a rename, so that a crash
 * leaves the old or the new file whole. Nothing is written when there are no boxes. False
 * on a failure, which is logged.
 */
bool writeKnownBoxesFile(const std::string& rootFolder, const KnownBoxes& boxes);

} // namespace vyai
