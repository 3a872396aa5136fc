#include "foundations/time_helpers.h"

#include <ctime>
#include <locale.h>

#include "foundations/log.h"

namespace vyai {

namespace {

// Month and day names ("%a, %d %b" of HTTP dates) are English whatever locale the host runs in.
locale_t classicLocale()
{
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

} // namespace

std::optional<int64_t> parseTimeString(const std::string& text, const std::string& format)
{
    // strptime, unlike std::get_time of this standard library, fails on a text that ends before
    // the format does; text after the format (a "Z", fractions of a second) is ignored.
    std::tm fields{};
    const locale_t locale = classicLocale();
    if (!locale || !::strptime_l(text.c_str(), format.c_str(), &fields, locale)) {
        logError("Error! Failed to parse string to time: %s\n", text.c_str());
        return std::nullopt;
    }
    return static_cast<int64_t>(::timegm(&fields));
}

} // namespace vyai
