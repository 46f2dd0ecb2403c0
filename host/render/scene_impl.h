// The renderer's scene internals: Embree objects and the per-segment strand data.
#pragma once
#include <embree3/rtcore.h>

#include <cstdint>
#include <vector>

#include "render/render.h"

namespace quor::render {

struct Scene::Impl {
    struct Group {
        PluginBase* instance = nullptr;
        unsigned geomID = RTC_INVALID_GEOMETRY_ID;
        // Embree intersects round linear pieces, a few per segment, much faster than the
        // curves themselves; shading maps a hit back onto the smooth curve. All a hit needs of
        // its segment is here, in one cache line.
        struct alignas(64) Piece {
            unsigned v; // first of its two points in lineVerts (Embree's index buffer)
            int strand;
            unsigned seg;         // first control point of the segment it follows: names the segment
            unsigned first, last; // the strand's pieces (contiguous)
            float pos0, dpos;     // fractional position along the strand at its start, and its span
            float tangent[3][3];  // the curve's derivative at w across the piece: t0 + t1 w + t2 w²
        };
        struct StrandInfo {
            float length;
            Float3 color, transparency;
        };
        std::size_t segments = 0; // Catmull-Rom segments
        // Points on the curves, x, y, z, radius, strand after strand: the pieces' ends.
        std::vector<float> lineVerts;
        std::vector<Piece> pieces;
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
