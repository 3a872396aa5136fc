#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cloud/cloud_standin.h"

namespace vy::standins {

// Everything a run asks of the cloud stand-in, set in one go before the plug-in starts. A
// new service adds its answers here as a member and applies them in CloudStandin::configure.
struct CloudScenario
{
    // Requests must carry these; nullopt: any system id, any authorization is accepted.
    std::optional<std::string> systemId;
    std::optional<std::string> token;

    // The pipeline catalogue (JSON array text; see CloudStandin::setPipelines) and, per
    // device id, the uuids offered to it in order; a device not named is offered them all.
    std::string pipelines = "[]";
    std::map<std::string, std::vector<std::string>> offers;

    // The models the storage serves (JSON array text, one object per model: "file" as named
    // under "/models/", "content" the plain model, a JSON value or a string, "lastModified" in
    // seconds since 1970) and the runtime package it serves (JSON object text whose "path"
    // names the archive; empty: none).
    std::string models = "[]";
    std::string runtimePackage;

    std::map<CloudStandin::Route, CloudStandin::Fault> faults;
    // How the storage sends the models (after the redirect) and the runtime packages.
    std::optional<ProvisioningStorage::ModelFault> modelFault;
    std::optional<ProvisioningStorage::PackageFault> packageFault;
};

} // namespace vy::standins
