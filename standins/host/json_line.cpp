#include "host/json_line.h"

#include <cstdlib>

namespace vyhost {

JsonLine::JsonLine(const char* type):
    m_doc(yyjson_mut_doc_new(nullptr)),
    m_root(yyjson_mut_obj(m_doc))
{
    yyjson_mut_doc_set_root(m_doc, m_root);
    yyjson_mut_obj_add_str(m_doc, m_root, "type", type);
}

JsonLine::~JsonLine()
{
    yyjson_mut_doc_free(m_doc);
}

void JsonLine::addString(const char* key, const std::string& value)
{
    yyjson_mut_obj_add_strncpy(m_doc, m_root, key, value.data(), value.size());
}

void JsonLine::addJsonText(const char* key, const std::string& text)
{
    yyjson_doc* parsed = yyjson_read(text.data(), text.size(), 0);
    yyjson_mut_val* value =
        parsed ? yyjson_val_mut_copy(m_doc, yyjson_doc_get_root(parsed)) : nullptr;
    yyjson_doc_free(parsed);
    if (value)
        yyjson_mut_obj_add_val(m_doc, m_root, key, value);
    else
        addString(key, text);
}

std::string JsonLine::text() const
{
    size_t length = 0;
    char* json = yyjson_mut_write(m_doc, 0, &length);
    if (!json)
        return "{}";
    std::string result(json, length);
    std::free(json);
    return result;
}

void OutputStream::write(const JsonLine& line)
{
    std::string text = line.text();
    text += '\n';
    const std::lock_guard lock(m_mutex);
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fflush(m_out);
}

void OutputStream::log(const std::string& message)
{
    JsonLine line("log");
    line.addString("message", message);
    write(line);
}

} // namespace vyhost
