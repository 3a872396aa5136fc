#include "host/json_line.h"

#include <cerrno>
#include <cstring>

namespace vyhost {

JsonLine::JsonLine(const char* type):
    m_doc(vy::standins::newJsonDoc()),
    m_root(yyjson_mut_obj(m_doc.get()))
{
    yyjson_mut_doc_set_root(m_doc.get(), m_root);
    yyjson_mut_obj_add_str(m_doc.get(), m_root, "type", type);
}

void JsonLine::addString(const char* key, const std::string& value)
{
    yyjson_mut_obj_add_strncpy(m_doc.get(), m_root, key, value.data(), value.size());
}

void JsonLine::addJsonText(const char* key, const std::string& text)
{
    const vy::standins::JsonDoc parsed = vy::standins::parseJson(text);
    yyjson_mut_val* value =
        parsed ? yyjson_val_mut_copy(m_doc.get(), yyjson_doc_get_root(parsed.get())) : nullptr;
    if (value)
        yyjson_mut_obj_add_val(m_doc.get(), m_root, key, value);
    else
        addString(key, text);
}

std::string JsonLine::text() const
{
    // A number that is not finite shows as null rather than losing the whole line.
    yyjson_write_err error{};
    if (auto json = vy::standins::writeCompact(m_doc.get(), YYJSON_WRITE_INF_AND_NAN_AS_NULL, &error))
        return *std::move(json);

    // A text the plug-in handed over that is no UTF-8 cannot go into JSON: a "log" line
    // says what could not be shown, so that every output line still has a "type".
    const char* type = yyjson_mut_get_str(yyjson_mut_obj_get(m_root, "type"));
    JsonLine note("log");
    note.addString("message", std::string("cannot write a \"") + (type ? type : "")
        + "\" line: " + (error.msg ? error.msg : "unknown error"));
    return note.text();
}

void OutputStream::write(const JsonLine& line)
{
    std::string text = line.text();
    text += '\n';
    {
        const std::lock_guard lock(m_mutex);
        if (!m_error.empty())
            return;
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), m_out) == text.size() && std::fflush(m_out) == 0)
            return;
        m_error = errno != 0 ? std::strerror(errno) : "short write";
    }
    if (m_onFailure)
        m_onFailure();
}

bool OutputStream::failed() const
{
    const std::lock_guard lock(m_mutex);
    return !m_error.empty();
}

std::string OutputStream::error() const
{
    const std::lock_guard lock(m_mutex);
    return m_error;
}

void OutputStream::log(const std::string& message)
{
    JsonLine line("log");
    line.addString("message", message);
    write(line);
}

} // namespace vyhost
