#include "vy/sdk/helpers/convert_string_map.h"

#include <vy/kit/print.h>
#include <vy/kit/utils.h>

namespace vy::sdk {

using kit::debug::detail::Print;

bool convertStringMap(const OutputSettings& output,
    std::map<std::string, std::string>& destination, const IStringMap* source,
    const std::string& caption, int32_t indentation)
{
    const std::string& prefix = output.printPrefix();
    if (!source)
    {
        Print() << prefix << "ERROR: stringMap is null";
        return false;
    }
    const int32_t count = source->count();
    if (count < 0)
    {
        Print() << prefix << "ERROR: " << caption << ": count is " << count;
        return false;
    }

    if (output.enableOutput())
    {
        const std::string indent(indentation > 0 ? indentation : 0, ' ');
        if (!caption.empty())
            Print() << prefix << indent << caption << ":";
        Print() << prefix << indent << "{";
        for (int32_t i = 0; i < count; ++i)
        {
            Print() << prefix << indent << "    " << kit::utils::toString(source->key(i))
                << ": " << kit::utils::toString(source->value(i))
                << (i + 1 < count ? "," : "");
        }
        Print() << prefix << indent << "}";
    }

    for (int32_t i = 0; i < count; ++i)
    {
        const char* key = source->key(i);
        const char* value = source->value(i);
        if (key)
            destination[key] = value ? value : "";
    }
    return true;
}

} // namespace vy::sdk
