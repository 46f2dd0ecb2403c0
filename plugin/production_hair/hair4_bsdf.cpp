// Hair4BSDF: evaluation, sampling and forward tracing. The set-up is in hair4_setup.cpp.
#include "production_hair/hair4_bsdf.h"

#include <cmath>
#include <cstring>

#include "frame/new_ray.h"
#include "math/dispatch.h"
#include "math/fast_atan2.h"

namespace hair {

namespace hair4 {

namespace {

constexpr float kInv2Pi = 0.15915494f;
constexpr float kInv4Pi = 1.0f / 12.566371f;

// Σ (x²/4)^k/(k!)² for k = 0..10, in Horner form in x²; one body for a float and for any lanes.
template <class T> HAIR_LANES T i0Series(T x) {
    T y = x * x;
    T r = T{} + 1.0f / 13807847341517963264.0f;
    r = r * y + 1.0f / 34519618525593600.0f;
    r = r * y + 1.0f / 106542032486400.0f;
    r = r * y + 1.0f / 416179814400.0f;
    r = r * y + 1.0f / 2.1233664e9f;
    r = r * y + 1.0f / 1.47456e7f;
    r = r * y + 1.0f / 147456.0f;
    r = r * y + 1.0f / 2304.0f;
    r = r * y + 1.0f / 64.0f;
    r = r * y + 1.0f / 4.0f;
    return r * y + 1.0f;
}

inline float logI0Asymptotic(float x) {
    return x + 0.5f * (1.0f / (8.0f * x) - 1.837877f + std::log(1.0f / x));
}

// The trimmed logistic's bounds c+ and c-; each is 0 where its exponent would pass 20.
inline void logisticBounds(float s, float& cPlus, float& cMinus) {
    float k = kPi / s;
    cPlus = -k > 20.0f ? 0.0f : 1.0f / (std::exp(-k) + 1.0f);
    cMinus = k > 20.0f ? 0.0f : 1.0f / (std::exp(k) + 1.0f);
}

} // namespace

float besselI0(float x) { return i0Series(x); }

float logBesselI0(float x) { return x > 12.0f ? logI0Asymptotic(x) : std::log(i0Series(x)); }

float longitudinal(float v, float a, float b) {
    if (v <= 0.1f) return std::exp(logBesselI0(a) - b - 1.0f / v + 0.6931f + std::log(1.0f / (2.0f * v)));
    return std::exp(-b) * i0Series(a) / (2.0f * v * std::sinh(1.0f / v));
}

float wrapPi(float x) {
    // Only far-out angles need more than a turn or two; bring those in at once.
    if (!(std::fabs(x) <= 64.0f)) x = std::isfinite(x) ? std::remainder(x, kTwoPi) : 0.0f;
    while (x > kPi)
        x -= kTwoPi;
    while (x < -kPi)
        x += kTwoPi;
    return x;
}

float trimmedLogistic(float x, float s) {
    x = wrapPi(x);
    float e = std::exp(-std::fabs(x) / s);
    float l = e / (s * sqr(1.0f + e));
    float cPlus, cMinus;
    logisticBounds(s, cPlus, cMinus);
    return l / (cPlus - cMinus);
}

float sampleTrimmedLogistic(float u, float s) {
    float cPlus, cMinus;
    logisticBounds(s, cPlus, cMinus);
    float x = -s * std::log(1.0f / (u * (cPlus - cMinus) + cMinus) - 1.0f);
    return clampf(x, -kPi, kPi);
}

float fresnel(float eta, float x) {
    // At grazing incidence (x = 0) everything is reflected; the formulas below would give 0/0
    // for eta = 1.
    if (!(x > 0.0f)) return 1.0f;
    float sinT = std::sqrt(std::max(1.0f - x * x, 0.0f)) / eta;
    if (sinT > 1.0f) return 1.0f;
    float cosT = std::sqrt(1.0f - sinT * sinT);
    float rs = (eta * cosT - x) / (eta * cosT + x);
    float rp = (eta * x - cosT) / (cosT + eta * x);
    return (rs * rs + rp * rp) * 0.5f;
}

} // namespace hair4

using namespace hair4;

namespace {

inline f4 splat4(float x) { return f4{x, x, x, x}; }

template <class F> HAIR_LANES F floorLanes(F x) {
    using I = typename LaneInts<F>::type;
    F t = __builtin_convertvector(__builtin_convertvector(x, I), F);
    return t > x ? t - 1.0f : t;
}

template <class F> HAIR_LANES F absLanes(F x) { return x < 0.0f ? -x : x; }

// Mp of the lanes' lobes for one incoming direction: hair4::longitudinal(), rearranged for lanes.
template <class F> HAIR_LANES F mpLanes(const Hair4BSDF::LobePack<F>& l, F cosI, F sinI) {
    // ln a as ln(cos θo'/v) + ln cos θi: the logarithm does not wait for the quotient.
    F lnA = l.logCosOverV + logLanesOf(cosI);
    F a = l.cosO * cosI / l.v;
    F b = l.sinO * sinI / l.v;
    F i0 = i0Series(a);
    auto big = a > 12.0f;
    auto small = l.v <= 0.1f;
    // Above 12, ln I0 has its asymptotic form inside the exponential; below, I0 multiplies
    // the exponential, so the series and the exponential run side by side instead of one
    // after the other through a logarithm. (Below e^-87.33 the exponential is 0, and so is
    // the lobe, under 1e-33 there.)
    F lnBig = a + 0.5f * (1.0f / (8.0f * a) - 1.837877f - lnA);
    F x = big ? lnBig - b - l.invV + l.logConst : (small ? -b - l.invV + l.logConst : -b);
    F m = expLanesOf(x);
    F series = small ? m * i0 : m * i0 * l.norm;
    return big ? m : series;
}

// Trimmed logistic of the lanes' lobes at azimuth phi.
template <class F> HAIR_LANES F tlLanes(const Hair4BSDF::LobePack<F>& l, F phi) {
    F x = phi - l.centre;
    x -= floorLanes(x * 0.15915494f + 0.5f) * kTwoPi; // whole turns off
    F e = expLanesOf(-absLanes(x) * l.invS);
    F d = 1.0f + e;
    return e * l.tlNorm / (d * d);
}

// Mp·Np of every lane (lane 3, the residual, uniform in azimuth); 0 in lanes of weight 0.
template <class F>
HAIR_LANES F lobeProducts(const Hair4BSDF::LobePack<F>& l, float cosThetaI, float sinThetaI, float phi) {
    const F zero = F{};
    F n = tlLanes(l, zero + phi);
    n[3] = kInv2Pi;
    // Lobes of weight 0 contribute nothing, whatever their lanes hold.
    return l.active > 0.0f ? mpLanes(l, zero + cosThetaI, zero + sinThetaI) * n : zero;
}

template <class F> HAIR_LANES void loadLanes(F& to, const Hair4BSDF::Lanes8& from) {
    std::memcpy(&to, from.v, sizeof to);
}

// The pack's lanes as four or eight lanes (the first four: the lobes without peaks).
template <class F>
HAIR_LANES Hair4BSDF::LobePack<F> loadPack(const Hair4BSDF::LobePack<Hair4BSDF::Lanes8>& m) {
    Hair4BSDF::LobePack<F> l;
    loadLanes(l.cosO, m.cosO);
    loadLanes(l.sinO, m.sinO);
    loadLanes(l.v, m.v);
    loadLanes(l.invV, m.invV);
    loadLanes(l.logConst, m.logConst);
    loadLanes(l.logCosOverV, m.logCosOverV);
    loadLanes(l.norm, m.norm);
    loadLanes(l.centre, m.centre);
    loadLanes(l.invS, m.invS);
    loadLanes(l.tlNorm, m.tlNorm);
    loadLanes(l.active, m.active);
    return l;
}

// The eight lanes in one 256-bit pass where the CPU has AVX2, in two 128-bit halves otherwise;
// the same bits either way (no fused multiply-add).
HAIR_LANE_KERNEL void lobeProducts8(const Hair4BSDF::LobePack<Hair4BSDF::Lanes8>& m, float cosThetaI,
                                    float sinThetaI, float phi, float* out) {
    f8 mn = lobeProducts(loadPack<f8>(m), cosThetaI, sinThetaI, phi);
    std::memcpy(out, &mn, sizeof mn);
}

template <class F> HAIR_LANES void storeLanes(Hair4BSDF::Lanes8& to, F from) {
    std::memcpy(to.v, &from, sizeof from);
}

// The largest 1/v whose e^(-2/v) is a normal float.
constexpr float kMaxInvV = 43.6f;

// Every constant of the pack, eight lanes at a time: 1/v, the small-variance log constant
// 0.6931 + ln(1/(2v)), the large-variance norm 1/(2v·sinh(1/v)), e^(-2/v), and 1/s, c-,
// c+ - c- of the trimmed logistic.
HAIR_LANE_KERNEL void packLobes8(Hair4BSDF& s) {
    const f8 zero = f8{};
    // Per-lobe arrays (R, TT, TRT, glitter, glint, residual) to lanes (R, TT, TRT, residual,
    // glitter, glint, glitter, glint): two overlapping loads and one shuffle each.
    auto lanes = [](const float* lobe) {
        f4 lo, hi;
        std::memcpy(&lo, lobe, sizeof lo);
        std::memcpy(&hi, lobe + 2, sizeof hi);
        return __builtin_shufflevector(lo, hi, 0, 1, 2, 7, 3, 6, 3, 6);
    };
    const f8 v = lanes(s.lobeVariance), sc = lanes(s.lobeScale), w = lanes(s.lobeWeight);
    f8 inv = 1.0f / v;
    // 1/(2v) is exactly half of 1/v.
    f8 lg = logLanesOf(0.5f * inv) + 0.6931f;
    // Two exponentials give all four: e^(-x) = 1/e^x, e^(-2/v) = (e^(-1/v))². e^(1/v) stops
    // where e^(-2/v) would leave the normal floats (it is 0 then, and the norm is kept for
    // v > 0.1 only): arithmetic on subnormal numbers takes a slow path in the processor.
    const f8 invE = inv < kMaxInvV ? inv : zero + kMaxInvV;
    f8 ep = expLanesOf(invE), en = 1.0f / ep;
    f8 nm = 1.0f / (v * (ep - en)); // 1/(2v·sinh(1/v))
    f8 e2 = inv > kMaxInvV ? zero : en * en;
    f8 k = kPi / sc;
    f8 ekn = expLanesOf(-k);
    f8 cPlus = 1.0f / (ekn + 1.0f); // k = π/s > 0
    // 1/(1/e + 1) = e·c+.
    f8 cMinus = k > 20.0f ? zero : ekn * cPlus;
    f8 span = cPlus - cMinus;
    f8 tl = 1.0f / (sc * span);
    tl[3] = 0.0f; // the residual is uniform in azimuth
    Hair4BSDF::LobePack<Hair4BSDF::Lanes8>& p = s.pack;
    const f8 co = lanes(s.lobeCosThetaO);
    storeLanes(p.cosO, co);
    storeLanes(p.logCosOverV, logLanesOf(co * inv));
    storeLanes(p.sinO, lanes(s.lobeSinThetaO));
    storeLanes(p.v, v);
    storeLanes(p.invV, inv);
    storeLanes(p.logConst, v <= 0.1f ? lg : zero);
    storeLanes(p.norm, v > 0.1f ? nm : zero);
    storeLanes(p.invS, 1.0f / sc);
    storeLanes(p.tlNorm, tl);
    storeLanes(p.active, w > 0.0f ? zero + 1.0f : zero);
    // Back to lobe order: lanes 0, 1, 2, 4, 5, 3.
    auto lobes = [](float* lobe, f8 x) {
        const f4 lo = __builtin_shufflevector(x, x, 0, 1, 2, 4),
                 hi = __builtin_shufflevector(x, x, 5, 3, 5, 3);
        std::memcpy(lobe, &lo, sizeof lo);
        std::memcpy(lobe + 4, &hi, 2 * sizeof(float));
    };
    lobes(s.expM2V, e2);
    lobes(s.tlCMinus, cMinus);
    lobes(s.tlCSpan, span);
}

} // namespace

void Hair4BSDF::finishLobes() {
    packLobes8(*this);
    pack.centre[0] = lobePhi[R];
    pack.centre[1] = lobePhi[TT];
    pack.centre[2] = lobePhi[TRT];
    pack.centre[3] = 0.0f;
    pack.centre[4] = glitterPhiA + lobePhi[Glitter];
    pack.centre[5] = lobePhi[Glint] + glintSeparation;
    pack.centre[6] = glitterPhiB + lobePhi[Glitter];
    pack.centre[7] = lobePhi[Glint] - glintSeparation;
    hasPeaks = lobeWeight[Glitter] > 0.0f || lobeWeight[Glint] > 0.0f;
}

void Hair4BSDF::lobeSum(float cosThetaI, float sinThetaI, float phi, Color4& f, float& p) const {
    float mn[8];
    if (hasPeaks) {
        lobeProducts8(pack, cosThetaI, sinThetaI, phi, mn);
    } else {
        f4 m4 = lobeProducts(loadPack<f4>(pack), cosThetaI, sinThetaI, phi);
        std::memcpy(mn, &m4, sizeof m4);
    }
    Color4 acc =
        lobeColor[R] * mn[0] + lobeColor[TT] * mn[1] + lobeColor[TRT] * mn[2] + lobeColor[Residual] * mn[3];
    float pdf = lobeWeight[R] * mn[0] + lobeWeight[TT] * mn[1] + lobeWeight[TRT] * mn[2] +
                lobeWeight[Residual] * mn[3];
    if (hasPeaks) {
        // Each peak pair is the mean of two logistics under one Mp.
        float glitter = 0.5f * (mn[4] + mn[6]), glint = 0.5f * (mn[5] + mn[7]);
        acc += lobeColor[Glitter] * glitter + lobeColor[Glint] * glint;
        pdf += lobeWeight[Glitter] * glitter + lobeWeight[Glint] * glint;
    }
    f = acc + diffuseColor * kInv4Pi;
    p = pdf + diffuseWeight * kInv4Pi;
}

quor::Color Hair4BSDF::eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                            quor::Color& unshadowedLightColor, float lightProb, int flags) {
    Color4 r(0.0f);
    if (!terminal && (flags & quor::EVAL_SPECULAR) && !(ctx.rayFlags & quor::RAY_NO_SPECULAR)) {
        Vec4 wi(L);
        float sinThetaI = clampf(dot(wi, axisT), -1.0f, 1.0f);
        float cosThetaI = std::sqrt(1.0f - sinThetaI * sinThetaI);
        float phi = fastAtan2(dot(wi, axisY), dot(wi, axisX));
        Color4 f;
        float p;
        lobeSum(cosThetaI, sinThetaI, phi, f, p);
        r = kPi * f * Color4(lightColor) * complement(transparency);
        if (useLightMIS) {
            float pB = kTwoPi * p;
            // pL²/(pB² + pL²), written so that neither square can overflow.
            if (lightProb >= 1e-12f)
                r *= 1.0f / (1.0f + sqr(pB / lightProb));
            else
                r = Color4(0.0f);
        }
    }
    lightColor = (Color4(lightColor) * transparency).host();
    unshadowedLightColor = (Color4(unshadowedLightColor) * transparency).host();
    return r.host();
}

