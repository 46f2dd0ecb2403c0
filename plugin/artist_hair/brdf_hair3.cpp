#include "artist_hair/brdf_hair3.h"

#include <cmath>

#include "math/numeric.h"

namespace hair {

BRDFHair3::BRDFHair3(quor::QuorPluginDesc* desc) : SimpleBSDF<MaxHairBSDF>(desc) {
    bind("overall_color", &overallColor_);
    bind("transparency", &transparency_);
    bind("diffuse_color", &diffuseColor_);
    bind("diffuse_amount", &diffuseAmount_);
    bind("primary_specular", &primarySpecular_);
    bind("primary_specular_amount", &primarySpecularAmount_);
    bind("primary_glossiness", &primaryGlossiness_);
    bind("secondary_lock_to_transmission", &secondaryLockToTransmission_);
    bind("secondary_specular", &secondarySpecular_);
    bind("secondary_specular_amount", &secondarySpecularAmount_);
    bind("secondary_glossiness", &secondaryGlossiness_);
    bind("transmission", &transmission_);
    bind("transmission_amount", &transmissionAmount_);
    bind("transmission_glossiness_length", &transmissionGlossinessLength_);
    bind("transmission_glossiness_width", &transmissionGlossinessWidth_);
    bind("opaque_for_shadows", &opaqueForShadows_);
    bind("opaque_for_gi", &opaqueForGI_);
    bind("simplify_for_gi", &simplifyForGI_);
    bind("use_cached_gi", &useCachedGI_);
    bind("light_multiplier", &lightMultiplier_);
    bind("transmission_in_specular", &transmissionInSpecular_);

    primaryNormTable_.build(LobeTable::Kind::Primary, 50, 50, 1);
    transmissionNormTable_.build(LobeTable::Kind::Transmission, 50, 50, 50);
    diffuseCdfTable_.build(LobeTable::Kind::Diffuse, 1, 1, 1);
}

quor::PluginInterface* BRDFHair3::getInterface(int id) {
    if (id == quor::EXT_RTMTL) return static_cast<quor::RTMtlInterface*>(this);
    return QuorBSDF::getInterface(id);
}

int BRDFHair3::getBSDFFlags() {
    if (opaqueForShadows_ || !transparency_) return 1;
    quor::AColor lower{0, 0, 0, 0}, upper{1, 1, 1, 1};
    transparency_->getColorRange(lower, upper, 1.0f);
    return (lower.r + lower.g + lower.b < 1e-6f && upper.r + upper.g + upper.b < 1e-6f) ? 1 : 0;
}

namespace {

Color4 colorOr(const quor::TextureInterface* tex, const quor::QuorContext& ctx, Color4 fallback) {
    return tex ? Color4::rgb(tex->getColor(ctx)) : fallback;
}
float floatOr(const quor::TextureFloatInterface* tex, const quor::QuorContext& ctx, float fallback) {
    return tex ? tex->getFloat(ctx) : fallback;
}

// Glossiness at most 0.999; below its registered 0 a roughness past 1 would overflow the
// simplified GI term, so 0 is the floor.
float glossiness(float g) { return std::fmax(std::fmin(g, 0.999f), 0.0f); }

} // namespace

void BRDFHair3::setupSampler(quor::QuorContext& ctx, MaxHairBSDF& s, int) {
    const bool shadowRay = ctx.rayFlags & quor::RAY_SHADOW;
    const bool giRay = ctx.rayFlags & quor::RAY_GI;
    Color4 diffuse(0.0f), transparency(0.0f);
    Vec4 tangent(0.0f, 0.0f, 1.0f);

    const quor::SurfaceData* surface = ctx.surfaceData;
    const quor::StrandDataInterface* strand = surface ? surface->strandData() : nullptr;
    if (shadowRay) {
        if (strand) transparency = Color4::rgb(strand->getShadowTransparency(ctx));
    } else if (strand) {
        quor::StrandRecord rec;
        strand->getStrandRecord(ctx, rec);
        diffuse = Color4::rgb(rec.color);
        transparency = Color4::rgb(rec.transparency);
        tangent = Vec4(rec.tangent.x, rec.tangent.y, rec.tangent.z);
    } else {
        Vec4 n(ctx.normal.x, ctx.normal.y, ctx.normal.z);
        tangent = normalizeSafe(cross(cross(n, Vec4(0.0f, 0.0f, 1.0f)), n));
    }

    if (opaqueForGI_ && giRay) {
        transparency = Color4(0.0f);
    } else if (opaqueForShadows_ && shadowRay && !(ctx.rayFlags & quor::RAY_EXEMPT_OPAQUE_SHADOWS)) {
        transparency = Color4(0.0f);
    } else if (transparency_) {
        transparency = Color4::rgb(transparency_->getColor(ctx));
    }

    if (const quor::StrandOpacityInterface* opacity = surface ? surface->strandOpacity() : nullptr) {
        float c = opacity->getCoverage(ctx);
        if (c < 1.0f) transparency = transparency * c + Color4(1.0f - c);
    }

    if (shadowRay) {
        // A shadow ray asks only what passes through; every other answer is 0, with no lobes,
        // no samples and no table behind them.
        s.transparency = saturate(transparency);
        // The pass-through colour answers getTransparency; keep it current for shadow queries.
        s.lightTransmission = s.transparency;
        s.context = nullptr;
        s.elementsEnabled = 0;
        s.useCachedGI = useCachedGI_;
        s.diffuseColor = s.primaryColor = s.secondaryColor = s.transmissionColor = s.albedoSum = Color4(0.0f);
        s.probDiffuse = s.probPrimary = s.probSecondary = s.probTransmission = 0.0f;
        s.useLightMIS = 0;
        return;
    }

    diffuse = colorOr(diffuseColor_, ctx, diffuse) * floatOr(diffuseAmount_, ctx, 1.0f);
    Color4 overall = colorOr(overallColor_, ctx, Color4(1.0f));
    Color4 primary =
        colorOr(primarySpecular_, ctx, Color4(0.0f)) * floatOr(primarySpecularAmount_, ctx, 1.0f);
    float gP = glossiness(floatOr(primaryGlossiness_, ctx, 0.0f));
    Color4 secondary(0.0f);
    if (!secondaryLockToTransmission_)
        secondary =
            colorOr(secondarySpecular_, ctx, Color4(0.0f)) * floatOr(secondarySpecularAmount_, ctx, 1.0f);
    float gS = glossiness(floatOr(secondaryGlossiness_, ctx, 0.0f));
    Color4 transmission = colorOr(transmission_, ctx, Color4(0.0f)) * floatOr(transmissionAmount_, ctx, 1.0f);
    float gL = glossiness(floatOr(transmissionGlossinessLength_, ctx, 0.0f));
    float gW = glossiness(floatOr(transmissionGlossinessWidth_, ctx, 0.0f));

    s.context = &ctx;
    const int depth = ctx.rayDepth;
    const float f = depth < 3 ? 1.0f - 0.1f * float(depth) : 0.7f;

    s.diffuseColor = saturate(diffuse);
    s.primaryColor = saturate(primary);
    s.secondaryColor = saturate(secondaryLockToTransmission_ ? transmission * transmission : secondary);
    s.transmissionColor = saturate(transmission);
    transparency = saturate(transparency);
    s.simplifyForGI = simplifyForGI_;
    s.useCachedGI = useCachedGI_;
    s.transmissionInSpecular = transmissionInSpecular_;
    s.roughPrimary = 1.0f - gP * f;
    s.roughSecondary = 1.0f - gS * f;
    s.roughTransLength = 1.0f - gL * f;
    s.roughTransWidth = 1.0f - gW * f;
    s.primaryNormTable = &primaryNormTable_;
    s.transmissionNormTable = &transmissionNormTable_;
    s.diffuseCdfTable = &diffuseCdfTable_;
    // A negative multiplier would turn light into negative radiance.
    s.lightMultiplier = std::fmax(lightMultiplier_, 0.0f);

    // Past the camera a diffuse stand-in carries the specular energy (TT roughly, by its width).
    if (simplifyForGI_ && depth > 0) {
        float w = 0.5f * (s.roughTransLength + s.roughTransWidth);
        s.diffuseColor += s.primaryColor + s.secondaryColor + s.transmissionColor * (0.5f * w * w);
        s.primaryColor = s.secondaryColor = s.transmissionColor = Color4(0.0f);
    }

    float sum = maxRGB(s.diffuseColor) + maxRGB(s.primaryColor) + maxRGB(s.secondaryColor) +
                maxRGB(s.transmissionColor);
    const float limit = giRay ? 0.9f : 1.0f;
    if (sum > limit) {
        float k = limit / sum;
        s.diffuseColor *= k;
        s.primaryColor *= k;
        s.secondaryColor *= k;
        s.transmissionColor *= k;
    }

    Color4 opacity = complement(transparency);
    const int flags = ctx.rayFlags;
    if ((ctx.hostCounter >= 1 && !(flags & quor::RAY_MASK_OVERRIDE_A)) ||
        (flags & quor::RAY_MASK_OVERRIDE_B)) {
        if (std::fabs(maxRGB(transparency) - 1.0f + maxRGB(opacity)) < 1e-6f) {
            float t = sat(ctx.getTransparencyOverride());
            transparency = Color4(t);
            opacity = Color4(std::fmax(1.0f - t, 0.0f));
        }
    }
    s.transparency = transparency;

    Color4 w = saturate(overall) * opacity;
    s.diffuseColor *= w;
    s.primaryColor *= w;
    s.secondaryColor *= w;
    s.transmissionColor *= w;

    float md = maxRGB(s.diffuseColor), mp = maxRGB(s.primaryColor), ms = maxRGB(s.secondaryColor),
          mt = maxRGB(s.transmissionColor);
    float total = md + mp + ms + mt;
    if (total > 1e-6f) {
        s.probDiffuse = md / total;
        s.probPrimary = mp / total;
        s.probSecondary = ms / total;
        s.probTransmission = mt / total;
    } else {
        s.probDiffuse = s.probPrimary = s.probSecondary = s.probTransmission = 0.0f;
    }

    s.useLightMIS = ctx.useLightMIS();
    s.albedoSum = s.diffuseColor + s.primaryColor + s.secondaryColor + s.transmissionColor;

    Vec4 D(ctx.rayDir.x, ctx.rayDir.y, ctx.rayDir.z);
    s.axisB = normalizeSafe(cross(D, tangent));
    s.axisT = normalizeSafe(tangent);
    s.axisW = normalizeSafe(cross(s.axisB, s.axisT));
    s.viewLocal = Vec4(dot(D, s.axisW), dot(D, s.axisB), dot(D, s.axisT));
    s.lightTransmission = transparency;

    if ((ctx.contextFlags & quor::CTX_RENDER_ELEMENTS) && ctx.channels) {
        s.elementsEnabled = 1;
        s.clearElements();
    } else {
        s.elementsEnabled = 0;
    }
}

} // namespace hair
