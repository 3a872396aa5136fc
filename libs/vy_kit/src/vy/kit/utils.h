#pragma once

#include <string>

namespace vy::kit::utils {

/** The text in double quotes with C escapes (\", \\, \n, \r, \t, \xHH); "null" for null. */
std::string toString(const char* text);
std::string toString(const std::string& text);

/** The address in hexadecimal ("0x7f..."); "null" for null. */
std::string toString(const void* pointer);

} // namespace vy::kit::utils
