// Deterministic random streams along and across hair strands.
//
// StrandRandom is a small xorshift generator whose output is the low word of the state times
// an odd multiplier. Seeded from the strand index it gives every point of a strand (on every
// thread) the same per-strand values. StrandSegments cuts a strand into segments between
// random events; each cell of length L along the strand owns a stream seeded with its index,
// so the pattern depends only on the strand and the distance along it.
#pragma once
#include <cmath>
#include <cstdint>

namespace hair {

class StrandRandom {
  public:
    static constexpr std::uint64_t kMultiplier = 0x6A5D39EAE116586Dull;
    static constexpr std::uint64_t kSeedMask = 0x38ECAC5FB3251675ull;

    StrandRandom() = default;
    explicit StrandRandom(std::int64_t seed) {
        s_ = kSeedMask ^ static_cast<std::uint64_t>(seed);
        step();
        s_ *= kMultiplier;
        step();
    }
    // The stream of a strand: seeded with index × 1024, a 32-bit product sign-extended.
    static StrandRandom forStrand(int strandIndex) { return StrandRandom(strandBase(strandIndex)); }
    static std::int64_t strandBase(int strandIndex) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(strandIndex) * 1024u);
    }

    void step() {
        s_ ^= s_ >> 20;
        s_ ^= s_ << 41;
        s_ ^= s_ >> 5;
    }
    // The output of the current state, without stepping.
    float peek() const {
        return static_cast<float>(static_cast<std::uint32_t>(s_ * kMultiplier)) * 2.3283064e-10f;
    }
    // Steps, then returns a value in [0, 1].
    float next() {
        step();
        return peek();
    }
    std::uint64_t state() const { return s_; }

  private:
    std::uint64_t s_ = 0;
};

// One segment of a strand between two events, and the stream that belongs to it.
struct StrandSegment {
    float start = 0, end = 0;
    StrandRandom stream;

    // The weight of the segment ends at d: 1 at an end, falling to 0 over the last f of a
    // band of width w; 0 outside both bands.
    float endWeight(float d, float w, float f) const {
        float e1 = d - start, e2 = end - d, e;
        if (e1 < w)
            e = e1;
        else if (e2 < w)
            e = e2;
        else
            return 0.0f;
        if (e <= w - f) return 1.0f;
        return 1.0f - (e - (w - f)) / f;
    }
    // Value a near the ends, fading over f into b0 (c = 0) or b1 (c = 1) inside.
    float blend(float d, float c, float w, float f, float a, float b0, float b1) const {
        float x = endWeight(d, w, f);
        return a * x + (1.0f - x) * ((1.0f - c) * b0 + c * b1);
    }
};

class StrandSegments {
  public:
    // Finds the segment around position d. Cells hold an event when their stream's first
    // output exceeds tau; an event lies at k·L + u·j·L.
    static StrandSegment find(std::int64_t base, float d, float cellLength, float jitter, float tau) {
        // Positions beyond any real strand lose all precision; keep the search finite.
        if (!(std::fabs(d) < 1e9f)) d = 0.0f;
        // floor(d / L) without the library call: |d / L| stays far below 2^63.
        const float q = d / cellLength;
        std::int64_t k0 = static_cast<std::int64_t>(q);
        if (static_cast<float>(k0) > q) --k0;
        StrandSegment seg;
        bool found = false;
        float pos;
        // The cell of d is looked at once and serves both searches.
        float pos0;
        const bool has0 = event(base, k0, cellLength, jitter, tau, pos0);
        for (std::int64_t k = k0; k >= -1; --k) {
            const bool has = k == k0 ? has0 : event(base, k, cellLength, jitter, tau, pos);
            if (k == k0) pos = pos0;
            if (has && pos < d) {
                seg.start = pos;
                found = true;
                break;
            }
        }
        if (!found) {
            event(base, -1, cellLength, jitter, tau, pos);
            seg.start = pos;
        }
        std::int64_t k = k0;
        pos = pos0;
        // An empty cell is rare (probability tau); the bound only guards float stagnation.
        for (int n = 0; n < 4096; ++n, ++k) {
            if (k == k0 ? has0 && pos0 > d : event(base, k, cellLength, jitter, tau, pos) && pos > d) break;
        }
        if (k == k0) pos = pos0;
        seg.end = pos;
        seg.stream = StrandRandom(base + k + 1);
        seg.stream.step();
        return seg;
    }

  private:
    static bool event(std::int64_t base, std::int64_t k, float cellLength, float jitter, float tau,
                      float& pos) {
        StrandRandom r(base + k);
        bool has = r.peek() > tau;
        float u = r.next();
        pos = static_cast<float>(k) * cellLength + u * jitter * cellLength;
        return has;
    }
};

} // namespace hair
