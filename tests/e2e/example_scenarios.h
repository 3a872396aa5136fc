#pragma once
// The example scenarios of the stand-in host, run and read back: what came out as objects and
// events, and where the scene had its boxes.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "scoped_temp_directory.h"
#include "test_files.h"
#include "time_factor.h"
#include "vyhost_process.h"

namespace example_scenarios {

// The example scenarios' scene and analytics, as the tests read them back.
inline constexpr double kFrameWidth = 640;
inline constexpr double kFrameHeight = 360;

struct ScenarioRun
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    VyhostRun run;
};

/** An example scenario as a document to change; freed with it. */
struct MutableScenario
{
    explicit MutableScenario(const char* example)
    {
        const std::string text = vyai::test::readFile(std::string(VYHOST_SCENARIOS_DIR) + "/" + example);
        auto document = vy::standins::parseJson(text);
        doc = yyjson_doc_mut_copy(document.get(), nullptr);
        root = yyjson_mut_doc_get_root(doc);
        // The plug-in's log on the console (vyhost's standard error).
        yyjson_mut_obj_add_bool(doc, yyjson_mut_obj_get(root, "ini"), "logToConsole", true);
    }
    ~MutableScenario() { yyjson_mut_doc_free(doc); }
    MutableScenario(const MutableScenario&) = delete;
    MutableScenario& operator=(const MutableScenario&) = delete;

    yyjson_mut_val* at(yyjson_mut_val* object, const char* key) const { return yyjson_mut_obj_get(object, key); }
    yyjson_mut_val* firstOf(const char* key) const { return yyjson_mut_arr_get_first(at(root, key)); }
    void put(yyjson_mut_val* object, const char* key, yyjson_mut_val* value)
    {
        yyjson_mut_obj_put(object, yyjson_mut_strcpy(doc, key), value);
    }

    std::string text() const
    {
        char* written = yyjson_mut_write(doc, 0, nullptr);
        std::string result = written ? written : "";
        std::free(written);
        return result;
    }

    /** Written as `name` into `directory`, for vyhost to read; the file's path. */
    std::string writeTo(const std::filesystem::path& directory, const char* name) const
    {
        const std::string path = (directory / name).string();
        vyai::test::writeFile(path, text());
        return path;
    }

    yyjson_mut_doc* doc = nullptr;
    yyjson_mut_val* root = nullptr;
};

/** Runs a scenario file for `seconds` at `fps` frames a second. The frames take their stated
 * time on any build; start-up and unload take longer on a slower one. */
inline void runScenarioFile(const std::string& path, int seconds, ScenarioRun& result, double fps = 10)
{
    result.run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", result.hostDirectory.path().string(), "--scenario",
            path, "--fps", std::to_string(fps), "--seconds", std::to_string(seconds)},
        {"VY_INI_DIR=" + result.iniDirectory.path().string()},
        std::chrono::seconds(seconds) + vyai::test::scaled(std::chrono::seconds(90)));
}

/** Runs an example scenario for `seconds` at 10 frames a second. */
inline void runExample(const char* name, int seconds, ScenarioRun& result)
{
    runScenarioFile(std::string(VYHOST_SCENARIOS_DIR) + "/" + name, seconds, result);
}

struct Item
{
    int64_t timestampUs = 0; //< of the frame
    std::string typeId;
    std::string description;
    double x = 0, y = 0, width = 0, height = 0; //< frame fractions
    std::multiset<std::string> attributes; //< names, as often as the item has them
    std::string trackId;
};

inline double numberOf(yyjson_val* object, const char* key)
{
    return yyjson_get_num(yyjson_obj_get(object, key));
}

/** The items of every line of a type ("objects" or "events"), in the order they came. */
inline std::vector<Item> itemsOf(const VyhostRun& run, const char* type)
{
    std::vector<Item> items;
    for (const VyhostLine* line: run.linesOfType(type))
    {
        size_t index = 0;
        size_t count = 0;
        yyjson_val* value = nullptr;
        yyjson_arr_foreach(line->at({"items"}), index, count, value)
        {
            Item& item = items.emplace_back();
            item.timestampUs = integerAt(*line, {"timestampUs"});
            if (const char* typeId = yyjson_get_str(yyjson_obj_get(value, "typeId")))
                item.typeId = typeId;
            if (const char* description = yyjson_get_str(yyjson_obj_get(value, "description")))
                item.description = description;
            if (const char* trackId = yyjson_get_str(yyjson_obj_get(value, "trackId")))
                item.trackId = trackId;
            yyjson_val* box = yyjson_obj_get(value, "box");
            item.x = numberOf(box, "x");
            item.y = numberOf(box, "y");
            item.width = numberOf(box, "width");
            item.height = numberOf(box, "height");
            size_t attributeIndex = 0;
            size_t attributeCount = 0;
            yyjson_val* attribute = nullptr;
            yyjson_arr_foreach(yyjson_obj_get(value, "attributes"), attributeIndex, attributeCount, attribute)
            {
                if (const char* name = yyjson_get_str(yyjson_obj_get(attribute, "name")))
                    item.attributes.insert(name);
            }
        }
    }
    return items;
}

inline bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline std::vector<Item> ofType(const std::vector<Item>& items, const std::string& typeEnd)
{
    std::vector<Item> found;
    for (const Item& item: items)
        if (endsWith(item.typeId, typeEnd))
            found.push_back(item);
    return found;
}

/** Per frame timestamp, the horizontal centre in pixels of the scene's box of that colour. */
inline std::map<int64_t, double> truthCentres(const VyhostRun& run, const std::string& colour)
{
    std::map<int64_t, double> centres;
    for (const VyhostLine* truth: run.linesOfType("truth"))
    {
        size_t index = 0;
        size_t count = 0;
        yyjson_val* box = nullptr;
        yyjson_arr_foreach(truth->at({"boxes"}), index, count, box)
        {
            if (yyjson_equals_str(yyjson_obj_get(box, "colour"), colour.c_str()))
                centres[integerAt(*truth, {"timestampUs"})] = numberOf(box, "x") + numberOf(box, "width") / 2;
        }
    }
    return centres;
}

} // namespace example_scenarios
