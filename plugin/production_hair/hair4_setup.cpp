// Hair4BSDF per-point set-up: from the parameters and the strand at one shading point to the
// six lobes (colour, longitudinal variance, azimuthal scale, tilt, azimuthal offset), the
// diffuse term and the selection weights that eval and sampleRay read. One function per step,
// in the order they run:
//   0 finiteInputs       NaN and ±inf inputs made finite
//   1 terminate          termination and transparency
//   2 drawStrandValues   per-strand values: every draw of the strand's stream, in its order,
//                        with the glitter and glint patterns along the strand
//   3 setLongitudinal    longitudinal variances and azimuthal scales
//   4 setFrame           frame and the outgoing angle tilted per lobe
//   5 setLobeColors      lobe colours and azimuthal offsets
//   6 setWeights         tints, diffuse term and selection weights
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/host_rules.h"
#include "math/fast_math.h"
#include "production_hair/hair4_bsdf.h"
#include "production_hair/production_hair_params.h"
#include "production_hair/strand_random.h"

namespace hair {

namespace {

// Absorption per unit concentration.
const Color4 kEumelanin(0.419f, 0.697f, 1.37f);
const Color4 kPheomelanin(0.187f, 0.4f, 1.05f);

// Longitudinal variance at most (27.436644 = P(1)², the widest roughness), lobe variances in
// [1e-6, 10].
constexpr float kMaxVariance = 27.436644f;
constexpr float kMinLobeVariance = 1e-6f, kMaxLobeVariance = 10.0f;
// Logistic scale of the azimuthal roughness: √(π/8) times a polynomial in β, at most 4.2806945.
constexpr float kSqrtPiOver8 = 0.62665707f;
constexpr float kMaxLogisticScale = 4.2806945f;
// The fixed logistic scales of the glint and glitter lobes.
constexpr float kGlintLobeScale = 0.11715981f;
constexpr float kGlitterLobeScale = 0.27008998f;
// Spread of the per-strand glint separation (80°) and TRT azimuth offset (58.5°), radians.
constexpr float kGlintSeparationSpread = 1.3962635f;
constexpr float kTrtOffsetSpread = 1.0210176f;
// Half a degree: the largest tilt the glint variation adds to the cuticle angle.
constexpr float kHalfDegree = 0.00872664619f;
// The glint lobe's azimuth: π/2 one unit in the last place above and below.
constexpr float kHalfPiAbove = 1.57079649f, kHalfPiBelow = 1.57079625f;
// The glint fraction grows with η - 1 relative to human hair's 0.55, through a logistic.
constexpr float kHumanIorExcess = 0.55f;
constexpr float kGlintLogisticRate = 4.8f, kGlintLogisticGain = 1.2f;
// Limits of the per-strand inputs.
constexpr float kMinRoughness = 0.01f;
constexpr float kMinGlossiness = 0.001f, kMaxGlossiness = 0.999f;
constexpr float kMaxIor = 10.0f;
constexpr float kMaxShiftDegrees = 40.0f;
constexpr float kMinGlitterSize = 0.01f;
constexpr float kMinGlintScale = 0.0001f;

// A pattern of events along the strand: the offset of its cells' seeds from the strand base,
// the cell length, the event jitter within a cell and the event threshold.
struct SegmentPattern {
    std::int64_t seedOffset;
    float jitter, threshold;
};
constexpr SegmentPattern kGlitterPattern{768, 0.5f, 0.25f};
constexpr float kGlitterCellPerSize = 0.15f;
constexpr SegmentPattern kGlintPattern{1024, 0.85f, 0.5f};
constexpr float kGlintCell = 0.3f;

// a where c holds, else b, chosen on the bits: a random sign is a branch the processor
// mispredicts half the time.
inline float pick(bool c, float a, float b) {
    std::uint32_t ia, ib;
    std::memcpy(&ia, &a, sizeof ia);
    std::memcpy(&ib, &b, sizeof ib);
    const std::uint32_t m = 0u - static_cast<std::uint32_t>(c);
    const std::uint32_t r = (ia & m) | (ib & ~m);
    float out;
    std::memcpy(&out, &r, sizeof out);
    return out;
}

// X moved by t·r, t = 2u - 1, with r limited so that the result stays within [lo, hi].
inline float randomOffset(StrandRandom& rng, float x, float lo, float hi, float r) {
    float t = 2.0f * rng.next() - 1.0f;
    r = std::min(r, pick(t >= 0.0f, hi - x, x - lo));
    return x + t * r;
}

// Longitudinal roughness β to the standard deviation of the lobe.
inline float roughnessToStdDev(float b) {
    float b2 = b * b;
    float b4 = b2 * b2;
    float b16 = b4 * b4 * b4 * b4;
    return 0.726f * b + 0.812f * b2 + 3.7f * b16 * b4;
}

// Azimuthal roughness β to the logistic scale, in units of √(π/8) and before the depth factor.
inline float azimuthalScale(float b) {
    float b2 = b * b, b4 = b2 * b2, b8 = b4 * b4, b16 = b8 * b8;
    return (0.265f + 1.194f * b) * b + 5.372f * (b16 * b4 * b2);
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

// Absorption of the dye, (ln y / 6)² per channel: a black channel absorbs everything. The cap
// keeps 0·∞ out of the transmittance at grazing offsets. White dye (the default) absorbs
// nothing, without the logarithm.
inline Color4 dyeAbsorption(Color4 dye) {
    if (dye.r() == 1.0f && dye.g() == 1.0f && dye.b() == 1.0f) return Color4(0.0f);
    Color4 logDye = fastLog(dye);
    return lmin(sqr(1.0f / 6.0f) * logDye * logDye, Color4(1e30f));
}

inline Color4 tint(const float* c) { return saturate(Color4(c[0], c[1], c[2])); }

inline float luminance(Color4 c) { return 0.3f * c.r() + 0.59f * c.g() + 0.11f * c.b(); }

// Everything the strand's random stream and its patterns decide for the point.
struct StrandValues {
    float beta0;        // longitudinal roughness before clamping and randomising
    float betaM, betaN; // longitudinal and azimuthal roughness
    float betaN24;      // betaN before the glint variation
    float eta;          // index of refraction
    float alpha, alpha2;
    Color4 sigmaA; // absorption of the fibre interior
    bool gray;
    float q; // glitter lobe strength
    float glintFraction;
    bool glintOn, glitterLobeOn;
    Vec4 tangent;
    float lossR = 0, lossT = 0, glintWidth = 1, offsetTRT = 0;
};

// Step 2.15: the glitter pattern, from its own segment stream.
void glitterPattern(Hair4BSDF& s, StrandValues& v, std::int64_t base, float d, float glitterG,
                    float glitterSize, float boost) {
    float cell = kGlitterCellPerSize * glitterSize;
    StrandSegment seg = StrandSegments::find(base + kGlitterPattern.seedOffset, d, cell,
                                             kGlitterPattern.jitter, kGlitterPattern.threshold);
    float c = seg.stream.next() <= 0.5f ? 1.0f : 0.0f;
    float sign = seg.stream.next() > 0.5f ? -1.0f : 1.0f;
    float um = seg.stream.next();
    float ua = seg.stream.next();
    float ub = seg.stream.next();
    float w = std::min(0.3f * cell / std::sqrt(glitterSize), 0.4f * std::fabs(seg.end - seg.start));
    float f = w * 0.5f;
    v.lossR = 0.3f * seg.blend(d, c, w, f, 0.9f * std::min(16.0f * glitterG, 1.0f),
                               0.5f * std::min(2.0f * glitterG, 1.0f), 0.0f);
    float dphi = seg.blend(d, c, w, f, kPi * 0.25f * sign * (1.0f + um), (ua - 0.5f) * kPi * 0.5f,
                           (ub - 0.5f) * kPi * 0.5f);
    s.glitterPhiA += dphi;
    s.glitterPhiB += dphi;
    float pm = roughnessToStdDev(std::min(v.betaM, 1.0f));
    v.alpha2 += std::sqrt(std::max((1.0f - boost) * pm * pm, 0.0f)) * (seg.stream.next() - 0.5f);
}

// Step 2.16: the glint's variation along the strand, from its own segment stream.
void glintVariation(Hair4BSDF& s, StrandValues& v, std::int64_t base, float d, float gv, float g) {
    StrandSegment seg = StrandSegments::find(base + kGlintPattern.seedOffset, d, kGlintCell,
                                             kGlintPattern.jitter, kGlintPattern.threshold);
    float c = seg.stream.next() <= 0.5f ? 1.0f : 0.0f;
    float r1 = (seg.stream.next() - 0.5f) * (kPi * 0.5f) * gv;
    float r2 = (seg.stream.next() - 0.5f) * (kPi * 0.5f) * gv;
    s.glintSeparation += seg.blend(d, c, 0.045f, 0.045f, 0.0f, r1, r2);
    v.glintWidth = seg.blend(d, c, 0.09f, 0.09f, 1.0f, 1.0f, 1.0f + std::min(g, 0.5f));
    v.glintFraction *= 1.0f - seg.blend(d, c, 0.09f, 0.09f, 0.8f * g, 0.4f * g, 0.0f);
    v.offsetTRT += seg.blend(d, c, 0.045f, 0.045f, 0.0f, r1 * 0.5f, r2 * 0.5f);
    v.lossT = seg.blend(d, c, 0.06f, 0.06f, 0.8f * g, 0.4f * g, 0.0f);
    v.betaN += seg.blend(d, 0.0f, 0.09f, 0.09f, 0.0f, (seg.stream.next() - 0.5f) * 0.2f * gv, 0.0f);
    v.betaM += seg.blend(d, 0.0f, 0.09f, 0.09f, 0.0f, (seg.stream.next() - 0.5f) * 0.2f * gv, 0.0f);
    float x = seg.endWeight(d, 0.09f, 0.09f);
    v.alpha += kHalfDegree * gv * (seg.stream.next() - 0.5f) * (1.0f - x);
}

// Step 0: the inputs as the clamps below expect them. A host's texture or scene may hand over NaN
// or ±inf: NaN takes the value of an unconnected slot (the parameter table's), ±inf becomes
// ±FLT_MAX; finite values keep their bits. One pass over the floats, in lanes.
constexpr Hair4Inputs unconnectedInputs() {
    using Name = ParamName<kBRDFHair4Params>;
    auto f = [](Name n) { return kBRDFHair4Params[n.index].unboundFloatValue(); };
    auto rgb = [](Name n, float(&c)[3]) {
        const quor::Color v = kBRDFHair4Params[n.index].unboundColorValue();
        c[0] = v.r, c[1] = v.g, c[2] = v.b;
    };
    Hair4Inputs in{};
    in.boost = f("primary_glossiness_boost");
    in.glossiness = f("glossiness");
    in.softness = f("softness");
    in.highlightShift = f("highlight_shift");
    in.ior = f("ior");
    rgb("dye_color", in.dyeColor);
    in.melanin = f("melanin");
    in.pheomelanin = f("pheomelanin");
    in.diffuseAmount = f("diffuse_amount");
    in.randomMelanin = f("random_melanin");
    in.randomDyeHue = f("random_dye_hue");
    in.randomDyeSaturation = f("random_dye_saturation");
    in.randomDyeValue = f("random_dye_value");
    in.randomGlossiness = f("random_glossiness");
    in.randomSoftness = f("random_softness");
    in.randomHighlightShift = f("random_highlight_shift");
    in.randomIor = f("random_ior");
    in.randomTangent = f("random_tangent");
    in.grayHairDensity = f("gray_hair_density");
    in.glintStrength = f("glint_strength");
    in.glintVariation = f("glint_variation");
    in.glitterStrength = f("glitter_strength");
    in.glitterSize = f("glitter_size");
    in.glintScale = f("glint_scale");
    in.unitScale = 100.0f; // a scene without units
    rgb("primary_tint", in.primaryTint);
    rgb("secondary_tint", in.secondaryTint);
    rgb("transmission_tint", in.transmissionTint);
    return in;
}
constexpr Hair4Inputs kUnconnected = unconnectedInputs();
constexpr int kInputFloats = static_cast<int>(offsetof(Hair4Inputs, subdivs) / sizeof(float));
static_assert(offsetof(Hair4Inputs, transmissionTint) + sizeof(float[3]) == offsetof(Hair4Inputs, subdivs));

bool allFinite(const Hair4Inputs& in) {
    float v[kInputFloats];
    std::memcpy(v, &in, sizeof v);
    bool finite = true;
    for (float x : v)
        finite &= std::fabs(x) <= FLT_MAX; // false for NaN and ±inf
    return finite;
}

Hair4Inputs finiteInputs(const Hair4Inputs& raw) {
    float v[kInputFloats], fallback[kInputFloats];
    std::memcpy(v, &raw, sizeof v);
    std::memcpy(fallback, &kUnconnected, sizeof fallback);
    for (int i = 0; i < kInputFloats; ++i)
        v[i] = finiteOr(v[i], fallback[i]);
    Hair4Inputs in = raw;
    std::memcpy(static_cast<void*>(&in), v, sizeof v); // the floats lead the struct
    return in;
}

// Step 1: termination and transparency. Returns whether the point gets no lobes.
bool terminate(Hair4BSDF& s, const quor::QuorContext& ctx, const Hair4Inputs& in,
               const quor::StrandRecord& rec) {
    static const quor::RenderSettings kDefaultSettings;
    const quor::RenderSettings& settings = ctx.settings ? *ctx.settings : kDefaultSettings;
    int depthLimit = settings.traceDepthOverrideOn ? settings.traceDepthOverride : in.traceDepth;
    s.terminal =
        (depthLimit <= ctx.rayDepth || settings.hairDepthEnabled == 0 || (ctx.rayFlags & quor::RAY_SHADOW))
            ? 1
            : 0;
    s.transparency = overriddenTransparency(ctx, saturate(Color4::rgb(rec.transparency)));
    s.albedoSum = Color4(0.0f);
    if (s.terminal) {
        s.sampleCount = 0;
        return true;
    }
    // Squared without signed overflow for any subdivs a scene can hold.
    s.sampleCount = static_cast<int>(static_cast<unsigned>(in.subdivs) * static_cast<unsigned>(in.subdivs));
    return false;
}

// Step 2: the per-strand values. Every draw of the strand's stream happens here, in this order:
// longitudinal and azimuthal roughness, index of refraction, shift, the three dye draws,
// melanin, the gray-hair draw, then (with the strand patterns) the three tangent-offset draws,
// the fourth when random_tangent is on, and the glitter angle, glint separation and TRT offset.
StrandValues drawStrandValues(Hair4BSDF& s, const quor::QuorContext& ctx, const Hair4Inputs& in,
                              const quor::StrandRecord& rec, const quor::StrandDataInterface* strand) {
    const int strandIndex = strand ? strand->getStrandIndex(ctx) : 0;
    StrandRandom rng = StrandRandom::forStrand(strandIndex);
    StrandValues v;

    // 2.1 Pre-clamps and the floors the glint variation sets for the random offsets.
    const float glitterG = 2.0f * clampf(in.glitterStrength, 0.0f, 2.0f);
    const float glintS = sat(in.glintStrength);
    const float glitterSize = std::max(in.glitterSize, kMinGlitterSize);
    const float gv = sat(in.glintVariation);
    const float g = std::min(2.0f * std::sqrt(gv), 1.0f);
    const float floorR = std::min(0.25f * g, 0.05f);
    const float floorH = std::min(1.25f * g, 0.25f);

    // 2.3 to 2.6: roughness, index of refraction, shift.
    v.beta0 = sqr(1.0f - clampf(in.glossiness, kMinGlossiness, kMaxGlossiness));
    v.betaM = randomOffset(rng, clampf(v.beta0, kMinRoughness, 1.0f), kMinRoughness, 1.0f,
                           std::max(std::max(in.randomGlossiness, 0.0f), floorR));
    v.betaN = randomOffset(rng, clampf(in.softness, kMinRoughness, 1.0f), kMinRoughness, 1.0f,
                           std::max(std::max(in.randomSoftness, 0.0f), floorR));
    v.betaN24 = v.betaN;
    v.eta = randomOffset(rng, clampf(in.ior, 1.0f, kMaxIor), 1.0f, kMaxIor, std::max(in.randomIor, 0.0f));
    v.alpha =
        randomOffset(rng, clampf(in.highlightShift, -kMaxShiftDegrees, kMaxShiftDegrees), -kMaxShiftDegrees,
                     kMaxShiftDegrees, std::max(std::max(in.randomHighlightShift, 0.0f), floorH)) *
        kDegToRad;
    v.alpha2 = 2.0f * v.alpha;

    // 2.7 to 2.10: dye, melanin, absorption and gray hair.
    Color4 dye = saturate(Color4::rgb(in.dyeColor));
    float uH = rng.next(), uS = rng.next(), uV = rng.next();
    float dHue = std::max(in.randomDyeHue, 0.0f), dSat = std::max(in.randomDyeSaturation, 0.0f),
          dVal = std::max(in.randomDyeValue, 0.0f);
    if (dHue != 0.0f || dSat != 0.0f || dVal != 0.0f) dye = randomiseDye(dye, dHue, dSat, dVal, uH, uS, uV);
    const Color4 sigmaDye = dyeAbsorption(dye);
    float melanin = randomOffset(rng, sat(in.melanin), 0.0f, 1.0f, std::max(in.randomMelanin, 0.0f));
    float pheo = sat(in.pheomelanin);
    v.sigmaA = sigmaDye + (5.0f * melanin * melanin) * ((1.0f - pheo) * kEumelanin + pheo * kPheomelanin);
    v.gray = rng.next() < in.grayHairDensity;
    if (v.gray) v.sigmaA = Color4(0.0f);

    // 2.11: the glitter and glint gates; the strand patterns need strand data and a camera ray.
    v.q = 0.5f * std::max(glitterG, glintS);
    const float yG = 0.5f * glintS * (v.eta - 1.0f) / kHumanIorExcess;
    v.glintFraction =
        std::min(yG, (1.0f / (1.0f + std::exp(-kGlintLogisticRate * yG)) - 0.5f) * kGlintLogisticGain);
    const bool pattern = ctx.rayDepth < 1 && strand != nullptr;
    v.glintOn = pattern && v.glintFraction > 0.0f;
    v.glitterLobeOn = pattern && v.q > 0.0f;

    v.tangent = Vec4(rec.tangent);
    s.glintSeparation = kPi * 0.25f;
    s.glitterPhiA = s.glitterPhiB = 0.0f;
    if (!pattern) return v;

    // 2.12: distance along the strand in real-world units.
    float d = in.unitScale * (strand->getStrandLength(ctx) * strand->getStrandPosition(ctx));
    if (in.glintScale > kMinGlintScale) d /= in.glintScale;

    // 2.13: the random tangent; its three direction draws are made whether or not it is used.
    float t0 = rng.next(), t1 = rng.next(), t2 = rng.next();
    if (in.randomTangent > 0.0f) {
        float z = 2.0f * t1 - 1.0f;
        float rho = std::sqrt(std::max(1.0f - z * z, 0.0f));
        float ph = kTwoPi * t2;
        Vec4 offset = ((t0 + 1.0f) * 0.5f) * Vec4(rho * std::cos(ph), rho * std::sin(ph), z);
        v.tangent += offset * (in.randomTangent * (rng.next() - 0.5f));
    }

    // 2.14: per-strand angles.
    s.glitterPhiA = kPi * rng.next();
    s.glitterPhiB = s.glitterPhiA - kPi;
    s.glintSeparation = kPi * 0.25f + (rng.next() - 0.5f) * kGlintSeparationSpread;
    v.offsetTRT = g * kTrtOffsetSpread * (rng.next() - 0.5f);

    // 2.15 and 2.16: the patterns along the strand.
    const std::int64_t base = StrandRandom::strandBase(strandIndex);
    if (glitterG > 0.0f) glitterPattern(s, v, base, d, glitterG, glitterSize, in.boost);
    if (g > 0.0f) glintVariation(s, v, base, d, gv, g);
    return v;
}

// Step 3: longitudinal variances and azimuthal scales; kd widens the lobes past the camera.
void setLongitudinal(Hair4BSDF& s, const StrandValues& v, float kd, float boost) {
    using L = Hair4BSDF;
    float pm = roughnessToStdDev(v.betaM);
    float var = std::min(kd * pm * pm, kMaxVariance);
    s.lobeVariance[L::R] = clampf((1.0f - boost) * var, kMinLobeVariance, kMaxLobeVariance);
    s.lobeVariance[L::TT] = clampf(var * 0.25f, kMinLobeVariance, kMaxLobeVariance);
    s.lobeVariance[L::TRT] = s.lobeVariance[L::Residual] =
        clampf(4.0f * var, kMinLobeVariance, kMaxLobeVariance);
    float scale =
        std::min(kd * kSqrtPiOver8 * azimuthalScale(clampf(v.betaN, kMinRoughness, 1.0f)), kMaxLogisticScale);
    s.lobeScale[L::R] = s.lobeScale[L::TT] = s.lobeScale[L::TRT] = s.lobeScale[L::Residual] = scale;
    if (v.glintOn) {
        s.lobeVariance[L::Glint] = clampf(var, kMinLobeVariance, kMaxLobeVariance);
        s.lobeScale[L::Glint] = v.glintWidth * kGlintLobeScale;
    } else {
        s.lobeVariance[L::Glint] = s.lobeVariance[L::TRT];
        s.lobeScale[L::Glint] = scale;
    }
    if (v.glitterLobeOn) {
        float p0 = roughnessToStdDev(v.beta0);
        s.lobeVariance[L::Glitter] = clampf((1.0f - boost) * 0.25f * std::min(p0 * p0, kMaxVariance),
                                            kMinLobeVariance, kMaxLobeVariance);
        s.lobeScale[L::Glitter] = kGlitterLobeScale;
    } else {
        s.lobeVariance[L::Glitter] = s.lobeVariance[L::R];
        s.lobeScale[L::Glitter] = scale;
    }
}

// The outgoing direction in the strand's frame.
struct OutgoingAngles {
    float sinThetaO, cosThetaO, phiO;
};

// Step 4: the frame around the (randomised) tangent, and the outgoing angle tilted by each
// lobe's cuticle angle.
OutgoingAngles setFrame(Hair4BSDF& s, const quor::QuorContext& ctx, const StrandValues& v) {
    using L = Hair4BSDF;
    Vec4 dir(ctx.rayDir);
    s.axisT = normalizeSafe(v.tangent);
    s.axisX = normalizeSafe(cross(s.axisT, dir));
    // Unit already, up to rounding: both factors are unit and at right angles (or the frame is
    // degenerate, and the vector is 0 either way).
    s.axisY = cross(s.axisT, s.axisX);
    Vec4 wo = -dir;
    OutgoingAngles o;
    o.sinThetaO = clampf(dot(wo, s.axisT), -1.0f, 1.0f);
    o.cosThetaO = std::sqrt(1.0f - o.sinThetaO * o.sinThetaO);
    o.phiO = std::atan2(dot(wo, s.axisY), dot(wo, s.axisX));

    // Tilts by -2α (R), α (TT), 4α (TRT) from the double-angle identities.
    const float alpha = v.alpha;
    float s1 = std::sin(alpha), c1 = std::cos(alpha);
    float s2 = clampf(2.0f * s1 * c1, -1.0f, 1.0f), c2 = clampf(c1 * c1 - s1 * s1, -1.0f, 1.0f);
    float s4 = clampf(2.0f * s2 * c2, -1.0f, 1.0f), c4 = clampf(c2 * c2 - s2 * s2, -1.0f, 1.0f);
    float tiltS[L::kLobes], tiltC[L::kLobes];
    tiltS[L::R] = -s2, tiltC[L::R] = c2;
    tiltS[L::TT] = s1, tiltC[L::TT] = c1;
    tiltS[L::TRT] = s4, tiltC[L::TRT] = c4;
    if (v.glitterLobeOn)
        tiltS[L::Glitter] = -std::sin(v.alpha2), tiltC[L::Glitter] = std::cos(v.alpha2);
    else
        tiltS[L::Glitter] = -s2, tiltC[L::Glitter] = c2;
    if (v.glintOn) {
        // The glint's tilt shrinks for soft hair: 4α·max(1 - 2.86·βn⁶, 0.25).
        float b2 = v.betaN24 * v.betaN24;
        float gamma4 = 4.0f * alpha * std::max(1.0f - 2.86f * b2 * b2 * b2, 0.25f);
        tiltS[L::Glint] = std::sin(gamma4), tiltC[L::Glint] = std::cos(gamma4);
    } else {
        tiltS[L::Glint] = s4, tiltC[L::Glint] = c4;
    }
    tiltS[L::Residual] = 0.0f, tiltC[L::Residual] = 1.0f;
    for (int k = 0; k < L::kLobes; ++k) {
        s.lobeSinThetaO[k] = clampf(o.sinThetaO * tiltC[k] - o.cosThetaO * tiltS[k], -1.0f, 1.0f);
        s.lobeCosThetaO[k] = std::fabs(clampf(o.cosThetaO * tiltC[k] + o.sinThetaO * tiltS[k], -1.0f, 1.0f));
    }
    return o;
}

// Step 5: lobe colours from Fresnel and the absorption along each path, and the azimuthal
// offsets of the lobe peaks. h is the strand record's offset across the fibre.
void setLobeColors(Hair4BSDF& s, const StrandValues& v, const OutgoingAngles& o, float h) {
    using L = Hair4BSDF;
    const float eta = v.eta;
    float hp = clampf(-h, -1.0f, 1.0f);
    float gammaO = std::asin(hp);
    // The divisors are floored so that a view along the strand stays finite.
    float etaP =
        std::sqrt(std::max(eta * eta - o.sinThetaO * o.sinThetaO, 0.0f)) / std::max(o.cosThetaO, 1e-7f);
    float sinGammaT = clampf(hp / std::max(etaP, 1e-7f), -1.0f, 1.0f);
    float gammaT = std::asin(sinGammaT);
    float cosGammaT = std::sqrt(1.0f - sinGammaT * sinGammaT);
    float cosThetaT = std::max(std::sqrt(std::max(1.0f - sqr(o.sinThetaO / eta), 0.0f)), 1e-7f);
    Color4 trans = fastExp(-v.sigmaA * (2.0f * cosGammaT / cosThetaT));
    float fr = hair4::fresnel(eta, sat(o.cosThetaO * std::sqrt(std::max(1.0f - hp * hp, 0.0f))));
    const float phiO = o.phiO;

    if (!v.glintOn && !v.glitterLobeOn) {
        float t1 = 1.0f - fr;
        s.lobeColor[L::R] = Color4(fr);
        s.lobeColor[L::TT] = (t1 * t1) * trans;
        s.lobeColor[L::TRT] = (t1 * t1 * fr) * trans * trans;
        s.lobeColor[L::Residual] = std::fabs(1.0f - fr) <= 1e-6f
                                       ? Color4(0.0f)
                                       : s.lobeColor[L::TRT] * fr * trans / (Color4(1.0f) - fr * trans);
        s.lobeColor[L::Glitter] = s.lobeColor[L::Glint] = Color4(0.0f);
        s.lobePhi[L::R] = phiO + 2.0f * gammaO;
        s.lobePhi[L::TT] = phiO - kPi + 2.0f * gammaO - 2.0f * gammaT;
        s.lobePhi[L::TRT] = hair4::wrapPi(phiO - kTwoPi + 2.0f * gammaO - 4.0f * gammaT + v.offsetTRT);
        s.lobePhi[L::Glitter] = s.lobePhi[L::Glint] = s.lobePhi[L::Residual] = 0.0f;
        return;
    }
    // The glitter lobe takes its share of the primary reflection; the glint its share of TT,
    // through a longer path (ξ) inside the fibre.
    const float q = v.q;
    float f0 = hair4::fresnel(eta, sat(o.cosThetaO));
    float fR = std::max(1.0f - q * 0.5f, 0.5f) * fr;
    float fQ = std::min(2.0f * q * f0 + fR, 1.0f);
    float kq = 1.0f - fQ;
    float b2 = v.betaN24 * v.betaN24;
    float xi = std::max(1.0f - 0.732f * b2 * b2, 0.7f);
    Color4 transG = fastExp(-v.sigmaA * (4.0f * cosGammaT * xi / cosThetaT));
    s.lobeColor[L::R] = Color4((1.0f - v.lossR) * fR);
    s.lobeColor[L::Glitter] = Color4(fQ - fR);
    s.lobeColor[L::TT] = trans * ((1.0f - v.glintFraction) * (1.0f - fr) * kq);
    s.lobeColor[L::Glint] = transG * (v.glintFraction * (1.0f - fr) * kq);
    Color4 t2 = trans * trans;
    Color4 t4 = t2 * t2;
    Color4 a2 = t2 * ((1.0f - fr) * fr * kq);
    s.lobeColor[L::Residual] = t4 * (kq * fr * fr) + t4 * (v.lossR * fR) + t2 * v.lossT * a2;
    s.lobeColor[L::TRT] = (1.0f - v.lossT) * a2;
    s.lobePhi[L::R] = hair4::wrapPi(phiO + 2.0f * gammaO);
    float phiTT = phiO - kPi - 2.0f * gammaT + 2.0f * gammaO;
    s.lobePhi[L::TT] = hair4::wrapPi(phiTT);
    s.lobePhi[L::TRT] = hair4::wrapPi(phiO - kTwoPi - 4.0f * gammaT + 2.0f * gammaO + v.offsetTRT);
    s.lobePhi[L::Glitter] = phiO;
    s.lobePhi[L::Glint] = (phiTT + kHalfPiAbove) * 0.25f + kHalfPiBelow;
    s.lobePhi[L::Residual] = 0.0f;
}

// Step 6: tints (not on gray strands), the diffuse term, and selection weights by luminance.
void setWeights(Hair4BSDF& s, const Hair4Inputs& in, const quor::StrandRecord& rec, bool gray) {
    using L = Hair4BSDF;
    float dA = sat(in.diffuseAmount);
    if (!gray) {
        Color4 pT = tint(in.primaryTint), sT = tint(in.secondaryTint), tT = tint(in.transmissionTint);
        s.lobeColor[L::R] *= pT;
        s.lobeColor[L::Glitter] *= pT;
        s.lobeColor[L::TT] *= tT;
        s.lobeColor[L::TRT] *= sT;
        s.lobeColor[L::Glint] *= sT;
        s.lobeColor[L::Residual] *= sT;
        s.diffuseColor = saturate(Color4::rgb(rec.color)) * dA;
    } else {
        s.diffuseColor = Color4(dA);
    }
    float lum[L::kLobes];
    float total = dA;
    for (int k = 0; k < L::kLobes; ++k) {
        s.lobeColor[k] *= 1.0f - dA;
        lum[k] = luminance(s.lobeColor[k]);
        total += lum[k];
    }
    // Everything black: the residual lobe takes the selection so the weights stay finite.
    if (total < 1e-8f) {
        lum[L::Residual] += 1e-8f;
        total += 1e-8f;
    }
    s.albedoSum = s.diffuseColor;
    for (int k = 0; k < L::kLobes; ++k)
        s.albedoSum += s.lobeColor[k];
    // Seven quotients by one total in two lane-wise divisions (the same bits as one at a time).
    const f4 w0 = f4{lum[0], lum[1], lum[2], lum[3]} / total;
    const f4 w1 = f4{lum[4], lum[5], dA, 0.0f} / total;
    for (int k = 0; k < 4; ++k)
        s.lobeWeight[k] = w0[k];
    s.lobeWeight[4] = w1[0];
    s.lobeWeight[5] = w1[1];
    s.diffuseWeight = w1[2];
    s.useLightMIS = 1;
}

} // namespace

void Hair4BSDF::setup(const quor::QuorContext& ctx, const Hair4Inputs& in, const quor::StrandRecord& rec) {
    setup(ctx, in, rec, ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr);
}

void Hair4BSDF::setup(const quor::QuorContext& ctx, const Hair4Inputs& raw, const quor::StrandRecord& rec,
                      const quor::StrandDataInterface* strand) {
    // The common case costs one test over the floats in lanes; only a non-finite input is copied.
    if (!allFinite(raw)) {
        const Hair4Inputs in = finiteInputs(raw);
        setupFinite(ctx, in, rec, strand);
        return;
    }
    setupFinite(ctx, raw, rec, strand);
}

void Hair4BSDF::setupFinite(const quor::QuorContext& ctx, const Hair4Inputs& in,
                            const quor::StrandRecord& rec, const quor::StrandDataInterface* strand) {
    if (terminate(*this, ctx, in, rec)) return;
    const StrandValues v = drawStrandValues(*this, ctx, in, rec, strand);
    // 2.2: the depth factor widens every lobe past the camera.
    const float kd = ctx.rayDepth <= 0 ? 1.0f : (ctx.rayDepth == 1 ? 2.0f : 4.0f);
    setLongitudinal(*this, v, kd, in.boost);
    const OutgoingAngles o = setFrame(*this, ctx, v);
    setLobeColors(*this, v, o, rec.h);
    setWeights(*this, in, rec, v.gray);
    finishLobes();
}

} // namespace hair
