// Lobe shapes and lookup tables of the artist-friendly hair model.
//
// Three Gaussian lobes in the longitudinal half angle θh: R (primary specular), TRT
// (secondary specular) and TT (transmission, with a second Gaussian in the azimuth about
// φ = π). They are normalised numerically, per width and view, into LobeTable cells that
// render threads fill lazily; tabulated cumulative distributions along the strand drive the
// importance sampling of the lobes and of the diffuse term.
//
// Angles: T is the unit strand tangent, L points towards the light and V is the viewing ray
// (towards the surface). sin θi = L·T, sin θo = -(V·T); φ is the angle between L and -V
// projected onto the plane normal to T, in [0, π]. θh = (θi + θo)/2, θd = (θo - θi)/2.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>

#include "math/asin_lanes.h"
#include "math/double_eval.h"
#include "math/fast_math.h"
#include "math/numeric.h"
#include "math/vec4.h"

namespace hair {

constexpr float kInvSqrtTwoPi = 0.3989423f;

// Normal density with standard deviation sigma at x; 0 for sigma below 1e-6.
float gaussian(float sigma, float x);

// The angles of a light/view pair about a strand.
struct AngleSet {
    bool degenerate = true; // light or view within 1e-6 of the strand axis
    float sinThetaI = 0, sinThetaO = 0, cosPhi = 0;
    float thetaI = 0, thetaO = 0, phi = 0, thetaH = 0, thetaD = 0;
    float cosHalfPhi = 0; // cos(φ/2)
    float cosThetaI = 0;
    float cosThetaD2 = 1; // cos² θd
};

// The angle set with the scalar library trigonometry.
AngleSet angleSet(Vec4 L, Vec4 V, Vec4 T);

// Raw R/TRT shape G(σ, θh)·cos(φ/2)·cos θi/cos² θd, with the 1e18 guard on the divisor.
float shapePrimary(float sigma, const AngleSet& a);
// Raw TT shape G(σL, θh)·G(σW, π - φ)·cos θi/cos² θd (no guard).
float shapeTransmission(float sigmaL, float sigmaW, const AngleSet& a);

// The width of a lookup cell along one axis and the cell of a width: a = floor(√σ·(n - 1)).
inline float cellWidth(int index, int size) {
    float w = size > 1 ? float(index) / float(size - 1) : 0.0f;
    return w * w;
}
// floor(x) clamped to [0, size - 1]; NaN gives 0.
inline int cellIndex(float x, int size) {
    if (!(x > 0.0f)) return 0;
    if (x >= float(size - 1)) return size - 1;
    return int(x);
}

// A grid of lazily computed normalisation values plus one cumulative distribution per
// (a, b) row. Value cells hold 0 until computed; a computed cell is never 0 (an empty
// integral stores 1e-12). The fill is deterministic, so threads racing on a cell store the
// same bits; cells are relaxed atomics, so the race is benign and invisible to sanitizers.
class LobeTable {
  public:
    enum class Kind { Primary, Transmission, Diffuse };
    static constexpr int kCdfSamples = 50;
    static constexpr int kNormSamples = 10000;

    LobeTable() = default;
    ~LobeTable();
    LobeTable(const LobeTable&) = delete;
    LobeTable& operator=(const LobeTable&) = delete;

    // Allocates the zeroed value grid and fills every distribution row. Idempotent.
    void build(Kind kind, int sizeA, int sizeB, int sizeC);

    // The normalisation of the cell for (σ, σW, |V·T|), computed first when still 0.
    float normalisation(float sigma, float sigmaW, float absVT);
    float normalisation(float sigma, float absVT) { return normalisation(sigma, 0.0f, absVT); }

    // Density over t = (x + 1)/2 of the distribution row chosen by σ and the view coordinate
    // v, at the along-strand coordinate x.
    float rowSlope(float sigma, float v, float x) const;

    struct RowSample {
        float z;       // along-strand coordinate in [-1, 1]
        float density; // rowSlope at the sample
    };
    // Inverts the row's distribution at u.
    RowSample sampleRow(float u, float sigma, float v) const { return sampleRow(chooseRow(sigma, v), u); }

