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
    RowSample sampleRow(float u, float sigma, float v) const;

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
    // The row (or the blend of two rows) that a width and view coordinate select.
    struct Row {
        const float* r0;
        const float* r1; // null: r0 alone
        float f;
        float operator[](int k) const { return r1 ? (1.0f - f) * r0[k] + f * r1[k] : r0[k]; }
    };
    Row chooseRow(float sigma, float v) const;
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

// Widths in lanes: (σR, σTRT, σL, σW). One four-lane pass for the four Gaussians with the
// polynomial arcsine and exponential; each lobe divided by its normalisation (0 below 1e-6).
LobeValues evalThreeLobes(Vec4 L, Vec4 V, Vec4 T, Float4 widths, LobeTable& primary, LobeTable& transmission);
// The same, with the normalisations kept in norms for the next call.
LobeValues evalThreeLobes(Vec4 L, Vec4 V, Vec4 T, Float4 widths, LobeTable& primary, LobeTable& transmission,
                          LobeNorms& norms);

} // namespace hair
