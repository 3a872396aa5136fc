#pragma once

#include <string_view>

namespace vy::utils {

// Compares ASCII letters without regard to case (HTTP header names, for
// example); other bytes compare as unsigned values. Returns < 0, 0 or > 0
// like strcmp. Independent of the C locale.
int stricmp(std::string_view a, std::string_view b);

} // namespace vy::utils
