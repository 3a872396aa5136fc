#pragma once

#include <type_traits>

namespace vy::sdk::analytics {

/** A box in the units of post-processing; all four -1.0 stands for no box. */
struct BoundingBox
{
    float x = -1.0F;
    float y = -1.0F;
    float width = -1.0F;
    float height = -1.0F;

    bool operator==(const BoundingBox&) const = default;
};

static_assert(sizeof(BoundingBox) == 16 && std::is_trivially_copyable_v<BoundingBox>
    && std::is_standard_layout_v<BoundingBox>);

} // namespace vy::sdk::analytics
