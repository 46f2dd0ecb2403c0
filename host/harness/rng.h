// Seeded random numbers: a 64-bit mixing hash and a small splitmix generator. The renderer gives
// every pixel sample a stream derived from (seed, pixel, sample), so images do not depend on
// which thread renders which tile; the estimators and tests use the same generator.
#pragma once
#include <cstdint>

namespace harness {

inline std::uint64_t mix64(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class Rng {
  public:
    explicit Rng(std::uint64_t seed = 0) : state_(mix64(seed)) {}
    // A generator started at this exact state.
    static Rng fromState(std::uint64_t state) {
        Rng r;
        r.state_ = state;
        return r;
    }
    Rng(std::uint64_t seed, std::uint64_t stream)
        : state_(mix64(mix64(seed) ^ (stream * 0xD1B54A32D192ED03ull))) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1): the top 24 bits, so the result is never rounded up to 1.
    float uniform() { return static_cast<float>(next() >> 40) * (1.0f / 16777216.0f); }
    // Uniform in [0, 1) with 53 bits.
    double uniformDouble() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

  private:
    std::uint64_t state_;
};

} // namespace harness
