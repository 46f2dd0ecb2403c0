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
            unsigned v0; // first of the segment's four control points
            int strand;
            float pos0, pos1; // fractional position along the strand at both ends
        };
        struct StrandInfo {
            float length;
            Float3 color, transparency;
        };
        // x, y, z, radius per control point; each strand's first and last point repeated so
        // that the Catmull-Rom curve runs from root to tip.
        std::vector<float> verts;
        std::vector<unsigned> index; // first control point of each segment (for Embree)
        std::vector<Segment> segs;
        std::vector<StrandInfo> strands;
        float maxRadius = 0;
        Bounds bounds;
    };

    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::vector<Group> groups;
    std::vector<int> geomToGroup; // geometry id -> group
    bool committed = false;
};

// A Catmull-Rom segment at u: centre, derivative and radius.
struct CurvePoint {
    Float3 center, tangent;
    float radius;
};
inline CurvePoint evalSegment(const float* p, float u) {
    // Basis weights for position and for the derivative.
    float u2 = u * u, u3 = u2 * u;
    float b[4] = {0.5f * (-u3 + 2 * u2 - u), 0.5f * (3 * u3 - 5 * u2 + 2), 0.5f * (-3 * u3 + 4 * u2 + u),
                  0.5f * (u3 - u2)};
    float d[4] = {0.5f * (-3 * u2 + 4 * u - 1), 0.5f * (9 * u2 - 10 * u), 0.5f * (-9 * u2 + 8 * u + 1),
                  0.5f * (3 * u2 - 2 * u)};
    CurvePoint c{{}, {}, 0};
    for (int k = 0; k < 4; ++k) {
        const float* q = p + 4 * k;
        Float3 v{q[0], q[1], q[2]};
        c.center = c.center + v * b[k];
        c.tangent = c.tangent + v * d[k];
        c.radius += q[3] * b[k];
    }
    return c;
}

} // namespace quor::render
