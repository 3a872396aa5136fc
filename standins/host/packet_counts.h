#pragma once

#include <atomic>
#include <cstdint>

#include "host/metadata_json.h"

namespace vyhost {

// Metadata packets received from every camera, by kind; counted on the plug-in's threads.
struct PacketCounts
{
    std::atomic<int64_t> objects{0};
    std::atomic<int64_t> events{0};
    std::atomic<int64_t> bestShot{0};
    std::atomic<int64_t> unknown{0};
    std::atomic<int64_t> manifests{0};

    void count(PacketKind kind)
    {
        switch (kind)
        {
            case PacketKind::objects: ++objects; break;
            case PacketKind::events: ++events; break;
            case PacketKind::bestShot: ++bestShot; break;
            case PacketKind::unknown: ++unknown; break;
        }
    }
};

} // namespace vyhost
