#include "math/erf.h"

#include <cmath>

namespace hair {
namespace {

// p[0] + p[1]x + ... over 1 + q[0]x + ...; coefficients are least-squares fits of the
// correction term of each range, accurate to a few 1e-9.
template <int NP, int NQ> inline float rational(const float (&p)[NP], const float (&q)[NQ], float x) {
    float num = p[NP - 1];
    for (int i = NP - 2; i >= 0; --i)
        num = num * x + p[i];
    float den = q[NQ - 1];
    for (int i = NQ - 2; i >= 0; --i)
        den = den * x + q[i];
    return num / (den * x + 1.0f);
}

// erf(x)/x - 1.0449486 as a function of x² on [0, 0.25].
constexpr float kErfSmallP[] = {0.08343056695f, -0.3415997463f, -0.03841661483f};
constexpr float kErfSmallQ[] = {0.4138364753f, 0.05275420249f};
// erfc(x)·x·exp(x²) - c on [0.5, 1.5), [1.5, 2.5), [2.5, 4.5) in x - start, and from 4.5 in 1/x.
constexpr float kErfc1P[] = {-0.09809058892f, 0.2130196182f, 0.1234364219f, 0.02686502755f};
constexpr float kErfc1Q[] = {1.49174819f, 0.8114761875f, 0.1664547292f};
constexpr float kErfc2P[] = {-0.02435007534f, 0.04853637166f, 0.02587305926f, 0.003815283942f};
constexpr float kErfc2Q[] = {1.134069216f, 0.4554843363f, 0.06597726319f};
constexpr float kErfc3P[] = {-0.01355908987f, 0.01263925027f, 0.006737453873f, 0.000752441823f};
constexpr float kErfc3Q[] = {0.9070482594f, 0.2861648289f, 0.03181674601f};
constexpr float kErfc4P[] = {0.006280595206f, 0.003258114862f, -0.2713757052f, -0.1514399762f};
constexpr float kErfc4Q[] = {0.5194105513f, 1.669595839f};

// erfInverse(y)/(y(y + 10)) - 0.089131474 on [0, 0.5].
constexpr float kInvSmallP[] = {-0.0005087845348f, -0.008266878361f, 0.03464960998f, -0.0269682699f};
constexpr float kInvSmallQ[] = {-1.169228011f, -0.4210483998f, 0.5496824159f};
// √(-2 ln q)/erfInverse(1 - q) - 2.2494812 in q - 0.25, q in [0.25, 0.5).
constexpr float kInvMidP[] = {-0.2024334893f, 1.113071787f, 3.021948067f, -1.278987835f};
constexpr float kInvMidQ[] = {1.26414427f, -3.27257619f, 0.3113118411f};
// erfInverse(1 - q)/r - c with r = √(-ln q), in r - r0 for the tail ranges.
constexpr float kInvTail1P[] = {-0.1311026676f, 0.1336255469f, 0.09736078657f, 0.008716138417f};
constexpr float kInvTail1Q[] = {1.197629937f, 0.502654533f, 0.04571931178f};
constexpr float kInvTail2P[] = {-0.03503536748f, 0.0214338958f, 0.00904298824f, 0.0006333789896f};
constexpr float kInvTail2Q[] = {0.690070511f, 0.1545292877f, 0.0104838177f};
constexpr float kInvTail3P[] = {-0.01674315652f, 0.004062923052f, 0.0003263966422f, -1.716187795e-7f};
constexpr float kInvTail3Q[] = {0.2813266474f, 0.01921842684f};

} // namespace

float erf(float x) {
    if (x < 0.0f) return -erf(-x);
    if (x < 0.5f) {
        if (x == 0.0f) return 0.0f;
        if (x < 1e-10f) return 1.1283792f * x;
        return x * (1.0449486f + rational(kErfSmallP, kErfSmallQ, x * x));
    }
    float c;
    if (x < 1.5f)
        c = 0.40593576f + rational(kErfc1P, kErfc1Q, x - 0.5f);
    else if (x < 2.5f)
        c = 0.5067282f + rational(kErfc2P, kErfc2Q, x - 1.5f);
    else if (x < 4.5f)
        c = 0.540575f + rational(kErfc3P, kErfc3Q, x - 2.5f);
    else
        c = 0.557909f + rational(kErfc4P, kErfc4Q, 1.0f / x);
    return 1.0f - std::exp(-x * x) / x * c;
}

float erfInverse(float y) {
    if (y < 0.0f) return -erfInverse(-y);
    if (y <= 0.5f) return y * (y + 10.0f) * (0.089131474f + rational(kInvSmallP, kInvSmallQ, y));
    float q = 1.0f - y;
    if (q >= 0.25f) {
        float g = std::sqrt(-2.0f * std::log(q));
        return g / (2.2494812f + rational(kInvMidP, kInvMidQ, q - 0.25f));
    }
    // y >= 1 (or NaN) stays finite; the floor also bounds r by √(-ln 1e-38) < 9.4, so the
    // three tail ranges cover every float.
    q = std::fmax(q, 1e-38f);
    float r = std::sqrt(-std::log(q));
    float c;
    if (r < 3.0f)
        c = 0.80722046f + rational(kInvTail1P, kInvTail1Q, r - 1.125f);
    else if (r < 6.0f)
        c = 0.9399557f + rational(kInvTail2P, kInvTail2Q, r - 3.0f);
    else
        c = 0.9836283f + rational(kInvTail3P, kInvTail3Q, r - 6.0f);
    return r * c;
}

} // namespace hair
