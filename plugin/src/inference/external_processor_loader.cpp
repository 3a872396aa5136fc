#include "inference/external_processor_loader.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include <QStringList>

#include "foundations/file_helpers.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "inference/external_process.h"

namespace vyai {

namespace {

constexpr uint64_t kDefaultTimeoutMs = 1000;
// A frame's worker waits this long for a reply, and a shut-down may wait for one such wait:
// below 10 ms no processor could answer a frame, above a minute a stuck one would hold the
// worker and the host's unload for longer than any user waits.
constexpr uint64_t kMinTimeoutMs = 10;
constexpr uint64_t kMaxTimeoutMs = 60000;

// What differs between the two files' messages.
struct DeclarationKind
{
    const char* folder;
    const char* file;
    const char* word; //< "preprocessor" or "postprocessor"
};

constexpr DeclarationKind kPreprocessors{"preprocessors", "external_preprocessors.json", "preprocessor"};
constexpr DeclarationKind kPostprocessors{"postprocessors", "external_postprocessors.json", "postprocessor"};

std::string stringOf(yyjson_val* entry, const char* key)
{
    yyjson_val* value = yyjson_obj_get(entry, key);
    return yyjson_is_str(value) ? std::string(yyjson_get_str(value), yyjson_get_len(value)) : std::string();
}

bool boolOf(yyjson_val* entry, const char* key)
{
    yyjson_val* value = yyjson_obj_get(entry, key);
    return yyjson_is_bool(value) && yyjson_get_bool(value);
}

std::string compactJson(yyjson_val* value)
{
    size_t length = 0;
    char* text = yyjson_val_write(value, YYJSON_WRITE_NOFLAG, &length);
    std::string result = text ? std::string(text, length) : std::string();
    free(text);
    return result;
}

std::vector<std::pair<std::string, std::string>> typeList(yyjson_val* entry, const char* key)
{
    std::vector<std::pair<std::string, std::string>> types;
    yyjson_val* list = yyjson_obj_get(entry, key);
    size_t index, count;
    yyjson_val* item;
    if (yyjson_is_arr(list))
        yyjson_arr_foreach(list, index, count, item)
            if (yyjson_is_obj(item))
                types.emplace_back(stringOf(item, "ID"), stringOf(item, "Name"));
    return types;
}

// The fields both kinds share, read from one declaration; false (with the warning logged)
// when the declaration is to be skipped.
template<typename Record>
bool readCommonFields(yyjson_val* entry, const DeclarationKind& kind, Record& record)
{
    record.Name = stringOf(entry, "Name");
    if (!yyjson_is_str(yyjson_obj_get(entry, "Name")))
    {
        logError("Warning: Skipping %s with missing required fields (Name)\n", kind.word);
        return false;
    }
    yyjson_val* port = yyjson_obj_get(entry, "Port");
    yyjson_val* command = yyjson_obj_get(entry, "Command");
    if (yyjson_is_int(port))
    {
        // Another port than the one declared must never receive camera frames.
        const bool inRange = yyjson_is_uint(port) && yyjson_get_uint(port) >= 1 && yyjson_get_uint(port) <= 65535;
        if (!inRange)
        {
            logError("Warning: Skipping %s %s. 'Port' must be between 1 and 65535.\n", kind.word,
                record.Name.c_str());
            return false;
        }
        record.Port = static_cast<uint32_t>(yyjson_get_uint(port));
    }
    else if (yyjson_is_str(command))
    {
        record.Command = yyjson_get_str(command);
        // An empty command would be taken for a TCP processor on a port that was never declared.
        if (record.Command.empty())
        {
            logError("Warning: Skipping %s %s. 'Command' must not be empty.\n", kind.word, record.Name.c_str());
            return false;
        }
    }
    else
    {
        logError("Warning: Skipping %s. Either 'Command' or 'Port' needs to be defined.\n", kind.word);
        return false;
    }
    record.NoResponse = boolOf(entry, "NoResponse");
    record.LogFilepath = stringOf(entry, "LogFilepath");
    yyjson_val* settings = yyjson_obj_get(entry, "UserSettings");
    if (yyjson_is_arr(settings))
        record.UserSettings = compactJson(settings);
    yyjson_val* timeout = yyjson_obj_get(entry, "TimeoutMs");
    const uint64_t declared = yyjson_is_uint(timeout) ? yyjson_get_uint(timeout) : kDefaultTimeoutMs;
    record.TimeoutMs = std::clamp(declared, kMinTimeoutMs, kMaxTimeoutMs);
    if (record.TimeoutMs != declared)
        logError("Warning: %s %s declares 'TimeoutMs' %llu; %llu ms is used (the range is %llu to %llu ms).\n",
            kind.word, record.Name.c_str(), static_cast<unsigned long long>(declared),
            static_cast<unsigned long long>(record.TimeoutMs), static_cast<unsigned long long>(kMinTimeoutMs),
            static_cast<unsigned long long>(kMaxTimeoutMs));
    return true;
}

std::shared_ptr<ExternalProcess> startProcess(
    const std::string& command, uint32_t port, const std::string& logFile, const QStringList& arguments)
{
    if (command.empty())
        return makeExternalProcessTcp(port);
    return makeExternalProcess(command, logFile, arguments, QProcessEnvironment());
}

// Steps common to both files: find, read and parse the file, then hand each object entry to
// `load`, which returns the declaration's name when it entered the map.
template<typename Map, typename Load>
void loadDeclarationFile(const std::string& rootFolder, const DeclarationKind& kind, const Map& processors, Load load)
{
    const std::string path = (std::filesystem::path(rootFolder) / kind.folder / kind.file).string();
    if (!fileExists(path))
    {
        logInfo("Notice: No external %ss configuration found at %s\n", kind.word, path.c_str());
        return;
    }
    const std::optional<std::string> text = readTextFile(path);
    if (!text)
    {
        logError("Error: Failed to open external %ss configuration file: %s\n", kind.word, path.c_str());
        return;
    }
    const JsonDocument document = readJsonDocument(*text);
    if (!document)
    {
        logError("Error: Failed to parse external %ss JSON file: %s\n", kind.word, path.c_str());
        return;
    }
    yyjson_val* root = yyjson_doc_get_root(document.get());
    if (!yyjson_is_arr(root))
    {
        logError("Error: External %ss JSON root must be an array\n", kind.word);
        return;
    }
    size_t index, count;
    yyjson_val* entry;
    yyjson_arr_foreach(root, index, count, entry)
    {
        if (!yyjson_is_obj(entry))
        {
            logError("Warning: Skipping non-object entry in external %ss array\n", kind.word);
            continue;
        }
        load(entry);
    }
    logInfo("Initialized %zu external %ss\n", processors.size(), kind.word);
}

template<typename Record>
bool isNewName(const std::map<std::string, Record>& processors, const Record& record, const DeclarationKind& kind)
{
    if (!processors.contains(record.Name))
        return true;
    logError("Warning: Skipping %s %s. A processor of that name is already declared.\n", kind.word,
        record.Name.c_str());
    return false;
}

} // namespace

void loadExternalPreprocessors(const std::string& rootFolder, ExternalPreprocessorMap& processors)
{
    loadDeclarationFile(rootFolder, kPreprocessors, processors,
        [&](yyjson_val* entry) {
            ExternalPreprocessor_t record;
            if (!readCommonFields(entry, kPreprocessors, record) || !isNewName(processors, record, kPreprocessors))
                return;
            record.schedule = stringOf(entry, "Schedule") == "TENSOR" ? kPreprocessTensor : kPreprocessImage;
            const QStringList arguments{"--ProcessorName", QString::fromStdString(record.Name)};
            record.process = startProcess(record.Command, record.Port, record.LogFilepath, arguments);
            if (!record.process)
            {
                logError("Error: Failed to start external preprocessor %s\n", record.Name.c_str());
                return;
            }
            logInfo("Loaded and started external preprocessor: %s (command: %s)\n", record.Name.c_str(),
                record.Command.c_str());
            const std::string name = record.Name;
            processors.emplace(name, std::move(record));
        });
}

void loadExternalPostprocessors(const std::string& rootFolder, ExternalPostprocessorMap& processors)
{
    loadDeclarationFile(rootFolder, kPostprocessors, processors,
        [&](yyjson_val* entry) {
            ExternalPostprocessor_t record;
            if (!readCommonFields(entry, kPostprocessors, record) || !isNewName(processors, record, kPostprocessors))
                return;
            record.schedule = stringOf(entry, "Schedule") == "TENSOR" ? kPostprocessTensor : kPostprocessObjects;
            record.ReceiveInputImage = boolOf(entry, "ReceiveInputImage");
            record.ReceiveBinaryData = boolOf(entry, "ReceiveBinaryData");
            record.Objects = typeList(entry, "Objects");
            record.Events = typeList(entry, "Events");
            QStringList arguments;
            yyjson_val* config = yyjson_obj_get(entry, "Config");
            yyjson_val* key;
            yyjson_obj_iter iter = yyjson_obj_iter_with(config);
            while (yyjson_is_obj(config) && (key = yyjson_obj_iter_next(&iter)))
            {
                yyjson_val* value = yyjson_obj_iter_get_val(key);
                if (!yyjson_is_str(value))
                {
                    logError("Warning! Received non-string config argument for postprocessor: %s\n",
                        record.Name.c_str());
                    continue;
                }
                arguments << QString("--") + QString::fromUtf8(yyjson_get_str(key))
                          << QString::fromUtf8(yyjson_get_str(value));
            }
            arguments << "--ProcessorName" << QString::fromStdString(record.Name);
            record.process = startProcess(record.Command, record.Port, record.LogFilepath, arguments);
            if (!record.process)
            {
                logError("Error: Failed to start external postprocessor %s\n", record.Name.c_str());
                return;
            }
            logInfo("Loaded and started external postprocessor: %s (%zu objects, %zu events, command: %s)\n",
                record.Name.c_str(), record.Objects.size(), record.Events.size(), record.Command.c_str());
            const std::string name = record.Name;
            processors.emplace(name, std::move(record));
        });
}

} // namespace vyai
