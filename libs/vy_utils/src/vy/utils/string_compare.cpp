#include "vy/utils/string_compare.h"

#include <algorithm>

namespace vy::utils {

namespace {

unsigned char foldCase(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

} // namespace

int stricmp(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
    {
        const int difference = int{foldCase(a[i])} - int{foldCase(b[i])};
        if (difference != 0)
            return difference;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace vy::utils