    // The row (or the blend of two rows) that a width and view coordinate select; a shading
    // point keeps the rows of its widths and view.
    struct Row {
        const float* r0 = nullptr;
        const float* r1 = nullptr; // null: r0 alone
        float f = 0.0f;
        float operator[](int k) const { return r1 ? (1.0f - f) * r0[k] + f * r1[k] : r0[k]; }
    };
    Row chooseRow(float sigma, float v) const;
    RowSample sampleRow(const Row& row, float u) const;
    // The cdfSamples() values of a row, blended where it is a blend.
    void rowValues(const Row& row, float* out) const;
    // Inverts a distribution of cdfSamples() values at u: the row's values as rowValues gives
    // them, so that a shading point blends its rows once.
    RowSample sampleCdf(const float* row, float u) const;

    // The value a cell receives: 2·mean of the raw shape over 10000 quasi-random light
    // directions on the sphere, in double precision; 1e-12 when that is 0.
    float computeCell(int a, int b, int c) const;

    Kind kind() const { return kind_; }
    int sizeA() const { return sizeA_; }
    int sizeB() const { return sizeB_; }
    int sizeC() const { return sizeC_; }
    int cdfSamples() const { return cdfSamples_; }
    const float* cdfRow(int a, int b) const { return cdf_ + (a * sizeB_ + b) * cdfSamples_; }
    std::atomic<float>& cell(int a, int b, int c) { return values_[(a * sizeB_ + b) * sizeC_ + c]; }

  private:
    float slopeAt(const Row& row, float t) const;
    AngleSet rowAngles(int b, float x) const;
    float rowValue(int a, const AngleSet& angles, float x) const;
    float shape(float sigma, float sigmaW, const AngleSet& angles) const;

    Kind kind_ = Kind::Diffuse;
    int sizeA_ = 0, sizeB_ = 0, sizeC_ = 0;
    int cdfSamples_ = 0;
    std::atomic<float>* values_ = nullptr;
    float* cdf_ = nullptr;
};

// The three specular lobes of one light/view pair, before any colour.
struct LobeValues {
    float r = 0, trt = 0, tt = 0;
};

// The three lobe normalisations of one view |V·T| and widths (σR, σTRT, σL, σW), each looked
// up once: every light and every sample of a shading point needs the same cells. 0 stands for
// a value not looked up yet (a table never holds 0).
struct LobeNorms {
    Float4 widths{-1.0f, -1.0f, -1.0f, -1.0f};
    float absVT = -1.0f;
    float r = 0, trt = 0, tt = 0;

    // Forgets the values unless they belong to these widths and this view.
    void use(Float4 w, float a) {
        if (w[0] == widths[0] && w[1] == widths[1] && w[2] == widths[2] && w[3] == widths[3] && a == absVT)
            return;
        widths = w;
        absVT = a;
        r = trt = tt = 0.0f;
    }
    float primary(LobeTable& t) { return r != 0.0f ? r : (r = t.normalisation(widths[0], absVT)); }
    float secondary(LobeTable& t) { return trt != 0.0f ? trt : (trt = t.normalisation(widths[1], absVT)); }
    float transmission(LobeTable& t) {
        return tt != 0.0f ? tt : (tt = t.normalisation(widths[2], widths[3], absVT));
    }
};

inline LobeTable::RowSample LobeTable::sampleCdf(const float* row, float u) const {
    // Every table's rows have kCdfSamples values; a constant length lets the search unroll.
    constexpr int n = kCdfSamples;
    static_assert(n == 50, "the search below counts row[1..48] in twelve groups of four");
    float t;
    if (u >= 1.0f) {
        t = 1.0f;
    } else if (!(u > 0.0f)) {
        t = 0.0f;
    } else {
        // The last k in [0, n - 2] with row[k] <= u: a row never decreases and starts at 0, so
        // that is the count of row[1..n-2] at or below u, taken four at a time and summed as a
        // tree (a true comparison is -1 in its lane).
        const f4 uu = {u, u, u, u};
        i4 c[12];
        for (int g = 0; g < 12; ++g) {
            f4 a;
            std::memcpy(&a, row + 1 + 4 * g, sizeof a);
            c[g] = a <= uu;
        }
        const i4 h = (((c[0] + c[1]) + (c[2] + c[3])) + ((c[4] + c[5]) + (c[6] + c[7]))) +
                     ((c[8] + c[9]) + (c[10] + c[11]));
        const int lo = -((h[0] + h[1]) + (h[2] + h[3]));
        float r0 = row[lo], r1 = row[lo + 1];
        float frac = r1 != r0 ? (u - r0) / (r1 - r0) : 0.0f;
        t = (float(lo) + frac) / float(n - 1);
    }
    int j = cellIndex(t * float(n - 1), n);
    int j1 = j + 1 < n ? j + 1 : n - 1;
    return {2.0f * t - 1.0f, float(n - 1) * (row[j1] - row[j])};
}

// What the lobes of one view need besides the light, taken once and reused by every light and
// sample of a shading point: the view's angle and its direction across the strand, per width
// lane (σR, σTRT, σL, σW) 1/σ and the Gaussian factor 1/(σ√(2π)) (1 and 0 below σ = 1e-6), the
// normalisations and the mass of the TT azimuthal Gaussian, the last two looked up when first
// needed. The view's angle and direction are those a per-light computation takes, bit for bit;
// the Gaussians multiply by 1/σ and 1/normalisation where they divided (a rounding apart).
struct LobeView {
    Vec4 V, T;
    Float4 widths{-1.0f, -1.0f, -1.0f, -1.0f};
    bool degenerate = true; // the view within 1e-6 of the strand axis
    float vt = 0, sinO = 0, cosO = 0, thetaO = 0, vpvp = 0;
    // For the shapes at sampled directions: θo from the correctly rounded arcsine
    // (math/double_eval.h), and cos(θo/2), sin(θo/2).
    float thetaOSampled = 0, halfCosO = 1, halfSinO = 0;
    Vec4 vp; // -V in the plane normal to T
    f4 invSigma = {1, 1, 1, 1}, gauss = {0, 0, 0, 0};
    // Gaussian factor over normalisation for R, TRT and TT (0 for a normalisation below 1e-6),
    // and the σW factor; valid once scaled is set.
    f4 scale = {0, 0, 0, 0};
    bool scaled = false;
    float mass = -1.0f; // erf(π/(σW√2)); negative until computed
    LobeNorms norms;

