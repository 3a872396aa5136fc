#include "settings/settings_items.h"

namespace vyai {

namespace {

constexpr const char* kSupportPageUrl =
    "https://docs.vyai.example.com/support-and-troubleshooting/how-to-get-support";

} // namespace

JsonObjectBuilder appendBanner(JsonArrayBuilder& items, const char* icon, std::string_view text)
{
    JsonObjectBuilder banner = items.item("Banner");
    banner.text("icon", icon).text("text", text);
    return banner;
}

JsonObjectBuilder appendButton(JsonArrayBuilder& items, std::string_view name,
    std::string_view caption, const char* description)
{
    JsonObjectBuilder button = items.item("Button");
    // The host takes "isActive" as text.
    button.text("name", name).text("caption", caption).text("description", description)
        .text("isActive", "true");
    return button;
}

void appendTroubleshootingLink(JsonArrayBuilder& items)
{
    items.item("Link").text("caption", "Troubleshooting Docs").text("url", kSupportPageUrl);
}

} // namespace vyai
