#include "cloud/provisioning_storage.h"

#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace vy::standins {

namespace {

std::string md5Hex(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i)
    {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0f];
    }
    return hex;
}

std::string base64(const std::string& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string randomBytes(std::size_t count)
{
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1)
        throw std::runtime_error("no random bytes");
    return bytes;
}

// The cloud's model file: IV, AES-256-GCM ciphertext, tag.
std::string encrypt(const std::string& plain, const std::string& key, const std::string& iv)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    std::string cipher(plain.size() + 16, '\0');
    unsigned char tag[16];
    int length = 0;
    int finalLength = 0;
    const auto* keyBytes = reinterpret_cast<const unsigned char*>(key.data());
    const auto* ivBytes = reinterpret_cast<const unsigned char*>(iv.data());
    auto* out = reinterpret_cast<unsigned char*>(cipher.data());
    const bool ok = context
        && EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1
        && EVP_EncryptInit_ex(context.get(), nullptr, nullptr, keyBytes, ivBytes) == 1
        && EVP_EncryptUpdate(context.get(), out, &length, reinterpret_cast<const unsigned char*>(plain.data()),
               static_cast<int>(plain.size())) == 1
        && EVP_EncryptFinal_ex(context.get(), out + length, &finalLength) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
    if (!ok)
        throw std::runtime_error("model encryption failed");
    cipher.resize(static_cast<std::size_t>(length + finalLength));
    return iv + cipher + std::string(reinterpret_cast<const char*>(tag), 16);
}

std::string httpDate(int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

} // namespace

ProvisioningStorage::ProvisioningStorage(LoopbackServer& server): m_server(server)
{
    auto& http = m_server.http();
    http.Get(R"(/runtimes/.+/library[^/]*\.tar\.gz)", [this](const httplib::Request& request, httplib::Response& response) {
        remember(request);
        std::unique_lock lock(m_mutex);
        const std::string package = m_package;
        const PackageFault fault = m_packageFault;
        lock.unlock();
        if (fault.status == 0)
        {
            const std::string checksum = fault.checksum.value_or(md5Hex(package));
            if (!checksum.empty())
                response.set_header("X-Checksum-Md5", checksum);
        }
        serveBody(package, fault, response);
    });
    http.Get(R"(/models/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        remember(request);
        std::unique_lock lock(m_mutex);
        const bool known = m_models.contains(request.matches[1].str());
        const bool authorized = !m_token || request.get_header_value("Authorization") == *m_token;
        const bool omitLocation = m_modelFault.omitLocation;
        lock.unlock();
        if (!authorized || !known)
        {
            response.status = authorized ? 404 : 401;
            response.set_content(R"({"error":"refused"})", "application/json");
            return;
        }
        response.status = 307;
        if (!omitLocation)
        {
            response.set_header("Location",
                "http://127.0.0.1:" + std::to_string(m_server.port()) + "/storage/" + request.matches[1].str());
        }
    });
    http.Get(R"(/storage/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        remember(request);
        std::unique_lock lock(m_mutex);
        const auto found = m_models.find(request.matches[1].str());
        if (found == m_models.end())
        {
            response.status = 404;
            return;
        }
        const StoredModel model = found->second;
        const ModelFault fault = m_modelFault;
        lock.unlock();
        if (fault.status == 0)
        {
            const std::string key = fault.key.value_or(base64(model.key));
            if (!key.empty())
                response.set_header("X-Key", key);
            response.set_header("Last-Modified", httpDate(model.lastModified));
        }
        serveBody(model.encrypted, fault, response);
    });
}

void ProvisioningStorage::serveBody(const std::string& body, const BodyFault& fault, httplib::Response& response)
{
    if (fault.delay.count() > 0 && !m_server.pause(fault.delay))
    {
        // Stopping: whatever the reader gets, it is no answer it could take for the body.
        response.status = 503;
        return;
    }
    if (fault.status != 0)
    {
        response.status = fault.status;
        response.set_content(R"({"error":"storage fault"})", "application/json");
        return;
    }
    auto provider = [this, body, fault](std::size_t offset, httplib::DataSink& sink) {
        const std::size_t cut = std::min({body.size(), fault.stallAfter.value_or(body.size()),
            fault.truncateAfter.value_or(body.size())});
        if (offset < cut)
            return sink.write(body.data() + offset, std::min<std::size_t>(cut - offset, 16 * 1024));
        if (fault.truncateAfter && offset >= *fault.truncateAfter)
            return false; // the line drops
        if (fault.stallAfter && offset >= *fault.stallAfter)
        {
            m_server.pause(std::chrono::minutes(10));
            return false;
        }
        if (fault.chunked)
            sink.done();
        return true;
    };
    if (fault.chunked)
    {
        response.set_chunked_content_provider("application/octet-stream",
            [provider](std::size_t offset, httplib::DataSink& sink) { return provider(offset, sink); });
    }
    else
    {
        response.set_content_provider(body.size(), "application/octet-stream",
            [provider](std::size_t offset, std::size_t, httplib::DataSink& sink) { return provider(offset, sink); });
    }
}

void ProvisioningStorage::remember(const httplib::Request& request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back({request.path,
        request.has_header("Authorization") ? request.get_header_value("Authorization") : "<absent>"});
}

void ProvisioningStorage::setRuntimePackage(std::string bytes)
{
    std::lock_guard lock(m_mutex);
    m_package = std::move(bytes);
}

bool ProvisioningStorage::loadRuntimePackage(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    setRuntimePackage(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
    return true;
}

void ProvisioningStorage::setPackageFault(PackageFault fault)
{
    std::lock_guard lock(m_mutex);
    m_packageFault = std::move(fault);
}

std::string ProvisioningStorage::putModel(const std::string& fileName, const std::string& plain, int64_t lastModified)
{
    const std::string key = randomBytes(32);
    const std::string encrypted = encrypt(plain, key, randomBytes(12));
    std::lock_guard lock(m_mutex);
    m_models[fileName] = {encrypted, key, lastModified};
    return encrypted;
}

std::string ProvisioningStorage::modelKey(const std::string& fileName) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_models.find(fileName);
    return found == m_models.end() ? std::string() : found->second.key;
}

void ProvisioningStorage::setModelFault(ModelFault fault)
{
    std::lock_guard lock(m_mutex);
    m_modelFault = std::move(fault);
}

void ProvisioningStorage::setToken(std::string token)
{
    std::lock_guard lock(m_mutex);
    m_token = std::move(token);
}

std::vector<ProvisioningStorage::Request> ProvisioningStorage::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

} // namespace vy::standins
