#include "host/processor_declarations.h"

#include <filesystem>
#include <fstream>
#include <string_view>

#include <common/json_text.h>

namespace vyhost {

namespace {

/** Text as the content of a JSON string: a path may hold quotes or backslashes. */
std::string jsonStringContent(const std::string& text)
{
    std::string escaped;
    for (const char c: text)
    {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

/** One word for /bin/sh, whatever it holds. */
std::string shellWord(const std::string& text)
{
    std::string quoted = "'";
    for (const char c: text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void replaceAll(std::string& text, std::string_view placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos;
        at = text.find(placeholder, at + value.size()))
    {
        text.replace(at, placeholder.size(), value);
    }
}

bool writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    file.close();
    return static_cast<bool>(file);
}

/**
 * A script that runs the command with the plug-in's arguments and then the declaration's own,
 * where the processor reads "--name value" pairs after its channels. Empty on failure.
 */
std::string writeLauncher(const ProcessorDeclaration& declaration, const std::filesystem::path& path,
    const std::string& hostDirectory)
{
    std::string script = "#!/bin/sh\nexec "
        + shellWord(withProcessorPlaceholders(declaration.command, hostDirectory, false)) + " \"$@\"";
    for (const std::string& argument: declaration.arguments)
        script += " " + shellWord(withProcessorPlaceholders(argument, hostDirectory, false));
    script += "\n";
    if (!writeFile(path, script))
        return {};
    std::error_code error;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, error);
    return error ? std::string() : path.string();
}

/** The declaration's object with its "Command" in place of the one the scenario named. */
std::string withCommand(const std::string& declaration, const std::string& command)
{
    const vy::standins::JsonDoc parsed = vy::standins::parseJson(declaration);
    vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
    yyjson_mut_val* copy = yyjson_val_mut_copy(doc.get(), yyjson_doc_get_root(parsed.get()));
    yyjson_mut_obj_put(copy, yyjson_mut_str(doc.get(), "Command"), yyjson_mut_strcpy(doc.get(), command.c_str()));
    yyjson_mut_doc_set_root(doc.get(), copy);
    return vy::standins::toCompactText(doc.get());
}

} // namespace

std::string withProcessorPlaceholders(std::string text, const std::string& hostDirectory, bool inJson)
{
    const std::string processor = VYHOST_VYPROCESSOR_PATH;
    replaceAll(text, "{vyprocessor}", inJson ? jsonStringContent(processor) : processor);
    replaceAll(text, "{host}", inJson ? jsonStringContent(hostDirectory) : hostDirectory);
    return text;
}

std::string writePreprocessorDeclarations(
    const std::vector<ProcessorDeclaration>& declarations, const std::string& hostDirectory)
{
    return writeProcessorDeclarations(declarations, hostDirectory, ProcessorKind::pre);
}

std::string writeRawPostprocessing(const std::string& text, const std::string& hostDirectory)
{
    const std::filesystem::path folder = std::filesystem::path(hostDirectory) / "vy_veltrin";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return "cannot create " + folder.string() + ": " + error.message();
    const std::filesystem::path path = folder / "raw_postprocessing.json";
    return writeFile(path, text + "\n") ? std::string() : "cannot write " + path.string();
}

std::string writeProcessorDeclarations(const std::vector<ProcessorDeclaration>& declarations,
    const std::string& hostDirectory, ProcessorKind kind)
{
    const char* const folderName = kind == ProcessorKind::pre ? "preprocessors" : "postprocessors";
    const std::filesystem::path folder = std::filesystem::path(hostDirectory) / "vy_veltrin" / folderName;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return "cannot create " + folder.string() + ": " + error.message();

    std::string text = "[";
    for (size_t index = 0; index < declarations.size(); ++index)
    {
        const ProcessorDeclaration& declaration = declarations[index];
        std::string entry = withProcessorPlaceholders(declaration.declaration, hostDirectory, true);
        if (!declaration.arguments.empty())
        {
            const auto launcherPath = folder / ("launch-" + std::to_string(index + 1) + ".sh");
            const std::string launcher = writeLauncher(declaration, launcherPath, hostDirectory);
            if (launcher.empty())
                return "cannot write " + launcherPath.string();
            entry = withCommand(entry, launcher);
        }
        text += (index ? "," : "") + entry;
    }
    text += "]\n";
    const std::filesystem::path path = folder / ("external_" + std::string(folderName) + ".json");
    if (!writeFile(path, text))
        return "cannot write " + path.string();
    return {};
}

} // namespace vyhost
