#pragma once

#include <filesystem>
#include <optional>

#include "records/model_details.h"

namespace vyai {

/**
 * A folder of its own, readable by the owner only, for the plain model files that one
 * runtime start hands to the runtime. Its name is not predictable, and it goes with its
 * files when the object is cleared or destroyed, so decrypted models never outlive the
 * runtime that loaded them. Used by one thread at a time.
 *
 * The folder holds a lock on its own owner file for its whole life, so that a folder whose
 * lock nobody holds was left by a process that died before it could remove it.
 */
class DecryptedModelFolder
{
public:
    /** Makes the folder below `parent`; a failure is logged and leaves the folder unusable. */
    explicit DecryptedModelFolder(const std::filesystem::path& parent);
    ~DecryptedModelFolder();

    DecryptedModelFolder(const DecryptedModelFolder&) = delete;
    DecryptedModelFolder& operator=(const DecryptedModelFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    /**
     * Decrypts the model's file with the first 32 bytes of its key file into the folder, as
     * the model's `index`-th file; the plain file's path, or none (logged) when the folder is
     * unusable, the key is too short or the decryption fails.
     */
    std::optional<std::filesystem::path> decrypt(const ModelDetails_t& model, size_t index);

    /** Removes the plain files and the folder; failures are logged, never thrown. */
    void clear();

    /** Removes the folders below `parent` whose owner process has ended (a crash, a kill). */
    static void removeAbandoned(const std::filesystem::path& parent);

private:
    std::filesystem::path m_path; //< empty when unusable or cleared
    int m_ownerLock = -1; //< descriptor holding the owner file's lock while the folder lives
};

} // namespace vyai
