#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <type_traits>

namespace vy::sdk {

/**
 * 16 bytes in the order of the text form; all zero is the null Uuid. Passed by value
 * across the host boundary. Text forms and generation: <vy/sdk/helpers/uuid.h>.
 */
struct Uuid
{
    std::array<uint8_t, 16> bytes{};

    bool isNull() const { return *this == Uuid{}; }

    bool operator==(const Uuid&) const = default;
    auto operator<=>(const Uuid&) const = default;
};

static_assert(sizeof(Uuid) == 16 && std::is_trivially_copyable_v<Uuid>
    && std::is_standard_layout_v<Uuid>);

} // namespace vy::sdk
