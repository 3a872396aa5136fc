#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cloud/loopback_server.h"

namespace vy::standins {

// Runtime package and model storage on a loopback server: runtime archives under
// "/runtimes/.../library*.tar.gz" with "X-Checksum-Md5", and encrypted models under
// "/models/<file>", which answer 307 to "/storage/<file>" where the model is served with its
// key in "X-Key" and its "Last-Modified". Switches give the faults a real storage shows.
// Thread-safe; answers come from the server's own threads.
class ProvisioningStorage
{
public:
    // How a body is sent, whatever it holds.
    struct BodyFault
    {
        int status = 0; //< answer this status with an error body; 0: answer normally
        std::chrono::milliseconds delay{0}; //< wait this long before answering
        std::optional<std::size_t> stallAfter; //< send this many bytes, then wait for stop()
        std::optional<std::size_t> truncateAfter; //< send this many bytes, then drop the line
        bool chunked = false; //< no "Content-Length"
    };

    struct PackageFault: BodyFault
    {
        std::optional<std::string> checksum; //< sent in place of the package's MD5; "" omits it
    };

    struct ModelFault: BodyFault
    {
        bool omitLocation = false; //< the 307 carries no "Location"
        std::optional<std::string> key; //< sent in place of the model's "X-Key"; "" omits it
    };

    struct Request
    {
        std::string path;
        std::string authorization; //< "<absent>" when the request had none
    };

    // Adds the routes; call before the server starts.
    explicit ProvisioningStorage(LoopbackServer& server);

    ProvisioningStorage(const ProvisioningStorage&) = delete;
    ProvisioningStorage& operator=(const ProvisioningStorage&) = delete;

    // The archive served for every runtime package path.
    void setRuntimePackage(std::string bytes);
    // False when the file cannot be read.
    bool loadRuntimePackage(const std::string& path);
    void setPackageFault(PackageFault fault);

    // Encrypts the model under a fresh key (12-byte IV, AES-256-GCM, 16-byte tag) and serves it
    // from then on; returns the encrypted bytes. lastModified: seconds since 1970, UTC.
    std::string putModel(const std::string& fileName, const std::string& plain, int64_t lastModified);
    // The 32 raw key bytes of a model put here; empty when there is none.
    std::string modelKey(const std::string& fileName) const;
    void setModelFault(ModelFault fault);
    // "/models" requests whose "Authorization" differs are refused with 401. Until set, any.
    void setToken(std::string token);

    std::vector<Request> requests() const;

private:
    struct StoredModel
    {
        std::string encrypted;
        std::string key;
        int64_t lastModified = 0;
    };

    void serveBody(const std::string& body, const BodyFault& fault, httplib::Response& response);
    void remember(const httplib::Request& request);

    LoopbackServer& m_server;

    mutable std::mutex m_mutex; //< guards everything below
    std::string m_package;
    PackageFault m_packageFault;
    std::map<std::string, StoredModel> m_models;
    ModelFault m_modelFault;
    std::optional<std::string> m_token;
    std::vector<Request> m_requests;
};

} // namespace vy::standins
