#include "vy/network/http/response.h"

#include <vy/utils/string_compare.h>

namespace vy::network::http {

std::string getHeaderValue(const HttpHeaders& headers, const std::string& name)
{
    for (const auto& [headerName, value]: headers)
    {
        if (vy::utils::stricmp(headerName, name) == 0)
            return value;
    }
    return {};
}

} // namespace vy::network::http
