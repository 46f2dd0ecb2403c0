#include "three_lobe_hair/brdf_hair2.h"

#include <algorithm>
#include <cmath>

#include "frame/host_rules.h"
#include "math/dispatch.h"
#include "math/numeric.h"
#include "math/wide_math.h"
#include "three_lobe_hair/azimuthal_lanes.h"

namespace hair {

namespace {

double dotD(Vec4 a, Vec4 b) {
    return static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] +
           static_cast<double>(a[2]) * b[2];
}

// Light and view along the strand in opposite senses drive cos θd to 0 and the lobes' 1/cos²θd
// to infinity; past 89.4° (cos²θd = 1e-4) the factor holds its value there.
constexpr float kMinCosThetaD2 = 1e-4f;
// The smallest Bravais index we divide by (η'' = η²/η', c = asin(1/η')).
constexpr float kMinEtaP = 1e-6f;

} // namespace

// --- plug-in ----------------------------------------------------------------------------------

BRDFHair2::BRDFHair2(quor::QuorPluginDesc* desc) : SimpleBSDF<MayaHairBSDF2>(desc) { bindAll(values_); }

void BRDFHair2::setupSampler(quor::QuorContext& ctx, MayaHairBSDF2& s, int) {
    quor::StrandRecord rec; // colour and transparency 0, tangent (0, 0, 1)
    const quor::StrandDataInterface* strand = nullptr;
    if (ctx.surfaceData) strand = ctx.surfaceData->strandData();
    if (strand) {
        strand->getStrandRecord(ctx, rec);
        s.strandDir = Vec4(rec.tangent);
    } else {
        // The world's z axis with its part along the normal removed; left unnormalised (zero)
        // when the normal is the z axis itself.
        const Vec4 n(ctx.normal);
        s.strandDir = normalizeSafe(cross(cross(n, Vec4(0.0f, 0.0f, 1.0f)), n));
    }
    const Color4 color = values_.color("diffuse_color_tex", ctx, Color4::rgb(rec.color));
    s.absorption = values_.color("absorption", ctx);
    s.transparency = saturate(Color4::rgb(rec.transparency));
    s.diffuseColor = saturate(color) * complement(s.transparency);

    auto degrees = [this](ParamBlock<kBRDFHair2Params>::Name n) { return values_.value(n) * kDegToRad; };
    s.eta = values_.value("refraction_index");
    s.shiftR = degrees("r_long_shift");
    s.shiftTT = degrees("tt_long_shift");
    s.shiftTRT = degrees("trt_long_shift");
    s.widthR = degrees("r_long_width");
    s.widthTT = degrees("tt_long_width");
    s.widthTRT = degrees("trt_long_width");
    s.multR = values_.value("r_mult");
    s.multTT = values_.value("tt_mult");
    s.multTRT = values_.value("trt_mult");
    s.diffuseMult = values_.value("diffuse_mult");
    s.causticLimit = values_.value("caustic_limit");
    s.causticWidth = degrees("azimuthal_width");
    s.glintScale = values_.value("glint_scale");
    s.fadeRange = values_.value("fade_range");
}

// --- sampler ----------------------------------------------------------------------------------

float azimuthCosine(Vec4 L, Vec4 V, Vec4 T) {
    const double lt = dotD(L, T), vt = dotD(V, T);
    double pl[3], pv[3];
    for (int i = 0; i < 3; ++i) {
        pl[i] = L[i] - lt * T[i];
        pv[i] = V[i] - vt * T[i];
    }
    const double ll = pl[0] * pl[0] + pl[1] * pl[1] + pl[2] * pl[2];
    const double vv = pv[0] * pv[0] + pv[1] * pv[1] + pv[2] * pv[2];
    float cosPhi = -1.0f;
    if (ll > 0.0 && vv > 0.0) {
        const double lv = pl[0] * pv[0] + pl[1] * pv[1] + pl[2] * pv[2];
        cosPhi = static_cast<float>(lv / std::sqrt(ll * vv));
    }
    return cosPhi;
}