quor::Color Hair4BSDF::getDiffuseColor(quor::Color& weight) {
    weight = (Color4(weight) * transparency).host();
    return {0, 0, 0, 0};
}

quor::Color Hair4BSDF::getLightMultiplier(quor::Color& weight) {
    Color4 w(weight);
    Color4 out = complement(transparency) * albedoSum * w;
    weight = (w * transparency).host();
    return out.host();
}

float Hair4BSDF::sampleRay(const quor::QuorContext& parent, quor::QuorContext& q, float u, int mode) {
    if (mode == quor::SAMPLE_MODE_GI_CACHE || terminal) return 0.0f;
    float u0 = getDMCParam(q, 1), u1 = getDMCParam(q, 2), u2 = getDMCParam(q, 3);
    float sinThetaI, cosThetaI, phi;
    if (u < diffuseWeight) {
        sinThetaI = clampf(2.0f * (u1 - 0.5f), -1.0f, 1.0f);
        cosThetaI = std::sqrt(1.0f - sinThetaI * sinThetaI);
        phi = kTwoPi * u0;
    } else {
        float e = u - diffuseWeight;
        int k = 0;
        while (k < 5 && e >= lobeWeight[k]) {
            e -= lobeWeight[k];
            ++k;
        }
        float v = lobeVariance[k];
        float cz = clampf(1.0f + v * std::log(u1 + (1.0f - u1) * expM2V[k]), -1.0f, 1.0f);
        sinThetaI = clampf(std::cos(kTwoPi * u2) * std::sqrt(1.0f - cz * cz) * lobeCosThetaO[k] -
                               cz * lobeSinThetaO[k],
                           -1.0f, 1.0f);
        cosThetaI = std::sqrt(1.0f - sinThetaI * sinThetaI);
        if (k == Residual) {
            phi = kTwoPi * u0;
        } else {
            float peak = lobePhi[k];
            if (k == Glitter)
                peak = wrapPi((e >= lobeWeight[k] * 0.5f ? glitterPhiB : glitterPhiA) + lobePhi[k]);
            else if (k == Glint)
                peak = wrapPi(e >= lobeWeight[k] * 0.5f ? lobePhi[k] - glintSeparation
                                                        : lobePhi[k] + glintSeparation);
            float x = -lobeScale[k] * std::log(1.0f / (u0 * tlCSpan[k] + tlCMinus[k]) - 1.0f);
            phi = peak + clampf(x, -kPi, kPi);
        }
    }
    Color4 f;
    float p;
    lobeSum(cosThetaI, sinThetaI, phi, f, p);
    float pp = std::max(p, 0.5f * maxRGB(f));
    f *= complement(transparency);
    if (!(pp >= 1e-8f)) return 0.0f;

    float sinPhi = std::sin(phi), cosPhi = std::cos(phi);
    Vec4 wi = sinThetaI * axisT + (cosThetaI * cosPhi) * axisX + (cosThetaI * sinPhi) * axisY;
    // Without a frame (no tangent, or a view along it) the direction is not unit: no ray.
    if (!(std::fabs(dot(wi, wi) - 1.0f) <= 1e-4f)) return 0.0f;
    writeNewRay(parent, q, wi, f / pp, kTwoPi * pp, RayStart::ParentHit);
    return 1.0f;
}

