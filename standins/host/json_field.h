#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <common/json_text.h>
#include <vy/sdk/helpers/uuid.h>

namespace vyhost {

/** A uuid as vyhost writes it: "{8d1e3c4a-0b5f-...}". */
inline std::string bracedUuid(const vy::sdk::Uuid& uuid)
{
    using vy::sdk::UuidFormatOptions;
    return vy::sdk::uuidToString(uuid, UuidFormatOptions::hyphens | UuidFormatOptions::braces);
}

// A malformed field; thrown by Field, caught where the whole document is read.
struct FieldError
{
    std::string message;
};

// One JSON value with the path that leads to it, for error messages.
class Field
{
public:
    Field(yyjson_val* value, std::string path): m_value(value), m_path(std::move(path)) {}

    yyjson_val* value() const { return m_value; }
    bool isNull() const { return yyjson_is_null(m_value); }

    [[noreturn]] void fail(const std::string& what) const
    {
        throw FieldError{(m_path.empty() ? std::string("the scenario") : m_path) + ": " + what};
    }

    /** A member; the field is an object whose members are all among `known`. */
    Field member(const char* key) const { return Field(yyjson_obj_get(m_value, key), childPath(key)); }
    bool has(const char* key) const { return yyjson_obj_get(m_value, key) != nullptr; }

    void expectObject(std::initializer_list<const char*> known) const
    {
        if (!yyjson_is_obj(m_value))
            fail("must be an object");
        yyjson_obj_iter iter = yyjson_obj_iter_with(m_value);
        while (yyjson_val* key = yyjson_obj_iter_next(&iter))
        {
            const std::string_view name = yyjson_get_str(key);
            if (std::find(known.begin(), known.end(), name) == known.end())
                Field(nullptr, childPath(std::string(name))).fail("unknown field");
        }
    }

    /** An object of any members. */
    void expectObjectLoosely() const
    {
        if (!yyjson_is_obj(m_value))
            fail("must be an object");
    }

    std::vector<Field> items() const
    {
        if (!yyjson_is_arr(m_value))
            fail("must be an array");
        std::vector<Field> result;
        size_t index = 0;
        size_t count = 0;
        yyjson_val* item = nullptr;
        yyjson_arr_foreach(m_value, index, count, item)
            result.emplace_back(item, m_path + "[" + std::to_string(index) + "]");
        return result;
    }

    std::vector<std::pair<std::string, Field>> members() const
    {
        if (!yyjson_is_obj(m_value))
            fail("must be an object");
        std::vector<std::pair<std::string, Field>> result;
        yyjson_obj_iter iter = yyjson_obj_iter_with(m_value);
        while (yyjson_val* key = yyjson_obj_iter_next(&iter))
        {
            std::string name = yyjson_get_str(key);
            result.emplace_back(name, Field(yyjson_obj_iter_get_val(key), childPath(name)));
        }
        return result;
    }

    std::string text() const
    {
        if (!yyjson_is_str(m_value))
            fail("must be a text");
        return std::string(yyjson_get_str(m_value), yyjson_get_len(m_value));
    }

    std::string nonEmptyText() const
    {
        std::string value = text();
        if (value.empty())
            fail("must not be empty");
        return value;
    }

    /** A text, or null for "none". */
    std::optional<std::string> optionalText() const
    {
        if (isNull())
            return std::nullopt;
        return text();
    }

    bool boolean() const
    {
        if (!yyjson_is_bool(m_value))
            fail("must be true or false");
        return yyjson_get_bool(m_value);
    }

    double number(double low, double high) const
    {
        if (!yyjson_is_num(m_value))
            fail("must be a number");
        const double value = yyjson_get_num(m_value);
        if (!std::isfinite(value) || value < low || value > high)
            fail("must be from " + formatted(low) + " to " + formatted(high));
        return value;
    }

    int64_t integer(int64_t low, int64_t high) const
    {
        if (!yyjson_is_int(m_value))
            fail("must be a whole number");
        // A number above the signed range is out of range as well.
        const int64_t value = yyjson_get_sint(m_value);
        if (yyjson_is_uint(m_value) && yyjson_get_uint(m_value) > (uint64_t) INT64_MAX)
            fail("must be from " + std::to_string(low) + " to " + std::to_string(high));
        if (value < low || value > high)
            fail("must be from " + std::to_string(low) + " to " + std::to_string(high));
        return value;
    }

    /** A text, number or true/false as the text a settings value or ini option holds. */
    std::string scalarText(const char* trueText, const char* falseText) const
    {
        if (yyjson_is_str(m_value))
            return text();
        if (yyjson_is_bool(m_value))
            return yyjson_get_bool(m_value) ? trueText : falseText;
        if (yyjson_is_num(m_value))
        {
            vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
            yyjson_mut_doc_set_root(doc.get(), yyjson_val_mut_copy(doc.get(), m_value));
            return vy::standins::toCompactText(doc.get());
        }
        fail("must be a text, a number or true/false");
    }

    /** The value as compact JSON text. */
    std::string jsonText() const
    {
        vy::standins::MutableJsonDoc doc = vy::standins::newJsonDoc();
        yyjson_mut_doc_set_root(doc.get(), yyjson_val_mut_copy(doc.get(), m_value));
        return vy::standins::toCompactText(doc.get());
    }

    std::string uuid() const
    {
        const std::string value = text();
        const vy::sdk::Uuid parsed = vy::sdk::uuidFromString(value);
        if (parsed.isNull())
            fail("must be a uuid such as {8d1e3c4a-0b5f-4c2e-9a7d-2f6b1e0c9d3a}");
        return bracedUuid(parsed);
    }

private:
    static std::string formatted(double value)
    {
        std::string text = std::to_string(value);
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
        return text;
    }

    std::string childPath(const std::string& key) const
    {
        return m_path.empty() ? key : m_path + "." + key;
    }

    yyjson_val* m_value;
    std::string m_path;
};

} // namespace vyhost
