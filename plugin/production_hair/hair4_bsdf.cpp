// Hair4BSDF: evaluation, sampling and forward tracing. The set-up is in hair4_setup.cpp.
#include "production_hair/hair4_bsdf.h"

#include <cmath>
#include <cstring>

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

// Mp of the lanes' lobes for one incoming direction; both branches of hair4::longitudinal().
template <class F> HAIR_LANES F mpLanes(const Hair4BSDF::LobePack<F>& l, F cosI, F sinI) {
    F a = l.cosO * cosI / l.v;
    F b = l.sinO * sinI / l.v;
    F i0 = i0Series(a);
    auto big = a > 12.0f;
    // One logarithm serves both forms of ln I0: of 1/x above 12, of the series below.
    F lg = logLanesOf(big ? 1.0f / a : i0);
    F lnI0 = big ? a + 0.5f * (1.0f / (8.0f * a) - 1.837877f + lg) : lg;
    auto small = l.v <= 0.1f;
    F m = expLanesOf(small ? lnI0 - b - l.invV + l.logConst : -b);
    return small ? m : m * i0 * l.norm;
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

// The eight lanes in one 256-bit pass where the CPU has AVX2, in two 128-bit halves otherwise;
// the same bits either way (no fused multiply-add).
HAIR_LANE_KERNEL void
lobeProducts8(const Hair4BSDF::LobePack<Hair4BSDF::Lanes8>& m, float cosThetaI, float sinThetaI, float phi,
              float* out) {
    Hair4BSDF::LobePack<f8> l;
    auto load = [](f8& to, const Hair4BSDF::Lanes8& from) { std::memcpy(&to, from.v, sizeof to); };
    load(l.cosO, m.cosO);
    load(l.sinO, m.sinO);
    load(l.v, m.v);
    load(l.invV, m.invV);
    load(l.logConst, m.logConst);
    load(l.norm, m.norm);
    load(l.centre, m.centre);
    load(l.invS, m.invS);
    load(l.tlNorm, m.tlNorm);
    load(l.active, m.active);
    f8 mn = lobeProducts(l, cosThetaI, sinThetaI, phi);
    std::memcpy(out, &mn, sizeof mn);
}

// The transcendental constants of eight lanes of variances v and logistic scales s: the
// small-variance log constant, the large-variance norm, e^(-2/v), and c-, c+ - c- of the
// trimmed logistic.
struct LobeConstants {
    float logConst[8], norm[8], expM2V[8], cMinus[8], cSpan[8];
};
HAIR_LANE_KERNEL void
lobeConstants8(const float* variance, const float* scale, LobeConstants& out) {
    f8 v, s;
    std::memcpy(&v, variance, sizeof v);
    std::memcpy(&s, scale, sizeof s);
    const f8 zero = f8{};
    f8 inv = 1.0f / v;
    f8 lc = logLanesOf(1.0f / (2.0f * v)) + 0.6931f;
    // Two exponentials give all four: e^(-x) = 1/e^x, e^(-2/v) = (e^(-1/v))².
    f8 ep = expLanesOf(inv), en = 1.0f / ep;
    f8 nm = 1.0f / (v * (ep - en)); // 1/(2v·sinh(1/v))
    f8 e2 = en * en;
    f8 k = kPi / s;
    f8 ekn = expLanesOf(-k), ekp = 1.0f / ekn;
    f8 cPlus = -k > 20.0f ? zero : 1.0f / (ekn + 1.0f);
    f8 cMinus = k > 20.0f ? zero : 1.0f / (ekp + 1.0f);
    f8 span = cPlus - cMinus;
    std::memcpy(out.logConst, &lc, sizeof lc);
    std::memcpy(out.norm, &nm, sizeof nm);
    std::memcpy(out.expM2V, &e2, sizeof e2);
    std::memcpy(out.cMinus, &cMinus, sizeof cMinus);
    std::memcpy(out.cSpan, &span, sizeof span);
}

template <class F>
void fillPack(Hair4BSDF::LobePack<F>& p, const Hair4BSDF& s, const LobeConstants& c, const int* lobes,
              const float* centre) {
    for (int i = 0; i < int(sizeof(F) / sizeof(float)); ++i) {
        int k = lobes[i];
        p.cosO[i] = s.lobeCosThetaO[k];
        p.sinO[i] = s.lobeSinThetaO[k];
        p.v[i] = s.lobeVariance[k];
        p.invV[i] = 1.0f / s.lobeVariance[k];
        p.logConst[i] = s.lobeVariance[k] <= 0.1f ? c.logConst[k] : 0.0f;
        p.norm[i] = s.lobeVariance[k] > 0.1f ? c.norm[k] : 0.0f;
        p.centre[i] = centre[i];
        p.invS[i] = 1.0f / s.lobeScale[k];
        p.tlNorm[i] = 1.0f / (s.lobeScale[k] * s.tlCSpan[k]);
        p.active[i] = s.lobeWeight[k] > 0.0f ? 1.0f : 0.0f;
    }
}

} // namespace