int Hair4BSDF::addContextRay(quor::QuorContext& ctx, void*, int mode) {
    if (terminal || mode == quor::SAMPLE_MODE_GI_CACHE) return 0;
    return ctx.addRay(quor::ADD_RAY_PASS_THROUGH, (complement(transparency) * albedoSum).host(),
                      quor::RAY_SAMPLER_ADDED | quor::RAY_GI | quor::RAY_TRANSMITTED, ctx.rayDir);
}

void Hair4BSDF::traceForward(quor::QuorContext& ctx, int arg) {
    quor::BRDFSampler::traceForward(ctx, arg);
    if (!ctx.channels || !ctx.settings || !(ctx.settings->flags & quor::SETTINGS_STRAND_FRAME)) return;
    // The strand's screen-space direction from the ray footprint, and the normal, both faded
    // by the opacity.
    Vec4 a = normalizeSafe(Vec4(ctx.dirDiff[0]) + Vec4(ctx.posDiff[0]));
    Vec4 b = normalizeSafe(Vec4(ctx.dirDiff[1]) + Vec4(ctx.posDiff[1]));
    Vec4 n(ctx.normal), d(ctx.rayDir);
    Vec4 g = normalizeSafe(Vec4(dot(cross(b, n), d), dot(cross(n, a), d), -dot(cross(a, b), n)));
    float o = 1.0f - (transparency.r() + transparency.g() + transparency.b()) * 0.33333334f;
    float values[6] = {g.x() * o, g.y() * o, g.z() * o, n.x() * o, n.y() * o, n.z() * o};
    ctx.channels->write(quor::CHANNEL_STRAND_FRAME, values, 6);
}

} // namespace hair