namespace {

// The specular lobes for one geometry (θh, θd, cos θi and φ), before the light colour:
// (R + TT + TRT) / cos²θd.
HAIR_LANES Color4 specularLobes(const MayaHairBSDF2& m, float thetaH, float sinThetaD, float cosThetaD,
                                float cosThetaI, float phi) {
    const float eta = m.eta;
    const float s = sinThetaD, k = cosThetaD;
    azimuthal::Fibre f;
    f.eta = eta;
    f.etaP = std::sqrt(eta * eta - s * s) / k;
    // Light and view exactly opposite along the strand: θd is ±π/2 rounded outwards, cos θd
    // comes out as −4e-8 and η' as 0 or negative. The same quantity written as
    // √((η² − 1)/cos²θd + 1) keeps its limit: 1 for η = 1, very large otherwise.
    if (!(f.etaP > 0.0f) || std::isinf(f.etaP)) f.etaP = std::sqrt((eta * eta - 1.0f) / (k * k) + 1.0f);
    // An index below |sin θd| (η < 1, down to the registered 0) has no real η'.
    if (!(f.etaP >= kMinEtaP)) f.etaP = kMinEtaP;
    f.etaPP = eta * eta / f.etaP;
    f.sigma = m.absorption;

    const azimuthal::Glint glint{m.causticWidth, m.glintScale, m.causticLimit, m.fadeRange};
    azimuthal::LobeTerms n;
    // c = asin(1/η'), as azimuthal::criticalAngle.
    azimuthal::lanes::lobeSumsOf(asinPrecise(1.0f / f.etaP), cosThetaI, f, phi, &glint, n);

    // The normalised longitudinal Gaussians of R, TT and TRT side by side (widths floored as
    // in azimuthal.h).
    const f4 x = thetaH - f4{m.shiftR, m.shiftTT, m.shiftTRT, 0.0f};
    const f4 w = {azimuthal::floorWidth(m.widthR), azimuthal::floorWidth(m.widthTT),
                  azimuthal::floorWidth(m.widthTRT), 1.0f};
    const f4 e = __builtin_convertvector(expWide(__builtin_convertvector(-(x * x) / (2.0f * w * w), d4)), f4);
    const f4 mp = e / __builtin_ia32_sqrtps(kTwoPi * w * w);
    return (n.r * mp[0] * m.multR + n.tt * mp[1] * m.multTT + n.trt * mp[2] * m.multTRT) /
           std::max(k * k, kMinCosThetaD2);
}

// The specular lobes for the light at sin θi, the viewer at sin θr and the azimuth cos φ between
// them, and cos θi: one pass, the paths' lanes included.
HAIR_LANE_KERNEL void specularKernel(const MayaHairBSDF2& m, float sinThetaI, float sinThetaR, float cosPhi,
                                     Color4& spec, float& cosThetaI) {
    // θi, θr and φ = acos(cos φ) = π/2 − asin(cos φ) in one pass, clamped as safeAsin.
    const d4 a = asinWide(
        d4{clampf(sinThetaI, -1.0f, 1.0f), clampf(sinThetaR, -1.0f, 1.0f), clampf(cosPhi, -1.0f, 1.0f), 0.0});
    const float thetaI = static_cast<float>(a[0]), thetaR = static_cast<float>(a[1]);
    const float phi = static_cast<float>((wide::kHalfPi - a[2]) + wide::kHalfPiLo);
    const float thetaH = (thetaI + thetaR) * 0.5f;
    const float thetaD = (thetaI - thetaR) * 0.5f;
    d4 sines, cosines;
    sincosWide(d4{thetaD, thetaI, 0.0, 0.0}, sines, cosines);
    cosThetaI = static_cast<float>(cosines[1]);
    spec = specularLobes(m, thetaH, static_cast<float>(sines[0]), static_cast<float>(cosines[0]), cosThetaI,
                         phi);
}

} // namespace

quor::Color MayaHairBSDF2::eval(const quor::QuorContext& ctx, const quor::Vector& Lh, quor::Color& lightColor,
                                quor::Color& unshadowedLightColor, float, int flags) {
    const Vec4 L(Lh);
    if (dot(L, Vec4(ctx.normal)) < 0.0f) return {0, 0, 0, 0};
    const Vec4 T = strandDir;
    const float sinThetaI = static_cast<float>(dotD(L, T));
    const bool specularOn = (flags & quor::EVAL_SPECULAR) && !(ctx.rayFlags & quor::RAY_NO_SPECULAR);

    Color4 s(0.0f);
    float cosThetaI;
    if (specularOn) {
        const Vec4 V = -Vec4(ctx.rayDir);
        specularKernel(*this, sinThetaI, dot(V, T), azimuthCosine(L, V, T), s, cosThetaI);
    } else {
        float sinTheta;
        sincosPrecise(asinPrecise(sinThetaI), sinTheta, cosThetaI);
    }
    Color4 k(0.0f);
    if (flags & quor::EVAL_DIFFUSE) k = diffuseColor * cosThetaI * diffuseMult;

    const Color4 light = Color4(lightColor) * lightTransmission;
    lightColor = light.host();
    unshadowedLightColor = (Color4(unshadowedLightColor) * lightTransmission).host();
    // Negative multipliers, colours or absorption are not refused; their results are.
    return finiteNonNegative((s + k) * light).host();
}

quor::BRDFSampler* MayaHairBSDF2::getBRDF(int side) {
    const Color4 one(1.0f);
    lightTransmission =
        side == quor::SIDE_FRONT ? (one + transparency) * 0.5f : 2.0f * transparency / (one + transparency);
    return this;
}

quor::Color MayaHairBSDF2::getDiffuseColor(quor::Color& weight) {
    const Color4 w(weight);
    weight = (w * lightTransmission).host();
    return (w * diffuseColor).host();
}

quor::Color MayaHairBSDF2::getLightMultiplier(quor::Color& weight) {
    const Color4 w(weight);
    weight = (w * lightTransmission).host();
    return w.host();
}

void MayaHairBSDF2::traceForward(quor::QuorContext& ctx, int doDiffuse) {
    ctx.result.gi = doDiffuse ? (diffuseColor * Color4(ctx.giColor())).host() : quor::Color{0, 0, 0, 0};
    ctx.result.transparency = transparency.host();
    ctx.result.opacity = complement(transparency).host();
    ctx.result.transparency2 = transparency.host();
}

} // namespace hair
