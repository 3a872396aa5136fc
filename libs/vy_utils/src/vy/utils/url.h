#pragma once

#include <string>
#include <utility>

namespace vy {

// An absolute URL as the network library takes it. The text is kept as given;
// the HTTP client checks it when a request is made.
class Url
{
public:
    Url() = default;
    explicit Url(std::string text): m_text(std::move(text)) {}

    const std::string& toString() const { return m_text; }

private:
    std::string m_text;
};

} // namespace vy
