// The renderer's scene internals: Embree objects and the per-segment strand data.
#pragma once
#include <embree3/rtcore.h>

#include <vector>

#include "render/render.h"

namespace quor::render {

struct Scene::Impl {
    struct Group {
        PluginBase* instance = nullptr;
        unsigned geomID = RTC_INVALID_GEOMETRY_ID;
        // Packed so that a hit touches few cache lines.
        struct Segment {
            unsigned v0; // first control point
            int strand;
            float pos0, pos1; // fractional position along the strand at both ends
        };
        struct StrandInfo {
            float length;
            Float3 color, transparency;
        };
        std::vector<float> verts;    // x, y, z, radius per control point
        std::vector<unsigned> index; // first control point of each segment (for Embree)
        std::vector<Segment> segs;
        std::vector<StrandInfo> strands;
        float maxRadius = 0;
    };

    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::vector<Group> groups;
    std::vector<int> geomToGroup; // geometry id -> group
    bool committed = false;
};

} // namespace quor::render
