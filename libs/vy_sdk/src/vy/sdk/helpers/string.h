#pragma once

#include <string>
#include <utility>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_string.h>

namespace vy::sdk {

class String: public RefCountable<IString>
{
public:
    String() = default;
    explicit String(std::string text): m_text(std::move(text)) {}

    const char* str() const override { return m_text.c_str(); }

private:
    std::string m_text;
};

} // namespace vy::sdk
