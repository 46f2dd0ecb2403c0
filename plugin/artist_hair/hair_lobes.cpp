#include "artist_hair/hair_lobes.h"

#include <cmath>
#include <cstring>
#include <new>

#include "frame/allocation.h"
#include "math/asin_lanes.h"
#include "math/erf.h"
#include "math/fast_math.h"
#include "math/numeric.h"

namespace hair {

float gaussian(float sigma, float x) {
    if (!(sigma >= 1e-6f)) return 0.0f;
    float t = x / sigma;
    return std::exp(-0.5f * t * t) * kInvSqrtTwoPi / sigma;
}

AngleSet angleSet(Vec4 L, Vec4 V, Vec4 T) {
    AngleSet a;
    a.sinThetaI = dot(L, T);
    a.sinThetaO = -dot(V, T);
    if (!(std::fabs(a.sinThetaI) <= 0.999999f) || !(std::fabs(a.sinThetaO) <= 0.999999f)) return a;
    a.degenerate = false;
    Vec4 lp = L - T * a.sinThetaI;
    Vec4 vp = T * dot(V, T) - V; // -V in the plane normal to T
    float ll = dot(lp, lp) * dot(vp, vp);
    a.cosPhi = ll > 1e-12f ? clampf(dot(lp, vp) / std::sqrt(ll), -1.0f, 1.0f) : 0.0f;
    a.thetaI = std::asin(a.sinThetaI);
    a.thetaO = std::asin(a.sinThetaO);
    a.phi = std::acos(a.cosPhi);
    a.thetaH = 0.5f * (a.thetaI + a.thetaO);
    a.thetaD = 0.5f * (a.thetaO - a.thetaI);
    float h = (a.cosPhi + 1.0f) * 0.5f;
    a.cosHalfPhi = (h >= 0.0f && h <= 1.0f) ? std::sqrt(h) : 0.0f;
    a.cosThetaI = safeSqrt(1.0f - a.sinThetaI * a.sinThetaI);
    float cd = std::cos(a.thetaD);
    a.cosThetaD2 = cd * cd;
    return a;
}

float shapePrimary(float sigma, const AngleSet& a) {
    if (a.degenerate) return 0.0f;
    float num = gaussian(sigma, a.thetaH) * std::sqrt(a.cosThetaI * a.cosThetaI * ((a.cosPhi + 1.0f) * 0.5f));
    // A vanishing cos² θd would blow the lobe up; such pairs count as empty.
    if (!(num < a.cosThetaD2 * 1e18f)) return 0.0f;
    return num / a.cosThetaD2;
}

float shapeTransmission(float sigmaL, float sigmaW, const AngleSet& a) {
    if (a.degenerate) return 0.0f;
    return gaussian(sigmaL, a.thetaH) * gaussian(sigmaW, kPi - a.phi) * a.cosThetaI / a.cosThetaD2;
}

// --- LobeTable --------------------------------------------------------------------------------

LobeTable::~LobeTable() {
    libFree(values_);
    libFree(cdf_);
}

void LobeTable::build(Kind kind, int sizeA, int sizeB, int sizeC) {
    kind_ = kind;
    if (!values_) {
        sizeA_ = sizeA;
        sizeB_ = sizeB;
        sizeC_ = sizeC;
        std::size_t n = std::size_t(sizeA) * sizeB * sizeC;
        auto* cells = static_cast<std::atomic<float>*>(libAlloc(n * sizeof(std::atomic<float>)));
        for (std::size_t i = 0; i < n; ++i)
            new (&cells[i]) std::atomic<float>(0.0f);
        values_ = cells;
    }
    if (!cdf_) {
        cdfSamples_ = kCdfSamples;
        const int n = cdfSamples_;
        float* cdf = static_cast<float*>(libAlloc(std::size_t(sizeA_) * sizeB_ * n * sizeof(float)));
        const float step = 1.0f / float(n - 1);
        // The light/view geometry of a row depends on b and x only: take it once per b.
        AngleSet angles[kCdfSamples];
        for (int b = 0; b < sizeB_; ++b) {
            for (int k = 0; k < n; ++k)
                angles[k] = rowAngles(b, 2.0f * float(k) / float(n - 1) - 1.0f);
            for (int a = 0; a < sizeA_; ++a) {
                float* row = cdf + (a * sizeB_ + b) * n;
                // Trapezoid rule over x_k = 2k/49 - 1.
                float prev = rowValue(a, angles[0], -1.0f);
                row[0] = 0.0f;
                for (int k = 1; k < n; ++k) {
                    float f = rowValue(a, angles[k], 2.0f * float(k) / float(n - 1) - 1.0f);
                    row[k] = row[k - 1] + (prev + f) * step * 0.5f;
                    prev = f;
                }
                float total = row[n - 1];
                if (total > 0.0f)
                    for (int k = 0; k < n; ++k)
                        row[k] /= total;
            }
        }
        cdf_ = cdf;
    }
}

// The raw shape of this table's lobe; the R/TRT shape carries its 1e18 guard.
float LobeTable::shape(float sigma, float sigmaW, const AngleSet& angles) const {
    return kind_ == Kind::Transmission ? shapeTransmission(sigma, sigmaW, angles)
                                       : shapePrimary(sigma, angles);
}

// A row's light l = (√(1 - x²), 0, x) lies in the viewer's plane at azimuth 0; the view is
// o = (-√(1 - s²), 0, s) with s = 2b/(sizeB - 1) - 1.
AngleSet LobeTable::rowAngles(int b, float x) const {
    float s = sizeB_ > 1 ? 2.0f * float(b) / float(sizeB_ - 1) - 1.0f : 0.0f;
    Vec4 o(-safeSqrt(1.0f - s * s), 0.0f, s);
    Vec4 l(safeSqrt(1.0f - x * x), 0.0f, x);
    return angleSet(l, o, Vec4(0.0f, 0.0f, 1.0f));
}

// Along-strand density of a row at x: the lobe of width a for the row's geometry (the TT
// azimuthal width is 1), or the diffuse (2/π)·√(1 - x²).
float LobeTable::rowValue(int a, const AngleSet& angles, float x) const {
    if (kind_ == Kind::Diffuse) return 2.0f * safeSqrt(1.0f - x * x) / kPi;
    return shape(cellWidth(a, sizeA_), 1.0f, angles);
}

float LobeTable::computeCell(int a, int b, int c) const {
    const float sigma = cellWidth(a, sizeA_);
    const float sigmaW = sizeC_ < 2 ? 0.0f : cellWidth(c, sizeC_);
    const float s = sizeB_ > 1 ? float(b) / float(sizeB_ - 1) : 0.0f;
    const Vec4 o(-safeSqrt(1.0f - s * s), 0.0f, s);
    const Vec4 axis(0.0f, 0.0f, 1.0f);
    const double third = double(1.0f / 3.0f);
    double sum = 0.0;
    for (std::uint32_t i = 0; i < std::uint32_t(kNormSamples); ++i) {
        // Base 2: i with its 32 bits reversed (the half swap makes it i·2^16 first).
        std::uint32_t bits = (i << 16) | (i >> 16);
        bits = ((bits & 0x00ff00ffu) << 8) | ((bits & 0xff00ff00u) >> 8);
        bits = ((bits & 0x0f0f0f0fu) << 4) | ((bits & 0xf0f0f0f0u) >> 4);
        bits = ((bits & 0x33333333u) << 2) | ((bits & 0xccccccccu) >> 2);
        bits = ((bits & 0x55555555u) << 1) | ((bits & 0xaaaaaaaau) >> 1);
        float u1 = float(double(bits) * 0x1p-32);
        // Base 3, with the single-precision third as digit weight.
        double u2 = 0.0, w = third;
        for (std::uint32_t n = i; n; n /= 3, w *= third)
            u2 += double(n % 3) * w;
        float z = 2.0f * u1 - 1.0f;
        float r = safeSqrt(1.0f - z * z);
        float phi = float(6.283185307179586 * u2);
        Vec4 l(r * std::cos(phi), r * std::sin(phi), z);
        sum += double(shape(sigma, sigmaW, angleSet(l, o, axis)));
    }
    float n = float(sum / double(kNormSamples) * 2.0);
    return n == 0.0f ? 1e-12f : n;
}

float LobeTable::normalisation(float sigma, float sigmaW, float absVT) {
    int a = cellIndex(std::sqrt(sigma) * float(sizeA_ - 1), sizeA_);
    int b = cellIndex(absVT * float(sizeB_ - 1), sizeB_);
    int c = sizeC_ > 1 ? cellIndex(std::sqrt(sigmaW) * float(sizeC_ - 1), sizeC_) : 0;
    std::atomic<float>& v = cell(a, b, c);
    float n = v.load(std::memory_order_relaxed);
    if (n == 0.0f) {
        n = computeCell(a, b, c);
        v.store(n, std::memory_order_relaxed);
    }
    return n;
}

LobeTable::Row LobeTable::chooseRow(float sigma, float v) const {
    int a = cellIndex(std::sqrt(sigma) * float(sizeA_ - 1), sizeA_);
    float w = (0.5f + 0.5f * v) * float(sizeB_ - 1);
    int b = cellIndex(w, sizeB_);
    float f = w - float(b);
    int b1 = b < sizeB_ - 1 ? b + 1 : b;
    // The end rows look along the strand and are empty: never blend them in.
    if (b == 0) return {cdfRow(a, b1), nullptr, 0.0f};
    if (b1 == sizeB_ - 1) return {cdfRow(a, b), nullptr, 0.0f};
    return {cdfRow(a, b), cdfRow(a, b1), f};
}

float LobeTable::slopeAt(const Row& row, float t) const {
    const int n = cdfSamples_;
    int j = cellIndex(t * float(n - 1), n);
    int j1 = j + 1 < n ? j + 1 : n - 1;
    return float(n - 1) * (row[j1] - row[j]);
}

float LobeTable::rowSlope(float sigma, float v, float x) const {
    return slopeAt(chooseRow(sigma, v), 0.5f * x + 0.5f);
}

void LobeTable::rowValues(const Row& row, float* out) const {
    const int n = cdfSamples_;
    if (!row.r1) {
        std::memcpy(out, row.r0, std::size_t(n) * sizeof(float));
        return;
    }
    for (int k = 0; k < n; ++k)
        out[k] = row[k];
}

LobeTable::RowSample LobeTable::sampleRow(const Row& row, float u) const {
    if (!row.r1) return sampleCdf(row.r0, u);
    float values[kCdfSamples];
    rowValues(row, values);
    return sampleCdf(values, u);
}

// --- three lobes in one pass -----------------------------------------------------------------

void LobeView::take(Vec4 view, Vec4 tangent, Float4 w) {
    V = view;
    T = tangent;
    widths = w;
    vt = dot(view, tangent);
    sinO = -vt;
    degenerate = !(std::fabs(sinO) <= 0.999999f);
    vp = tangent * vt - view;
    vpvp = dot(vp, vp);
    cosO = safeSqrt(1.0f - sinO * sinO);
    thetaO = asinLanes(f4{sinO, 0.0f, 0.0f, 0.0f})[0];
    thetaOSampled = asinViaDouble(sinO);
    halfCosO = std::sqrt((1.0f + cosO) * 0.5f);
    halfSinO = sinO / (2.0f * halfCosO);
    const f4 one = {1, 1, 1, 1}, zero = {0, 0, 0, 0};
    auto valid = w.v >= 1e-6f;
    f4 s = valid ? w.v : one;
    invSigma = one / s;
    gauss = valid ? kInvSqrtTwoPi / s : zero;
    scaled = false;
    mass = -1.0f;
    norms.use(w, std::fabs(vt));
}

void LobeView::scaleBy(LobeTable& primary, LobeTable& transmission) {
    const float n[3] = {norms.primary(primary), norms.secondary(primary), norms.transmission(transmission)};
    for (int i = 0; i < 3; ++i)
        scale[i] = double(n[i]) < 1e-6 ? 0.0f : gauss[i] / n[i];
    scale[3] = gauss[3];
    scaled = true;
}

float LobeView::azimuthMass() {
    if (mass < 0.0f) mass = erf(kPi / (widths[3] * 1.4142135f));
    return mass;
}

LobeValues evalThreeLobes(Vec4 L, Vec4 V, Vec4 T, Float4 widths, LobeTable& primary,
                          LobeTable& transmission) {
    LobeView v;
    v.take(V, T, widths);
    return evalLobes(L, v, primary, transmission);
}

} // namespace hair
