// Hair4BSDF per-point set-up: from the parameters and the strand at one shading point to the
// six lobes (colour, longitudinal variance, azimuthal scale, tilt, azimuthal offset), the
// diffuse term and the selection weights that eval and sampleRay read.
#include <algorithm>
#include <cmath>

#include "math/fast_math.h"
#include "production_hair/hair4_bsdf.h"
#include "production_hair/strand_random.h"

namespace hair {

namespace {

// Absorption per unit concentration.
const Color4 kEumelanin(0.419f, 0.697f, 1.37f);
const Color4 kPheomelanin(0.187f, 0.4f, 1.05f);

constexpr float kMaxVariance = 27.436644f;

// X moved by t·r, t = 2u - 1, with r limited so that the result stays within [lo, hi].
inline float randomOffset(StrandRandom& rng, float x, float lo, float hi, float r) {
    float t = 2.0f * rng.next() - 1.0f;
    r = std::min(r, t >= 0.0f ? hi - x : x - lo);
    return x + t * r;
}

// Longitudinal roughness β to the standard deviation of the lobe.
inline float roughnessToStdDev(float b) {
    float b2 = b * b;
    float b4 = b2 * b2;
    float b16 = b4 * b4 * b4 * b4;
    return 0.726f * b + 0.812f * b2 + 3.7f * b16 * b4;
}

inline float pow22(float b) {
    float b2 = b * b, b4 = b2 * b2, b8 = b4 * b4, b16 = b8 * b8;
    return b16 * b4 * b2;
}

// The dye colour moved in hue, saturation and value.
Color4 randomiseDye(Color4 y, float du, float ds, float dv, float uH, float uS, float uV) {
    float r = y.r(), g = y.g(), b = y.b();
    float mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
    float delta = mx - mn;
    float v = mx;
    float s = mx <= 0.0f ? 0.0f : delta / mx;
    float hue = 0.0f;
    if (s > 0.0f) {
        if (mx == r)
            hue = (g - b) / delta;
        else if (mx == g)
            hue = 2.0f + (b - r) / delta;
        else
            hue = 4.0f + (r - g) / delta;
        hue /= 6.0f;
        if (hue < 0.0f) hue += 1.0f;
    }
    hue += (2.0f * uH - 1.0f) * std::min(du, 1.0f);
    if (hue < 0.0f) hue += 1.0f;
    s = sat(s + (2.0f * uS - 1.0f) * ds);
    v = sat(v + (2.0f * uV - 1.0f) * dv);
    if (s < 0.0001f) return Color4(v, v, v);
    float h6 = (hue - std::floor(hue)) * 6.0f;
    int sector = std::min(static_cast<int>(h6), 5);
    float fr = h6 - static_cast<float>(sector);
    float p = v * (1.0f - s), q = v * (1.0f - s * fr), t = v * (1.0f - s * (1.0f - fr));
    switch (sector) {
    case 0:
        return Color4(v, t, p);
    case 1:
        return Color4(q, v, p);
    case 2:
        return Color4(p, v, t);
    case 3:
        return Color4(p, q, v);
    case 4:
        return Color4(t, p, v);
    default:
        return Color4(v, p, q);
    }
}

inline Color4 tint(const float* c) { return saturate(Color4(c[0], c[1], c[2])); }

inline float luminance(Color4 c) { return 0.3f * c.r() + 0.59f * c.g() + 0.11f * c.b(); }

} // namespace

void Hair4BSDF::setup(const quor::QuorContext& ctx, const Hair4Inputs& in, const quor::StrandRecord& rec) {
    // 1. Termination and transparency.
    static const quor::RenderSettings kDefaultSettings;
    const quor::RenderSettings& settings = ctx.settings ? *ctx.settings : kDefaultSettings;
    int depthLimit = settings.traceDepthOverrideOn ? settings.traceDepthOverride : in.traceDepth;
    terminal =
        (depthLimit <= ctx.rayDepth || settings.hairDepthEnabled == 0 || (ctx.rayFlags & quor::RAY_SHADOW))
            ? 1
            : 0;
    transparency = saturate(Color4::rgb(rec.transparency));
    albedoSum = Color4(0.0f);
    bool overrideRay = (ctx.hostCounter >= 1 && !(ctx.rayFlags & quor::RAY_MASK_OVERRIDE_A)) ||
                       (ctx.rayFlags & quor::RAY_MASK_OVERRIDE_B);
    if (overrideRay) {
        Color4 t = transparency;
        if (std::fabs(maxRGB(t) - 1.0f + maxRGB(Color4(1.0f) - t)) < 1e-6f)
            transparency = Color4(sat(ctx.getTransparencyOverride()));
    }
    if (terminal) {
        sampleCount = 0;
        return;
    }
    // Squared without signed overflow for any subdivs a scene can hold.
    sampleCount = static_cast<int>(static_cast<unsigned>(in.subdivs) * static_cast<unsigned>(in.subdivs));

    // 2. Per-strand values, drawn in a fixed order from the strand's stream.
    const quor::StrandDataInterface* strand = ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr;
    int strandIndex = strand ? strand->getStrandIndex(ctx) : 0;
    StrandRandom rng = StrandRandom::forStrand(strandIndex);

    float glitterG = 2.0f * clampf(in.glitterStrength, 0.0f, 2.0f);
    float glintS = sat(in.glintStrength);
    float glitterSize = std::max(in.glitterSize, 0.01f);
    float gv = sat(in.glintVariation);
    float g = std::min(2.0f * std::sqrt(gv), 1.0f);
    float floorR = std::min(0.25f * g, 0.05f);
    float floorH = std::min(1.25f * g, 0.25f);
    float kd = ctx.rayDepth <= 0 ? 1.0f : (ctx.rayDepth == 1 ? 2.0f : 4.0f);

    float beta0 = sqr(1.0f - clampf(in.glossiness, 0.001f, 0.999f));
    float betaM = randomOffset(rng, clampf(beta0, 0.01f, 1.0f), 0.01f, 1.0f,
                               std::max(std::max(in.randomGlossiness, 0.0f), floorR));
    float betaN = randomOffset(rng, clampf(in.softness, 0.01f, 1.0f), 0.01f, 1.0f,
                               std::max(std::max(in.randomSoftness, 0.0f), floorR));
    const float betaN24 = betaN;
    float eta = randomOffset(rng, clampf(in.ior, 1.0f, 10.0f), 1.0f, 10.0f, std::max(in.randomIor, 0.0f));
    float alpha = randomOffset(rng, clampf(in.highlightShift, -40.0f, 40.0f), -40.0f, 40.0f,
                               std::max(std::max(in.randomHighlightShift, 0.0f), floorH)) *
                  0.0174532924f;
    float alpha2 = 2.0f * alpha;

    Color4 dye = saturate(Color4::rgb(in.dyeColor));
    float uH = rng.next(), uS = rng.next(), uV = rng.next();
    float dHue = std::max(in.randomDyeHue, 0.0f), dSat = std::max(in.randomDyeSaturation, 0.0f),
          dVal = std::max(in.randomDyeValue, 0.0f);
    if (dHue != 0.0f || dSat != 0.0f || dVal != 0.0f) dye = randomiseDye(dye, dHue, dSat, dVal, uH, uS, uV);
    // (ln y / 6)²: a black channel absorbs everything. The cap keeps 0·∞ out of the
    // transmittance at grazing offsets.
    Color4 logDye = fastLog(dye);
    Color4 sigmaDye = lmin(sqr(1.0f / 6.0f) * logDye * logDye, Color4(1e30f));

    float melanin = randomOffset(rng, sat(in.melanin), 0.0f, 1.0f, std::max(in.randomMelanin, 0.0f));
    float pheo = sat(in.pheomelanin);
    Color4 sigmaA =
        sigmaDye + (5.0f * melanin * melanin) * ((1.0f - pheo) * kEumelanin + pheo * kPheomelanin);
    bool gray = rng.next() < in.grayHairDensity;
    if (gray) sigmaA = Color4(0.0f);

    float q = 0.5f * std::max(glitterG, glintS);
    float yG = 0.5f * glintS * (eta - 1.0f) / 0.55f;
    float glintFraction = std::min(yG, (1.0f / (1.0f + std::exp(-4.8f * yG)) - 0.5f) * 1.2f);
    bool pattern = ctx.rayDepth < 1 && strand != nullptr;
    bool glintOn = pattern && glintFraction > 0.0f;
    bool glitterLobeOn = pattern && q > 0.0f;
    bool glitterPatternOn = pattern && glitterG > 0.0f;
    bool glintVariationOn = pattern && g > 0.0f;

    Vec4 tangent(rec.tangent);
    float lossR = 0.0f, lossT = 0.0f, glintWidth = 1.0f, offsetTRT = 0.0f;
    glintSeparation = kPi * 0.25f;
    glitterPhiA = glitterPhiB = 0.0f;
    if (pattern) {
        float d = in.unitScale * (strand->getStrandLength(ctx) * strand->getStrandPosition(ctx));
        if (in.glintScale > 0.0001f) d /= in.glintScale;

        // The three draws of the offset direction are made whether or not it is used.
        float t0 = rng.next(), t1 = rng.next(), t2 = rng.next();
        if (in.randomTangent > 0.0f) {
            float z = 2.0f * t1 - 1.0f;
            float rho = std::sqrt(std::max(1.0f - z * z, 0.0f));
            float ph = kTwoPi * t2;
            Vec4 offset = ((t0 + 1.0f) * 0.5f) * Vec4(rho * std::cos(ph), rho * std::sin(ph), z);
            tangent += offset * (in.randomTangent * (rng.next() - 0.5f));
        }

        glitterPhiA = kPi * rng.next();
        glitterPhiB = glitterPhiA - kPi;
        glintSeparation = kPi * 0.25f + (rng.next() - 0.5f) * 1.3962635f;
        offsetTRT = g * 1.0210176f * (rng.next() - 0.5f);

        const std::int64_t base = StrandRandom::strandBase(strandIndex);
        if (glitterPatternOn) {
            float cell = 0.15f * glitterSize;
            StrandSegment seg = StrandSegments::find(base + 768, d, cell, 0.5f, 0.25f);
            float c = seg.stream.next() <= 0.5f ? 1.0f : 0.0f;
            float sign = seg.stream.next() > 0.5f ? -1.0f : 1.0f;
            float um = seg.stream.next();
            float ua = seg.stream.next();
            float ub = seg.stream.next();
            float w = std::min(0.3f * cell / std::sqrt(glitterSize), 0.4f * std::fabs(seg.end - seg.start));
            float f = w * 0.5f;
            lossR = 0.3f * seg.blend(d, c, w, f, 0.9f * std::min(16.0f * glitterG, 1.0f),
                                     0.5f * std::min(2.0f * glitterG, 1.0f), 0.0f);
            float dphi = seg.blend(d, c, w, f, kPi * 0.25f * sign * (1.0f + um), (ua - 0.5f) * kPi * 0.5f,
                                   (ub - 0.5f) * kPi * 0.5f);
            glitterPhiA += dphi;
            glitterPhiB += dphi;
            float pm = roughnessToStdDev(std::min(betaM, 1.0f));
            alpha2 += std::sqrt(std::max((1.0f - in.boost) * pm * pm, 0.0f)) * (seg.stream.next() - 0.5f);
        }
        if (glintVariationOn) {
            StrandSegment seg = StrandSegments::find(base + 1024, d, 0.3f, 0.85f, 0.5f);
            float c = seg.stream.next() <= 0.5f ? 1.0f : 0.0f;
            float r1 = (seg.stream.next() - 0.5f) * (kPi * 0.5f) * gv;
            float r2 = (seg.stream.next() - 0.5f) * (kPi * 0.5f) * gv;
            glintSeparation += seg.blend(d, c, 0.045f, 0.045f, 0.0f, r1, r2);
            glintWidth = seg.blend(d, c, 0.09f, 0.09f, 1.0f, 1.0f, 1.0f + std::min(g, 0.5f));
            glintFraction *= 1.0f - seg.blend(d, c, 0.09f, 0.09f, 0.8f * g, 0.4f * g, 0.0f);
            offsetTRT += seg.blend(d, c, 0.045f, 0.045f, 0.0f, r1 * 0.5f, r2 * 0.5f);
            lossT = seg.blend(d, c, 0.06f, 0.06f, 0.8f * g, 0.4f * g, 0.0f);
            betaN += seg.blend(d, 0.0f, 0.09f, 0.09f, 0.0f, (seg.stream.next() - 0.5f) * 0.2f * gv, 0.0f);
            betaM += seg.blend(d, 0.0f, 0.09f, 0.09f, 0.0f, (seg.stream.next() - 0.5f) * 0.2f * gv, 0.0f);
            float x = seg.endWeight(d, 0.09f, 0.09f);
            alpha += 0.00872664619f * gv * (seg.stream.next() - 0.5f) * (1.0f - x);
        }
    }

    // 3. Longitudinal variances and azimuthal scales.
    float pm = roughnessToStdDev(betaM);
    float v = std::min(kd * pm * pm, kMaxVariance);
    lobeVariance[R] = clampf((1.0f - in.boost) * v, 1e-6f, 10.0f);
    lobeVariance[TT] = clampf(v * 0.25f, 1e-6f, 10.0f);
    lobeVariance[TRT] = lobeVariance[Residual] = clampf(4.0f * v, 1e-6f, 10.0f);
    float bn = clampf(betaN, 0.01f, 1.0f);
    float s = std::min(kd * 0.62665707f * ((0.265f + 1.194f * bn) * bn + 5.372f * pow22(bn)), 4.2806945f);
    lobeScale[R] = lobeScale[TT] = lobeScale[TRT] = lobeScale[Residual] = s;
    if (glintOn) {
        lobeVariance[Glint] = clampf(v, 1e-6f, 10.0f);
        lobeScale[Glint] = glintWidth * 0.11715981f;
    } else {
        lobeVariance[Glint] = lobeVariance[TRT];
        lobeScale[Glint] = s;
    }
    if (glitterLobeOn) {
        float p0 = roughnessToStdDev(beta0);
        lobeVariance[Glitter] =
            clampf((1.0f - in.boost) * 0.25f * std::min(p0 * p0, kMaxVariance), 1e-6f, 10.0f);
        lobeScale[Glitter] = 0.27008998f;
    } else {
        lobeVariance[Glitter] = lobeVariance[R];
        lobeScale[Glitter] = s;
    }

    // 4. Frame and the outgoing angle tilted by each lobe's cuticle angle.
    Vec4 dir(ctx.rayDir);
    axisT = normalizeSafe(tangent);
    axisX = normalizeSafe(cross(axisT, dir));
    axisY = normalizeSafe(cross(axisT, axisX));
    Vec4 wo = -dir;
    float sinThetaO = clampf(dot(wo, axisT), -1.0f, 1.0f);
    float cosThetaO = std::sqrt(1.0f - sinThetaO * sinThetaO);
    float phiO = std::atan2(dot(wo, axisY), dot(wo, axisX));

    float s1 = std::sin(alpha), c1 = std::cos(alpha);
    float s2 = clampf(2.0f * s1 * c1, -1.0f, 1.0f), c2 = clampf(c1 * c1 - s1 * s1, -1.0f, 1.0f);
    float s4 = clampf(2.0f * s2 * c2, -1.0f, 1.0f), c4 = clampf(c2 * c2 - s2 * s2, -1.0f, 1.0f);
    float tiltS[kLobes], tiltC[kLobes];
    tiltS[R] = -s2, tiltC[R] = c2;
    tiltS[TT] = s1, tiltC[TT] = c1;
    tiltS[TRT] = s4, tiltC[TRT] = c4;
    if (glitterLobeOn)
        tiltS[Glitter] = -std::sin(alpha2), tiltC[Glitter] = std::cos(alpha2);
    else
        tiltS[Glitter] = -s2, tiltC[Glitter] = c2;
    if (glintOn) {
        float b2 = betaN24 * betaN24;
        float gamma4 = 4.0f * alpha * std::max(1.0f - 2.86f * b2 * b2 * b2, 0.25f);
        tiltS[Glint] = std::sin(gamma4), tiltC[Glint] = std::cos(gamma4);
    } else {
        tiltS[Glint] = s4, tiltC[Glint] = c4;
    }
    tiltS[Residual] = 0.0f, tiltC[Residual] = 1.0f;
    for (int k = 0; k < kLobes; ++k) {
        lobeSinThetaO[k] = clampf(sinThetaO * tiltC[k] - cosThetaO * tiltS[k], -1.0f, 1.0f);
        lobeCosThetaO[k] = std::fabs(clampf(cosThetaO * tiltC[k] + sinThetaO * tiltS[k], -1.0f, 1.0f));
    }

    // 5. Lobe colours and azimuthal offsets.
    float hp = clampf(-rec.h, -1.0f, 1.0f);
    float gammaO = std::asin(hp);
    // The divisors are floored so that a view along the strand stays finite.
    float etaP = std::sqrt(std::max(eta * eta - sinThetaO * sinThetaO, 0.0f)) / std::max(cosThetaO, 1e-7f);
    float sinGammaT = clampf(hp / std::max(etaP, 1e-7f), -1.0f, 1.0f);
    float gammaT = std::asin(sinGammaT);
    float cosGammaT = std::sqrt(1.0f - sinGammaT * sinGammaT);
    float cosThetaT = std::max(std::sqrt(std::max(1.0f - sqr(sinThetaO / eta), 0.0f)), 1e-7f);
    Color4 trans = fastExp(-sigmaA * (2.0f * cosGammaT / cosThetaT));
    float fr = hair4::fresnel(eta, sat(cosThetaO * std::sqrt(std::max(1.0f - hp * hp, 0.0f))));

    if (!glintOn && !glitterLobeOn) {
        float t1 = 1.0f - fr;
        lobeColor[R] = Color4(fr);
        lobeColor[TT] = (t1 * t1) * trans;
        lobeColor[TRT] = (t1 * t1 * fr) * trans * trans;
        lobeColor[Residual] = std::fabs(1.0f - fr) <= 1e-6f
                                  ? Color4(0.0f)
                                  : lobeColor[TRT] * fr * trans / (Color4(1.0f) - fr * trans);
        lobeColor[Glitter] = lobeColor[Glint] = Color4(0.0f);
        lobePhi[R] = phiO + 2.0f * gammaO;
        lobePhi[TT] = phiO - kPi + 2.0f * gammaO - 2.0f * gammaT;
        lobePhi[TRT] = hair4::wrapPi(phiO - kTwoPi + 2.0f * gammaO - 4.0f * gammaT + offsetTRT);
        lobePhi[Glitter] = lobePhi[Glint] = lobePhi[Residual] = 0.0f;
    } else {
        float f0 = hair4::fresnel(eta, sat(cosThetaO));
        float fR = std::max(1.0f - q * 0.5f, 0.5f) * fr;
        float fQ = std::min(2.0f * q * f0 + fR, 1.0f);
        float kq = 1.0f - fQ;
        float b2 = betaN24 * betaN24;
        float xi = std::max(1.0f - 0.732f * b2 * b2, 0.7f);
        Color4 transG = fastExp(-sigmaA * (4.0f * cosGammaT * xi / cosThetaT));
        lobeColor[R] = Color4((1.0f - lossR) * fR);
        lobeColor[Glitter] = Color4(fQ - fR);
        lobeColor[TT] = trans * ((1.0f - glintFraction) * (1.0f - fr) * kq);
        lobeColor[Glint] = transG * (glintFraction * (1.0f - fr) * kq);
        Color4 t2 = trans * trans;
        Color4 t4 = t2 * t2;
        Color4 a2 = t2 * ((1.0f - fr) * fr * kq);
        lobeColor[Residual] = t4 * (kq * fr * fr) + t4 * (lossR * fR) + t2 * lossT * a2;
        lobeColor[TRT] = (1.0f - lossT) * a2;
        lobePhi[R] = hair4::wrapPi(phiO + 2.0f * gammaO);
        float phiTT = phiO - kPi - 2.0f * gammaT + 2.0f * gammaO;
        lobePhi[TT] = hair4::wrapPi(phiTT);
        lobePhi[TRT] = hair4::wrapPi(phiO - kTwoPi - 4.0f * gammaT + 2.0f * gammaO + offsetTRT);
        lobePhi[Glitter] = phiO;
        lobePhi[Glint] = (phiTT + 1.57079649f) * 0.25f + 1.57079625f;
        lobePhi[Residual] = 0.0f;
    }

    // 6. Tints, diffuse and selection weights.
    float dA = sat(in.diffuseAmount);
    if (!gray) {
        Color4 pT = tint(in.primaryTint), sT = tint(in.secondaryTint), tT = tint(in.transmissionTint);
        lobeColor[R] *= pT;
        lobeColor[Glitter] *= pT;
        lobeColor[TT] *= tT;
        lobeColor[TRT] *= sT;
        lobeColor[Glint] *= sT;
        lobeColor[Residual] *= sT;
        diffuseColor = saturate(Color4::rgb(rec.color)) * dA;
    } else {
        diffuseColor = Color4(dA);
    }
    float lum[kLobes];
    float total = dA;
    for (int k = 0; k < kLobes; ++k) {
        lobeColor[k] *= 1.0f - dA;
        lum[k] = luminance(lobeColor[k]);
        total += lum[k];
    }
    if (total < 1e-8f) {
        lum[Residual] += 1e-8f;
        total += 1e-8f;
    }
    albedoSum = diffuseColor;
    for (int k = 0; k < kLobes; ++k) {
        lobeWeight[k] = lum[k] / total;
        albedoSum += lobeColor[k];
    }
    diffuseWeight = dA / total;
    useLightMIS = 1;
    finishLobes();
}

} // namespace hair
