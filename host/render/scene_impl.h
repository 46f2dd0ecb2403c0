// The renderer's scene internals: Embree objects and the per-segment strand data.
#pragma once
#include <embree3/rtcore.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include <sys/mman.h>

#include "render/render.h"

namespace quor::render {

// Storage for a group's large arrays. They are left uninitialised when sized, since the strands
// fill every element side by side, and an array of 2 MB or more asks for 2 MB pages: a large
// groom's arrays are hundreds of MB, and touching them in 4 kB pages costs more than filling them.
template <class T> struct BigAllocator {
    using value_type = T;
    static constexpr std::size_t kHuge = std::size_t{2} << 20;
    BigAllocator() = default;
    template <class U> BigAllocator(const BigAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        std::size_t bytes = n * sizeof(T),
                    align = bytes >= kHuge ? kHuge : std::max<std::size_t>(alignof(T), 16);
        bytes = (bytes + align - 1) / align * align;
        void* p = std::aligned_alloc(align, bytes);
        if (!p) throw std::bad_alloc();
        if (align == kHuge) madvise(p, bytes, MADV_HUGEPAGE); // a hint: 4 kB pages if refused
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A> void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
    template <class U> bool operator==(const BigAllocator<U>&) const noexcept { return true; }
};
template <class T> using BigArray = std::vector<T, BigAllocator<T>>;

struct Scene::Impl {
    struct Group {
        PluginBase* instance = nullptr;
        unsigned geomID = RTC_INVALID_GEOMETRY_ID;
        // Embree intersects round linear pieces, a few per segment, much faster than the
        // curves themselves; shading maps a hit back onto the smooth curve. A piece names its
        // segment and where it lies on it; two pieces share a cache line.
        struct alignas(32) Piece {
            unsigned v; // first of its two points in lineVerts (Embree's index buffer)
            int strand;
            unsigned seg;     // first of the segment's four points in curveVerts: names the segment
            float pos0, dpos; // fractional position along the strand at its start, and its span
            float u0, du;     // the segment's parameter at its start, and its span
        };
        struct StrandInfo {
            float length;
            Float3 color, transparency;
            unsigned first, last; // its pieces (contiguous)
            unsigned source;      // its place in the groom as given, which shading sees
        };
        std::size_t segments = 0; // Catmull-Rom segments
        // Points on the curves, x, y, z, radius, strand after strand: the pieces' ends.
        BigArray<float> lineVerts;
        // The curves' control points, x, y, z, radius, each strand's first and last point
        // repeated so that its Catmull-Rom curve runs from root to tip.
        BigArray<float> curveVerts;
        // Colours of those points, 3 floats each, when a strand of the group has its own.
        BigArray<float> curveColors;
        BigArray<Piece> pieces;
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
