// MaxHairBSDF: evaluation, direction sampling, forward results and render elements.
#include <cmath>

#include "artist_hair/brdf_hair3.h"
#include "frame/new_ray.h"
#include "math/dispatch.h"
#include "math/double_eval.h"
#include "math/erf.h"
#include "math/fast_math.h"
#include "math/numeric.h"

namespace hair {

namespace {

constexpr float kInvPi = 0.31830987f;
constexpr double kMinProb = 3.183098861837907e-07; // 1e-6/π

Vec4 vec(const quor::Vector& v) { return Vec4(v.x, v.y, v.z); }

// Power-heuristic weight of a light sample of probability² q against a BSDF probability pb.
float misWeight(float q, float pb) {
    float d = pb * pb + q;
    if (!(d > 0.0f)) return 1.0f;
    float w = q / d;
    return std::isfinite(w) ? w : 1.0f;
}

// The TT azimuthal Gaussian G(σW, ω) through the view's factors (0 below σW = 1e-6).
float azimuthGaussian(const LobeView& v, float omega) {
    const float t = omega * v.invSigma[3];
    return expViaDouble(-0.5f * t * t) * v.gauss[3];
}

void writeColor(quor::RenderChannelTarget& ch, int alias, Color4 c) { ch.write(alias, c.host()); }

bool lightElementsOff(const quor::QuorContext& ctx) {
    return ctx.settings && (ctx.settings->flags & quor::SETTINGS_NO_LIGHT_ELEMENTS);
}

} // namespace

void MaxHairBSDF::clearElements() {
    accDiffuseLit = accDiffuseShadow = accSpecular = accTransmission = accTransmissionRaw = Color4(0.0f);
    totDiffuseLit = totDiffuseShadow = totSpecular = totTransmission = totTransmissionRaw = Color4(0.0f);
}

quor::BRDFSampler* MaxHairBSDF::getBRDF(int side) {
    if (elementsEnabled) clearElements();
    if (context && !(context->contextFlags & quor::CTX_SKIP_BELOW_SURFACE)) {
        const Color4 one(1.0f);
        lightTransmission = side != quor::SIDE_FRONT ? 2.0f * transparency / (one + transparency)
                                                     : (one + transparency) * 0.5f;
    }
    return this;
}

quor::Color MaxHairBSDF::getLightMultiplier(quor::Color& weight) {
    Color4 w(weight);
    weight = (w * lightTransmission).host();
    return (w * albedoSum).host();
}

HAIR_LANES quor::Color MaxHairBSDF::evalBody(const quor::QuorContext& ctx, const quor::Vector& Lh,
                                             quor::Color& lightColor, quor::Color& unshadowedLightColor,
                                             float lightProb, int flags) {
    const Vec4 L = vec(Lh);
    const bool skipBelow = ctx.contextFlags & quor::CTX_SKIP_BELOW_SURFACE;
    if (!skipBelow && dot(L, vec(ctx.normal)) < 0.0f) return {0, 0, 0, 0};

    bool specularOn = flags & quor::EVAL_SPECULAR;
    if ((ctx.rayFlags & quor::RAY_GI) || ctx.giMode == quor::GI_MODE_GI_RAY)
        specularOn = flags & quor::EVAL_DIFFUSE;
    if (ctx.rayFlags & quor::RAY_NO_SPECULAR) specularOn = false;
    bool diffuseOn = flags & quor::EVAL_DIFFUSE;
    // A sampler set up for a shadow ray has no lobes and no tables: it only passes light on.
    if (!context) diffuseOn = specularOn = false;

    const float lt = dot(L, axisT);
    float kd = diffuseOn ? 2.0f * safeSqrt(1.0f - lt * lt) * kInvPi * 0.5f : 0.0f;
    LobeValues lobes;
    if (specularOn) {
        view.use(vec(ctx.rayDir), axisT,
                 Float4(roughPrimary, roughSecondary, roughTransLength, roughTransWidth));
        lobes = evalLobes(L, view, *primaryNormTable, *transmissionNormTable);
        lobes.r *= 0.5f;
        lobes.trt *= 0.5f;
        lobes.tt *= 0.5f;
    }

    if (useLightMIS) {
        const float q = lightProb * lightProb;
        const float lz = lt, vz = viewLocal.z();
        if (diffuseOn) kd *= misWeight(q, diffuseCdfTable->rowSlope(0.0f, 0.0f, lz) * 0.5f);
        if (specularOn) {
            float vx = viewLocal.x(), vy = viewLocal.y();
            float len = std::sqrt(vx * vx + vy * vy);
            float c = len > 0.0f ? vx / len : 0.0f;
            lobes.r *= misWeight(q, primaryNormTable->rowSlope(roughPrimary, vz, lz) * 0.7853982f * c);
            lobes.trt *= misWeight(q, primaryNormTable->rowSlope(roughSecondary, vz, lz) * 0.7853982f * c);
            float a = 0.0f;
            const float sigma = roughTransWidth;
            if (sigma >= 1e-6f) {
                float phi = std::atan2(dot(L, axisB), dot(L, axisW));
                if (phi < 0.0f) phi += kTwoPi;
                a = gaussian(sigma, phi - kPi) / (view.azimuthMass() / kTwoPi);
            }
            lobes.tt *= misWeight(q, transmissionNormTable->rowSlope(roughTransLength, vz, lz) * 0.5f * a);
        }
    }

    const Color4 Lm = Color4(lightColor) * lightMultiplier;
    const Color4 spec = primaryColor * lobes.r + secondaryColor * lobes.trt;
    const Color4 trans = transmissionColor * lobes.tt;
    const Color4 result = (diffuseColor * kd + spec + trans) * Lm;

    if (elementsEnabled) {
        accDiffuseLit += Lm * kd;
        accDiffuseShadow += (Color4(unshadowedLightColor) * lightMultiplier - Lm) * kd;
        accSpecular += spec * Lm;
        if (transmissionInSpecular)
            accSpecular += trans * Lm;
        else
            accTransmission += trans * Lm;
        accTransmissionRaw += Lm * lobes.tt;
    }

    if (!skipBelow) {
        const Color4 pass = lightTransmission * transparency;
        lightColor = (Color4(lightColor) * pass).host();
        unshadowedLightColor = (Color4(unshadowedLightColor) * pass).host();
    }
    // light_multiplier has no upper limit; the result stays a float.
    return finiteNonNegative(result).host();
}

namespace {

// eval and sampleRay built twice, AVX2 where the CPU has it (math/dispatch.h); the same bits
// either way. Free functions of this file: a virtual function cannot have clones, and the
// choosers of a member's clones would be exported.
HAIR_LANE_KERNEL quor::Color evalLanes(MaxHairBSDF& s, const quor::QuorContext& ctx, const quor::Vector& L,
                                       quor::Color& lightColor, quor::Color& unshadowedLightColor,
                                       float lightProb, int flags) {
    return s.evalBody(ctx, L, lightColor, unshadowedLightColor, lightProb, flags);
}

} // namespace

quor::Color MaxHairBSDF::eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                              quor::Color& unshadowedLightColor, float lightProb, int flags) {
    return evalLanes(*this, ctx, L, lightColor, unshadowedLightColor, lightProb, flags);
}

