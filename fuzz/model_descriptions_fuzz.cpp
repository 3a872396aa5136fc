// The devices' parameters from raw bytes, as the host's REST interface hands them over, read
// for model descriptions. Whatever they hold: each model is keyed by its UUID, a UUID that
// could climb out of a folder is never taken, and every file a model names lies directly in
// the folder meant for it.
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/model_descriptions.h"
#include "foundations/json_helpers.h"
#include "foundations/messaging_manager.h"
#include "fuzz_check.h"

namespace {

bool directlyIn(const std::string& path, const std::string& folder)
{
    return path.empty() || std::filesystem::path(path).parent_path() == std::filesystem::path(folder);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const vyai::JsonDocument document = vyai::readJsonDocument(std::string(reinterpret_cast<const char*>(data), size));
    if (!document)
        return 0;
    yyjson_val* devices = yyjson_doc_get_root(document.get());
    const vyai::ModelReadingContext context{"Generic CPU", "application/x-cpu", "/cache/model_files", "/cache/keys", "/tmp"};
    vyai::MessagingManager messages;
    (void) vyai::unconfiguredDeviceIds(devices);
    const vyai::ModelDetailsMap models = vyai::readModelDetails(devices, context, messages);
    for (const auto& [uuid, model]: models)
    {
        FUZZ_CHECK(model && model->uuid == uuid, "a model is keyed by its UUID");
        FUZZ_CHECK(vyai::isSafeModelUuid(uuid), "a model's UUID may stand in a file name");
        FUZZ_CHECK(directlyIn(model->modelFilePath, context.modelFilesDirectory), "the model file lies in its folder");
        FUZZ_CHECK(directlyIn(model->keyFilePath, context.keysDirectory), "the key file lies in its folder");
        FUZZ_CHECK(directlyIn(model->decryptedFilePath, context.temporaryDirectory),
            "the decrypted file lies in its folder");
    }
    return 0;
}
