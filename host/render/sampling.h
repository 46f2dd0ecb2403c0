// Per-pixel sample points: the first two Sobol dimensions, Owen-scrambled with a hash, padded to
// any number of dimensions by giving each pair of dimensions its own scramble and its own
// shuffle of the sample index. Every pixel draws its own scrambles, so neighbouring pixels are
// decorrelated while the spp points of one pixel stay stratified in each pair.
#pragma once
#include <array>
#include <cstdint>

#include "harness/rng.h"

namespace quor::render {

inline std::uint32_t reverseBits(std::uint32_t x) {
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
    return __builtin_bswap32(x);
}

// Hash-based Owen scrambling (a Laine-Karras style permutation on reversed bits).
inline std::uint32_t owenScramble(std::uint32_t x, std::uint32_t seed) {
    x = reverseBits(x);
    x += seed;
    x ^= x * 0x6c50b47cu;
    x ^= x * 0xb82f1e52u;
    x ^= x * 0xc7afe638u;
    x ^= x * 0x8d22f6e6u;
    return reverseBits(x);
}

inline std::uint32_t sobol0(std::uint32_t i) { return reverseBits(i); }
// The second Sobol dimension is linear over XOR in the index's bits: its generator matrix applied
// a byte at a time from tables (a bit-serial loop over a scrambled 32-bit index mispredicts).
namespace detail {
constexpr std::array<std::array<std::uint32_t, 256>, 4> sobol1Tables() {
    std::array<std::uint32_t, 32> column{};
    std::uint32_t v = 1u << 31;
    for (auto& c : column) {
        c = v;
        v ^= v >> 1;
    }
    std::array<std::array<std::uint32_t, 256>, 4> t{};
    for (int k = 0; k < 4; ++k)
        for (int b = 0; b < 256; ++b)
            for (int j = 0; j < 8; ++j)
                if (b >> j & 1) t[k][b] ^= column[8 * k + j];
    return t;
}
inline constexpr auto kSobol1 = sobol1Tables();
} // namespace detail
inline std::uint32_t sobol1(std::uint32_t i) {
    return detail::kSobol1[0][i & 0xFF] ^ detail::kSobol1[1][i >> 8 & 0xFF] ^
           detail::kSobol1[2][i >> 16 & 0xFF] ^ detail::kSobol1[3][i >> 24];
}

inline float toUnit(std::uint32_t x) {
    float f = static_cast<float>(x >> 8) * (1.0f / 16777216.0f);
    return f < 1 ? f : 0.99999994f;
}

// The sample points of one pixel sample. Dimensions are asked for in pairs; a path event asks
// for the same pair ids in every sample of the pixel, so each use is stratified on its own.
class PixelSampler {
  public:
    PixelSampler(std::uint64_t seed, std::uint64_t pixel, std::uint32_t index)
        : seed_(harness::mix64(seed ^ harness::mix64(pixel))), index_(index) {}

    void get2D(std::uint32_t pair, float& u, float& v) const {
        std::uint64_t h = harness::mix64(seed_ + pair * 0x9E3779B97F4A7C15ull);
        std::uint32_t i = owenScramble(index_, static_cast<std::uint32_t>(h));
        u = toUnit(owenScramble(sobol0(i), static_cast<std::uint32_t>(h >> 32)));
        v = toUnit(owenScramble(sobol1(i), static_cast<std::uint32_t>(harness::mix64(h))));
    }
    float get1D(std::uint32_t pair) const {
        float u, v;
        get2D(pair, u, v);
        return u;
    }

  private:
    std::uint64_t seed_;
    std::uint32_t index_;
};

} // namespace quor::render