void MaxHairBSDF::scaleLightSample(float f) {
    if (!elementsEnabled) return;
    accDiffuseLit *= f;
    accDiffuseShadow *= f;
    accSpecular *= f;
    accTransmission *= f;
    accTransmissionRaw *= f;
}

void MaxHairBSDF::commitLightSample(int arg) {
    if (!elementsEnabled) return;
    totDiffuseLit += accDiffuseLit;
    totDiffuseShadow += accDiffuseShadow;
    totSpecular += accSpecular;
    totTransmission += accTransmission;
    totTransmissionRaw += accTransmissionRaw;
    if (arg == 0) {
        accDiffuseLit = accDiffuseShadow = accSpecular = accTransmission = accTransmissionRaw = Color4(0.0f);
        return;
    }
    if (!context || !context->channels) return;
    quor::RenderChannelTarget& ch = *context->channels;
    writeColor(ch, quor::CHANNEL_RAW_LIGHTING, totDiffuseLit);
    writeColor(ch, quor::CHANNEL_RAW_SHADOW, totDiffuseShadow);
    writeColor(ch, quor::CHANNEL_TRANSMISSION, totTransmission);
    const Color4 lit = totDiffuseLit * diffuseColor;
    const Color4 shadow = diffuseColor * totDiffuseShadow;
    if (!lightElementsOff(*context)) {
        writeColor(ch, quor::CHANNEL_LIGHTING, lit);
        writeColor(ch, quor::CHANNEL_SPECULAR, totSpecular);
    }
    writeColor(ch, quor::CHANNEL_SHADOW, shadow);
    writeColor(ch, quor::CHANNEL_TOTAL_LIGHTING, lit);
    writeColor(ch, quor::CHANNEL_RAW_TOTAL_LIGHTING, totDiffuseLit);
    if (ch.has(quor::CHANNEL_MATTE_SHADOW)) {
        // Shadowed fraction of the diffuse light; 0 where the division would blow up.
        Color4 frac(0.0f);
        const Color4 all = lit + shadow;
        for (int i = 0; i < 4; ++i)
            if (std::fabs(shadow[i]) < std::fabs(all[i]) * 1e18f) frac[i] = shadow[i] / all[i];
        writeColor(ch, quor::CHANNEL_MATTE_SHADOW, frac);
    }
}

