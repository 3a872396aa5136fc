#pragma once

#include <memory>
#include <string>
#include <vector>

#include <yyjson.h>

#include "foundations/messaging_manager.h"
#include "records/model_details.h"

// Reading the cloud's model descriptions out of the devices' parameters in the host.

namespace vyai {

/** What every model description is read against: the installed runtime and the file folders. */
struct ModelReadingContext
{
    std::string runtimeName;
    std::string runtimeMimeType; //< a download matches only this; empty matches nothing
    std::string modelFilesDirectory;
    std::string keysDirectory;
    std::string temporaryDirectory; //< where decrypted model files go
};

/**
 * Ids of the devices whose "parameters" hold a "vyAI" value that is not an object or lacks
 * "models" or "pipelines": their configuration is incomplete and the cloud should redo it.
 */
std::vector<std::string> unconfiguredDeviceIds(yyjson_val* devices);

/**
 * The models listed by the devices whose plug-in is enabled, one record per UUID (the newest
 * "UpdatedAt" wins; of equal ones the first). A model with invalid data is skipped and
 * reported as the warning PARSE_MODEL_FAILED, which a pass without failures removes again.
 */
ModelDetailsMap readModelDetails(
    yyjson_val* devices, const ModelReadingContext& context, MessagingManager& messages);

/** A model UUID that may stand in a file name: letters, digits and "-", not empty. */
bool isSafeModelUuid(const std::string& uuid);

/** One plain file name: not empty, not "." or "..", no path separator. */
bool isSafeFileName(const std::string& name);

/**
 * Applies "raw_postprocessing.json" of the data directory, when there is one, to every
 * record of the map; the records must not have been published yet. A file system error
 * other than a missing file is thrown (std::filesystem::filesystem_error).
 */
void applyRawPostprocessingConfig(ModelDetailsMap& models, const std::string& dataDirectory);

} // namespace vyai
