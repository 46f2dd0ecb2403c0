// How densely a groom packs its strands: the hair volume fraction, height by height.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "render/render.h"

namespace quor::render {

namespace {

float heightOf(Float3 p, Growth growth) { return growth == Growth::Down ? -p.y : std::sqrt(dot(p, p)); }

Float3 pointAt(const Strand& s, std::size_t k) {
    return {s.points[4 * k], s.points[4 * k + 1], s.points[4 * k + 2]};
}

} // namespace

float densityCell(const std::vector<Strand>& strands) {
    float thickest = 0;
    for (const Strand& s : strands)
        for (std::size_t k = 3; k < s.points.size(); k += 4)
            thickest = std::max(thickest, s.points[k]);
    return 4 * 2 * thickest;
}

std::vector<float> volumeFractions(const std::vector<Strand>& strands, Growth growth, int slabs, float cell) {
    // The body of the groom: from the last root to the first tip, where every strand is present.
    float lo = -1e30f, hi = 1e30f;
    bool any = false;
    for (const Strand& s : strands) {
        std::size_t n = s.points.size() / 4;
        if (n < 2) continue;
        any = true;
        lo = std::max(lo, heightOf(pointAt(s, 0), growth));
        hi = std::min(hi, heightOf(pointAt(s, n - 1), growth));
    }
    if (!any || !(hi > lo) || slabs < 1 || !(cell > 0)) return {};
    // Every strand sampled at a quarter of a cell; each sample leaves its piece of the strand's
    // volume (cross-section × length) in the cell it falls in.
    auto key = [&](Float3 p) {
        auto i = [&](float v) {
            return static_cast<std::uint64_t>(static_cast<std::int64_t>(std::floor(v / cell)) + (1 << 20)) &
                   0x1fffff;
        };
        return i(p.x) | i(p.y) << 21 | i(p.z) << 42;
    };
    std::unordered_map<std::uint64_t, double> volume;
    for (const Strand& s : strands) {
        std::size_t n = s.points.size() / 4;
        for (std::size_t k = 0; k + 1 < n; ++k) {
            Float3 a = pointAt(s, k), b = pointAt(s, k + 1);
            float ra = s.points[4 * k + 3], rb = s.points[4 * k + 7];
            Float3 d = b - a;
            float len = std::sqrt(dot(d, d));
            int steps = std::max(1, static_cast<int>(std::ceil(len / (0.25f * cell))));
            for (int j = 0; j < steps; ++j) {
                float t = (j + 0.5f) / steps, r = ra + (rb - ra) * t;
                volume[key(a + d * t)] += double(kPi) * r * r * len / steps;
            }
        }
    }
    std::vector<double> filled(slabs, 0.0), cells(slabs, 0.0);
    for (auto& [k, v] : volume) {
        auto c = [&](int shift) {
            return (static_cast<float>(static_cast<std::int64_t>((k >> shift) & 0x1fffff) - (1 << 20)) +
                    0.5f) *
                   cell;
        };
        float h = heightOf({c(0), c(21), c(42)}, growth);
        if (h < lo || h >= hi) continue;
        int slab = std::min(slabs - 1, static_cast<int>((h - lo) / (hi - lo) * slabs));
        filled[slab] += v;
        cells[slab] += 1;
    }
    std::vector<float> out(slabs, 0.0f);
    const double cellVolume = double(cell) * cell * cell;
    for (int i = 0; i < slabs; ++i)
        out[i] = cells[i] > 0 ? static_cast<float>(filled[i] / (cells[i] * cellVolume)) : 0.0f;
    return out;
}

} // namespace quor::render
