#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include <common/json_text.h>
#include <yyjson.h>

namespace vyhost {

// One output line under construction: a JSON object whose first member is "type".
class JsonLine
{
public:
    explicit JsonLine(const char* type);

    JsonLine(const JsonLine&) = delete;
    JsonLine& operator=(const JsonLine&) = delete;

    yyjson_mut_doc* doc() const { return m_doc.get(); }
    yyjson_mut_val* root() const { return m_root; }

    /** Adds a member with a copied string value; the key must outlive the line. */
    void addString(const char* key, const std::string& value);

    /**
     * Adds a JSON text as a member: parsed when it is valid JSON, else kept as a string,
     * so that a broken manifest is still shown to whoever reads the output.
     */
    void addJsonText(const char* key, const std::string& text);

    /**
     * The line as compact JSON without the line end; numbers that are not finite as null. A
     * line that cannot be written (a text that is no UTF-8) gives a "log" line saying so.
     */
    std::string text() const;

private:
    vy::standins::MutableJsonDoc m_doc;
    yyjson_mut_val* m_root;
};

// Standard output of vyhost: every line one JSON object, lines from the camera threads
// and the plug-in's workers never interleave. Once a line cannot be written (a full disk, a
// reader that went away) nothing more is written and onFailure is called, once.
class OutputStream
{
public:
    explicit OutputStream(std::FILE* out, std::function<void()> onFailure = {}):
        m_out(out), m_onFailure(std::move(onFailure))
    {
    }

    void write(const JsonLine& line);

    /** A "log" line: the host's own note. */
    void log(const std::string& message);

    /** Whether a line could not be written; then error() says why. */
    bool failed() const;
    std::string error() const;

private:
    std::FILE* m_out;
    const std::function<void()> m_onFailure;
    mutable std::mutex m_mutex; //< held for one whole line; guards m_error
    std::string m_error;
};

} // namespace vyhost