    // Forces the next use to take everything anew (a sampler of another instance's tables).
    void forget() {
        widths = Float4(-1.0f, -1.0f, -1.0f, -1.0f);
        norms = LobeNorms();
    }
    // Keeps the terms when V, T and the widths are those they were taken for.
    void use(Vec4 view, Vec4 tangent, Float4 w) {
        auto same = (view.v == V.v) & (tangent.v == T.v) & (w.v == widths.v);
        if (!(same[0] & same[1] & same[2] & same[3])) take(view, tangent, w);
    }
    void take(Vec4 view, Vec4 tangent, Float4 w);
    // Fills scale, looking up all three normalisations.
    void scaleBy(LobeTable& primary, LobeTable& transmission);
    float azimuthMass();
};

// sin θi and cos φ of a light against a LobeView; false for a degenerate pair (the light or the
// view within 1e-6 of the strand axis).
inline bool lightAngles(Vec4 L, const LobeView& v, float& sinI, float& cosPhi) {
    sinI = dot(L, v.T);
    if (v.degenerate || !(std::fabs(sinI) <= 0.999999f)) return false;
    Vec4 lp = L - v.T * sinI;
    float ll = dot(lp, lp) * v.vpvp;
    cosPhi = ll > 1e-12f ? clampf(dot(lp, v.vp) / std::sqrt(ll), -1.0f, 1.0f) : 0.0f;
    return true;
}

// The angles of a light against a LobeView; false for a degenerate pair.
struct LobeAngles {
    float sinI, cosI, cosPhi, cosHalfPhi, cosD2;
    f4 x; // (θh, θh, θh, π - φ): the arguments of the four Gaussians
};
inline bool lobeAngles(Vec4 L, const LobeView& v, LobeAngles& a) {
    float sinI, cosPhi;
    if (!lightAngles(L, v, sinI, cosPhi)) return false;
    f4 angles = asinLanes(f4{sinI, cosPhi, 0.0f, 0.0f});
    float thetaH = 0.5f * (angles[0] + v.thetaO);
    float phi = 1.5707964f - angles[1];
    a.sinI = sinI;
    a.cosPhi = cosPhi;
    a.cosHalfPhi = std::sqrt((cosPhi + 1.0f) * 0.5f);
    a.cosI = safeSqrt(1.0f - sinI * sinI);
    // cos² θd = (1 + cos(θo - θi))/2, without another trigonometric call.
    a.cosD2 = 0.5f * (1.0f + v.cosO * a.cosI + v.sinO * sinI);
    a.x = f4{thetaH, thetaH, thetaH, kPi - phi};
    return true;
}

// cos² θd from the half angles: cos θd = cos(θo/2)·cos(θi/2) + sin(θo/2)·sin(θi/2). Where θd
// nears a right angle, (1 + cos(θo - θi))/2 loses the digits that cos θd squared keeps.
inline float sampledCosD2(const LobeView& v, float sinI, float cosI) {
    const float c = std::sqrt((1.0f + cosI) * 0.5f); // at least √½: θi within a right angle
    const float d = v.halfCosO * c + v.halfSinO * (sinI / (2.0f * c));
    return d * d;
}

// The shapes at a sampled direction take θi and θo from the correctly rounded arcsine, not the
// four-lane polynomial: a lobe of width 1e-3 turns one unit in the last place of θh into 1e-4 of
// its value. Their exponentials and the TT arccosine are the double-precision ones as well: a
// sample is one chain of dependent steps, where each step's latency counts, and a library call
// would also make every live vector register go to the stack and back.
//
// Both shapes come scaled by invNorm (one over the lobe's normalisation) and multiply the late
// exponential in last: 1/(cos² θd·normalisation) and the other factors do not wait for it.
//
// The R (lane 0) or TRT (lane 1) shape G(σ, θh)·cos(φ/2)·cos θi/cos² θd at a light, with the
// 1e18 guard on the divisor; 0 for a degenerate pair.
inline float primaryShape(Vec4 L, const LobeView& v, int lane, float invNorm) {
    float sinI, cosPhi;
    if (!lightAngles(L, v, sinI, cosPhi)) return 0.0f;
    const float thetaH = 0.5f * (asinViaDouble(sinI) + v.thetaOSampled);
    const float t = thetaH * v.invSigma[lane];
    const float e = expViaDouble(-0.5f * t * t);
    const float cosI = safeSqrt(1.0f - sinI * sinI);
    const float cosD2 = sampledCosD2(v, sinI, cosI);
    const float gc = v.gauss[lane] * (std::sqrt((cosPhi + 1.0f) * 0.5f) * cosI);
    return e * gc < cosD2 * 1e18f ? e * (gc * (invNorm / cosD2)) : 0.0f;
}

// The TT shape G(σL, θh)·G(σW, π - φ)·cos θi/cos² θd at a light, with φ from the correctly
// rounded arccosine: near φ = π, where the lobe peaks, one unit in the last place of φ is as
// large a step for a narrow σW. 0 for a degenerate pair.
inline float transmissionShape(Vec4 L, const LobeView& v, float invNorm) {
    float sinI, cosPhi;
    if (!lightAngles(L, v, sinI, cosPhi)) return 0.0f;
    const float thetaH = 0.5f * (asinViaDouble(sinI) + v.thetaOSampled);
    const float tL = thetaH * v.invSigma[2];
    const float tW = (kPi - acosViaDouble(cosPhi)) * v.invSigma[3];
    const float eL = expViaDouble(-0.5f * tL * tL);
    const float eW = expViaDouble(-0.5f * tW * tW);
    const float cosI = safeSqrt(1.0f - sinI * sinI);
    const float k = v.gauss[2] * v.gauss[3] * cosI * (invNorm / sampledCosD2(v, sinI, cosI));
    return eW * (eL * k);
}

// The three lobes, normalised (R and TRT without the 1e18 guard, as evalThreeLobes).
inline LobeValues evalLobes(Vec4 L, LobeView& v, LobeTable& primary, LobeTable& transmission) {
    LobeValues out;
    LobeAngles a;
    if (!lobeAngles(L, v, a)) return out;
    if (!v.scaled) v.scaleBy(primary, transmission);
    const float k = a.cosI / a.cosD2;
    f4 t = a.x * v.invSigma;
    f4 g = expLanes(-0.5f * t * t) * v.scale;
    const float c = a.cosHalfPhi * k;
    out.r = v.scale[0] != 0.0f ? g[0] * c : 0.0f;
    out.trt = v.scale[1] != 0.0f ? g[1] * c : 0.0f;
    out.tt = v.scale[2] != 0.0f ? g[2] * g[3] * k : 0.0f;
    return out;
}

// Widths in lanes: (σR, σTRT, σL, σW). One four-lane pass for the four Gaussians with the
// polynomial arcsine and exponential; each lobe divided by its normalisation (0 below 1e-6).
LobeValues evalThreeLobes(Vec4 L, Vec4 V, Vec4 T, Float4 widths, LobeTable& primary, LobeTable& transmission);

} // namespace hair