void Hair4BSDF::finishLobes() {
    // The transcendental constants of all six lobes in one eight-lane batch.
    const float variance[8] = {lobeVariance[0],
                               lobeVariance[1],
                               lobeVariance[2],
                               lobeVariance[3],
                               lobeVariance[4],
                               lobeVariance[5],
                               1.0f,
                               1.0f};
    const float scale[8] = {lobeScale[0], lobeScale[1], lobeScale[2], lobeScale[3],
                            lobeScale[4], lobeScale[5], 1.0f,         1.0f};
    LobeConstants c;
    lobeConstants8(variance, scale, c);
    for (int k = 0; k < kLobes; ++k) {
        expM2V[k] = c.expM2V[k];
        tlCMinus[k] = c.cMinus[k];
        tlCSpan[k] = c.cSpan[k];
    }
    const int main[4] = {R, TT, TRT, Residual};
    const float mainCentre[4] = {lobePhi[R], lobePhi[TT], lobePhi[TRT], 0.0f};
    fillPack(packMain, *this, c, main, mainCentre);
    packMain.tlNorm[3] = 0.0f; // the residual is uniform in azimuth
    const int all[8] = {R, TT, TRT, Residual, Glitter, Glint, Glitter, Glint};
    const float allCentre[8] = {lobePhi[R],
                                lobePhi[TT],
                                lobePhi[TRT],
                                0.0f,
                                glitterPhiA + lobePhi[Glitter],
                                lobePhi[Glint] + glintSeparation,
                                glitterPhiB + lobePhi[Glitter],
                                lobePhi[Glint] - glintSeparation};
    fillPack(packAll, *this, c, all, allCentre);
    packAll.tlNorm[3] = 0.0f;
    hasPeaks = lobeWeight[Glitter] > 0.0f || lobeWeight[Glint] > 0.0f;
}

void Hair4BSDF::lobeSum(float cosThetaI, float sinThetaI, float phi, Color4& f, float& p) const {
    float mn[8];
    if (hasPeaks) {
        lobeProducts8(packAll, cosThetaI, sinThetaI, phi, mn);
    } else {
        f4 m4 = lobeProducts(packMain, cosThetaI, sinThetaI, phi);
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
    if (mode == 2 || terminal) return 0.0f;
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
    quor::Vector dir = wi.host();
    if (q.ray) {
        q.ray->dir = dir;
        q.ray->origin = parent.hitPoint;
        q.ray->tmin = 0.0f;
        q.ray->tmax = 1e18f;
    }
    q.rayDir = dir;
    // Mirror the direction differentials about the half vector of the turn.
    Vec4 h = normalizeSafe(wi - Vec4(parent.rayDir));
    for (int i = 0; i < 2; ++i) {
        Vec4 d(parent.dirDiff[i]);
        q.dirDiff[i] = (d - (2.0f * dot(d, h)) * h).host();
    }
    q.pathWeight = (f / pp).host();
    q.pathProb = kTwoPi * pp;
    return 1.0f;
}

int Hair4BSDF::addContextRay(quor::QuorContext& ctx, void*, int mode) {
    if (terminal || mode == 2) return 0;
    return ctx.addRay(4, (complement(transparency) * albedoSum).host(), 0x8012, ctx.rayDir);
}

void Hair4BSDF::traceForward(quor::QuorContext& ctx, int arg) {
    quor::BRDFSampler::traceForward(ctx, arg);
    if (!ctx.channels || !ctx.settings || !(ctx.settings->flags & quor::SETTINGS_CHANNEL_131)) return;
    // The strand's screen-space direction from the ray footprint, and the normal, both faded
    // by the opacity.
    Vec4 a = normalizeSafe(Vec4(ctx.dirDiff[0]) + Vec4(ctx.posDiff[0]));
    Vec4 b = normalizeSafe(Vec4(ctx.dirDiff[1]) + Vec4(ctx.posDiff[1]));
    Vec4 n(ctx.normal), d(ctx.rayDir);
    Vec4 g = normalizeSafe(Vec4(dot(cross(b, n), d), dot(cross(n, a), d), -dot(cross(a, b), n)));
    float o = 1.0f - (transparency.r() + transparency.g() + transparency.b()) * 0.33333334f;
    float values[6] = {g.x() * o, g.y() * o, g.z() * o, n.x() * o, n.y() * o, n.z() * o};
    ctx.channels->write(131, values, 6);
}

} // namespace hair
