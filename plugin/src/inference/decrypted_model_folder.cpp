#include "inference/decrypted_model_folder.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "foundations/file_helpers.h"
#include "foundations/log.h"
#include "vyai_crypto/model_decryption.h"

namespace vyai {

namespace {

constexpr size_t kModelKeyBytes = 32;
constexpr const char* kFolderPrefix = "models.";
constexpr const char* kOwnerFileName = ".owner";
// The owner file is made and locked under this name, then renamed: a sweep that finds the
// owner file always finds it locked.
constexpr const char* kNewOwnerFileName = ".owner.new";
// A folder is made a moment before its owner file: one younger than this without an owner
// file may still be getting one.
constexpr auto kOwnerFileGrace = std::chrono::minutes(1);

/** The file's descriptor with its lock taken, or -1 when another holds the lock. */
int lockFile(const std::filesystem::path& file, int flags)
{
    const int fd = open(file.c_str(), flags | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/** A new owner file, locked, in place; -1 (errno set) when that fails. */
int createLockedOwnerFile(const std::filesystem::path& folder)
{
    const std::filesystem::path newOwner = folder / kNewOwnerFileName;
    const int fd = lockFile(newOwner, O_CREAT | O_EXCL);
    if (fd < 0)
        return -1;
    if (rename(newOwner.c_str(), (folder / kOwnerFileName).c_str()) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool isAbandoned(const std::filesystem::path& folder)
{
    if (const int fd = lockFile(folder / kOwnerFileName, 0); fd >= 0) {
        close(fd);
        return true;
    }
    std::error_code error;
    if (std::filesystem::exists(folder / kOwnerFileName, error) || error)
        return false; // locked: its owner lives
    const auto modified = std::filesystem::last_write_time(folder, error);
    return !error && std::filesystem::file_time_type::clock::now() - modified > kOwnerFileGrace;
}

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
    std::string pattern = (parent / (std::string(kFolderPrefix) + "XXXXXX")).string();
    // mkdtemp makes the folder with mode 0700 under a name nobody can guess ahead.
    if (!mkdtemp(pattern.data())) {
        const int error = errno;
        logError("Error! Could not create folder for decrypted models in %s: %s\n", parent.c_str(),
            std::strerror(error));
        return;
    }
    m_ownerLock = createLockedOwnerFile(pattern);
    if (m_ownerLock < 0) {
        const int error = errno;
        logError("Error! Could not lock folder for decrypted models %s: %s\n", pattern.c_str(), std::strerror(error));
        std::error_code ignored;
        std::filesystem::remove_all(pattern, ignored);
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
    // Held until the files are gone: a sweep of another engine must not race this removal.
    close(m_ownerLock);
    m_ownerLock = -1;
    m_path.clear();
}

void DecryptedModelFolder::removeAbandoned(const std::filesystem::path& parent)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(parent, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::path& folder = entries->path();
        if (!folder.filename().string().starts_with(kFolderPrefix) || !entries->is_directory(error)
            || entries->is_symlink(error) || !isAbandoned(folder))
            continue;
        std::error_code removal;
        std::filesystem::remove_all(folder, removal);
        if (removal)
            logError("Warning! Could not remove abandoned decrypted model folder %s: %s\n", folder.c_str(),
                removal.message().c_str());
        else
            logError("Notice: Removed decrypted model folder %s left by an ended process.\n", folder.c_str());
    }
}

} // namespace vyai