int MaxHairBSDF::addContextRay(quor::QuorContext& ctx, void*, int mode) {
    if (mode != quor::SAMPLE_MODE_GI_CACHE) return 0;
    return ctx.addRay(quor::ADD_RAY_GI, albedoSum.host(),
                      quor::RAY_SAMPLER_ADDED | quor::RAY_GI | quor::RAY_NO_SPECULAR, ctx.normal);
}

void MaxHairBSDF::traceForward(quor::QuorContext& ctx, int doGI) {
    Color4 gi(0.0f);
    if (doGI) gi = Color4(ctx.giColor());
    ctx.result.gi = (albedoSum * gi).host();
    ctx.result.transparency = transparency.host();
    ctx.result.opacity = complement(transparency).host();
    ctx.result.transparency2 = transparency.host();

    if (!ctx.channels || !elementsEnabled) return;
    quor::RenderChannelTarget& ch = *ctx.channels;
    const Color4 specular = primaryColor + secondaryColor;
    writeColor(ch, quor::CHANNEL_RAW_GI, gi);
    writeColor(ch, quor::CHANNEL_TOTAL_LIGHTING, gi * diffuseColor);
    writeColor(ch, quor::CHANNEL_RAW_TOTAL_LIGHTING, gi);
    if (!lightElementsOff(ctx)) {
        writeColor(ch, quor::CHANNEL_GI, gi * diffuseColor);
        writeColor(ch, quor::CHANNEL_REFLECTION, specular * gi);
    }
    if (ctx.elementMode == quor::ELEMENT_MODE_WITH_FILTERS)
        writeColor(ch, quor::CHANNEL_DIFFUSE_FILTER, diffuseColor);
    writeColor(ch, quor::CHANNEL_RAW_TRANSMISSION, gi);
    writeColor(ch, quor::CHANNEL_TRANSMISSION, transmissionColor * gi);
    writeColor(ch, quor::CHANNEL_TRANSMISSION_FILTER, transmissionColor);
    writeColor(ch, quor::CHANNEL_RAW_REFLECTION, gi);
    writeColor(ch, quor::CHANNEL_REFLECTION_FILTER, specular);

    if (ch.has(quor::CHANNEL_STRAND_FRAME)) {
        // The strand's screen-space frame: across-strand direction m and the orientation g of
        // the pixel footprint, both faded by the opacity.
        const Vec4 D = vec(ctx.rayDir);
        const Vec4 m = normalizeSafe(cross(cross(D, axisT), axisT));
        const Vec4 A = normalizeSafe(vec(ctx.dirDiff[0]) + vec(ctx.posDiff[0]));
        const Vec4 B = normalizeSafe(vec(ctx.dirDiff[1]) + vec(ctx.posDiff[1]));
        Vec4 g = normalizeSafe(Vec4(dot(cross(B, m), D), dot(cross(m, A), D), -dot(cross(A, B), m)));
        if (g.z() < 0.0f) g = -g;
        const float o = 1.0f - (transparency.r() + transparency.g() + transparency.b()) * 0.33333334f;
        const float values[6] = {g.x() * o, g.y() * o, g.z() * o, m.x() * o, m.y() * o, m.z() * o};
        ch.write(quor::CHANNEL_STRAND_FRAME, values, 6);
    }
}

const float* MaxHairBSDF::cdfRow(int i) {
    if (!(rowsTaken & (1 << i))) {
        const float v = viewLocal.z();
        const float sigma[3] = {roughPrimary, roughSecondary, roughTransLength};
        const LobeTable& table = i == 3   ? *diffuseCdfTable
                                 : i == 2 ? *transmissionNormTable
                                          : *primaryNormTable;
        table.rowValues(i == 3 ? table.chooseRow(0.0f, 0.0f) : table.chooseRow(sigma[i], v), rowStore[i]);
        rowsTaken |= 1 << i;
    }
    return rowStore[i];
}

