#include "inference/decrypted_model_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "foundations/file_helpers.h"
#include "foundations/log.h"
#include "vyai_crypto/model_decryption.h"

namespace vyai {

namespace {

constexpr size_t kModelKeyBytes = 32;

// The runtime may tell model kinds apart by extension, so the plain file keeps the name the
// download gave it, behind its index so that two models never share a file.
std::string plainFileName(const ModelDetails_t& model, size_t index)
{
    std::string name = std::filesystem::path(model.decryptedFilePath).filename().string();
    if (name.empty() || name == "." || name == "..")
        name = "model";
    return std::to_string(index) + "_" + name;
}

} // namespace

DecryptedModelFolder::DecryptedModelFolder(const std::filesystem::path& parent)
{
    std::string pattern = (parent / "models.XXXXXX").string();
    // mkdtemp makes the folder with mode 0700 under a name nobody can guess ahead.
    if (!mkdtemp(pattern.data())) {
        const int error = errno;
        logError("Error! Could not create folder for decrypted models in %s: %s\n", parent.c_str(),
            std::strerror(error));
        return;
    }
    m_path = pattern;
}

DecryptedModelFolder::~DecryptedModelFolder()
{
    clear();
}

std::optional<std::filesystem::path> DecryptedModelFolder::decrypt(const ModelDetails_t& model, size_t index)
{
    if (m_path.empty())
        return std::nullopt;
    const std::vector<uint8_t> key = readBinaryFile(model.keyFilePath);
    if (key.size() < kModelKeyBytes) {
        logError("Error! Model key file %s holds %zu bytes, %zu are needed.\n", model.keyFilePath.c_str(), key.size(),
            kModelKeyBytes);
        return std::nullopt;
    }
    std::filesystem::path plainPath = m_path / plainFileName(model, index);
    if (!decryptModelFile(key.data(), model.modelFilePath.c_str(), plainPath.c_str()))
        return std::nullopt;
    return plainPath;
}

void DecryptedModelFolder::clear()
{
    if (m_path.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
    if (error)
        logError("Warning! Could not remove decrypted model folder %s: %s\n", m_path.c_str(), error.message().c_str());
    m_path.clear();
}

} // namespace vyai
