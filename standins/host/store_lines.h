#pragma once

#include <map>
#include <string>
#include <vector>

#include <cloud/cloud_standin.h>

#include "host/json_line.h"
#include "host/rest_store.h"

namespace vyhost {

/**
 * Prints a "log" line for each record the plug-in patches in the store: "camera" (the name,
 * or the device id when no camera has it) and its "vyAI" parameters after the merge, or
 * "server" and the server's. cameraNames maps normalizedId(device id) to the camera's name.
 */
RestStore::PatchObserver patchLogger(OutputStream& out, std::map<std::string, std::string> cameraNames);

/** A "log" line with every request the cloud stand-in answered, "cloudRequests"; none without. */
void printCloudRequests(OutputStream& out, const std::vector<vy::standins::CloudStandin::Request>& requests);

} // namespace vyhost