HAIR_LANES float MaxHairBSDF::sampleRayBody(const quor::QuorContext& parent, quor::QuorContext& newCtx,
                                            float u) {
    if (u >= 1.0f) u -= 1.0f;
    const float pD = probDiffuse, pT = probTransmission, pP = probPrimary, pS = probSecondary;
    if (!(u < pD + pT + pP + pS)) return 0.0f;
    const float xi = getDMCParam(newCtx, 1);
    const Vec4 D = vec(parent.rayDir);
    view.use(D, axisT, Float4(roughPrimary, roughSecondary, roughTransLength, roughTransWidth));

    float x, y, z, inv;
    Color4 weight;
    if (u < pD) {
        LobeTable::RowSample rs = diffuseCdfTable->sampleCdf(cdfRow(3), u / pD);
        z = rs.z;
        const float phi = kTwoPi * xi;
        const float r = safeSqrt(1.0f - z * z);
        float sinPhi, cosPhi;
        sinCosViaDouble(phi, sinPhi, cosPhi);
        x = cosPhi * r;
        y = sinPhi * r;
        inv = double(rs.density) >= kMinProb ? 1.0f / rs.density : 0.0f;
        const Vec4 d = axisW * x + axisB * y + axisT * z;
        const float dt = dot(d, axisT);
        weight = diffuseColor * (2.0f * safeSqrt(1.0f - dt * dt) * kInvPi) * (2.0f * inv / pD);
    } else if (u < pD + pT) {
        const float sigmaW = roughTransWidth;
        const float mass = view.azimuthMass();
        const float yv = (2.0f * xi - 1.0f) * mass;
        float fraction, a;
        if (yv < -0.999999f) {
            fraction = 0.0f;
            a = 0.0f;
        } else if (yv > 0.999999f) {
            fraction = 1.0f;
            a = 0.0f;
        } else {
            float omega = erfInverse(std::fabs(yv)) * 1.4142135f * sigmaW;
            if (yv < 0.0f) omega = -omega;
            a = azimuthGaussian(view, omega) / (mass / kTwoPi);
            fraction = (omega + kPi) / kTwoPi;
        }
        LobeTable::RowSample rs = transmissionNormTable->sampleCdf(cdfRow(2), (u - pD) / pT);
        z = rs.z;
        const float phi = kTwoPi * fraction; // about π: through the strand, away from the viewer
        const float r = safeSqrt(1.0f - z * z);
        float sinPhi, cosPhi;
        sinCosViaDouble(phi, sinPhi, cosPhi);
        x = cosPhi * r;
        y = sinPhi * r;
        const float p = a * rs.density;
        inv = double(p) >= kMinProb ? 1.0f / p : 0.0f;
        const Vec4 d = axisW * x + axisB * y + axisT * z;
        const float norm = view.norms.transmission(*transmissionNormTable);
        const float value = double(norm) < 1e-6 ? 0.0f : transmissionShape(d, view, 1.0f / norm);
        weight = transmissionColor * value * (2.0f * inv / pT);
    } else {
        const bool primary = u < pD + pT + pP;
        const float prob = primary ? pP : pS;
        const float uu = primary ? (u - pD - pT) / pP : (u - pD - pT - pP) / pS;
        LobeTable::RowSample rs = primaryNormTable->sampleCdf(cdfRow(primary ? 0 : 1), uu);
        z = rs.z;
        // φ = 2·asin t: a cos(φ/2) distribution in the azimuth, centred on the viewer's side.
        const float t = clampf(2.0f * xi - 1.0f, -1.0f, 1.0f);
        const float s = safeSqrt(1.0f - t * t);
        const float r = safeSqrt(1.0f - z * z);
        x = (1.0f - 2.0f * t * t) * r;
        y = 2.0f * t * s * r;
        const float p = 0.5f * kPi * rs.density * s;
        inv = double(p) >= kMinProb ? 1.0f / p : 0.0f;
        const Vec4 d = axisW * x + axisB * y + axisT * z;
        const float norm =
            primary ? view.norms.primary(*primaryNormTable) : view.norms.secondary(*primaryNormTable);
        const float value = double(norm) < 1e-6 ? 0.0f : primaryShape(d, view, primary ? 0 : 1, 1.0f / norm);
        weight = (primary ? primaryColor : secondaryColor) * value * (2.0f * inv / prob);
    }
    const float pdf = inv >= 1e-6f ? 0.5f / inv : 0.0f;
    const Vec4 d = axisW * x + axisB * y + axisT * z;
    // A ray needs a positive probability, a unit direction and a finite weight. A degenerate
    // frame (no tangent, or no viewing ray) gives a short or zero direction; a lobe picked with
    // a vanishing probability can overflow its weight.
    if (!(pdf > 0.0f) || !(std::fabs(dot(d, d) - 1.0f) <= 1e-4f) ||
        !std::isfinite(weight[0] + weight[1] + weight[2] + weight[3]))
        return 0.0f;

    writeNewRay(parent, newCtx, d, weight, pdf, RayStart::OwnHit);
    return 1.0f;
}

namespace {

HAIR_LANE_KERNEL float sampleRayLanes(MaxHairBSDF& s, const quor::QuorContext& parent,
                                      quor::QuorContext& newCtx, float u) {
    return s.sampleRayBody(parent, newCtx, u);
}

} // namespace

float MaxHairBSDF::sampleRay(const quor::QuorContext& parent, quor::QuorContext& newCtx, float u, int) {
    return sampleRayLanes(*this, parent, newCtx, u);
}

} // namespace hair
