#include "production_hair/brdf_hair4.h"

#include "frame/host_rules.h"
#include "math/vec4.h"
#include "quor/renderer.h"

namespace hair {

BRDFHair4::BRDFHair4(quor::QuorPluginDesc* desc) : SimpleBSDF<Hair4BSDF>(desc) {
    bind("melanin", &melaninTex_);
    bind("pheomelanin", &pheomelaninTex_);
    bind("dye_color", &dyeColorTex_);
    bind("transparency", &transparencyTex_);
    bind("diffuse_color", &diffuseColorTex_);
    bind("diffuse_amount", &diffuseAmountTex_);
    bind("glossiness", &glossinessTex_);
    bind("primary_glossiness_boost", &boostTex_);
    bind("softness", &softnessTex_);
    bind("highlight_shift", &highlightShiftTex_);
    bind("ior", &iorTex_);
    bind("glint_strength", &glintStrength_);
    bind("glint_variation", &glintVariation_);
    bind("glitter_strength", &glitterStrength_);
    bind("glitter_size", &glitterSize_);
    bind("glint_scale", &glintScale_);
    bind("random_melanin", &randomMelanin_);
    bind("random_dye_hue", &randomDyeHue_);
    bind("random_dye_saturation", &randomDyeSaturation_);
    bind("random_dye_value", &randomDyeValue_);
    bind("gray_hair_density", &grayHairDensityTex_);
    bind("random_ior", &randomIor_);
    bind("random_tangent", &randomTangent_);
    bind("random_glossiness", &randomGlossiness_);
    bind("random_softness", &randomSoftness_);
    bind("random_highlight_shift", &randomHighlightShift_);
    bind("primary_tint", &primaryTintTex_);
    bind("secondary_tint", &secondaryTintTex_);
    bind("transmission_tint", &transmissionTintTex_);
    bind("trace_depth", &traceDepth_);
    bind("subdivs", &subdivs_);
}

quor::PluginInterface* BRDFHair4::getInterface(int id) {
    if (id == quor::EXT_RTMTL) return static_cast<quor::RTMtlInterface*>(this);
    return QuorBSDF::getInterface(id);
}

void BRDFHair4::frameBegin(quor::QuorRenderer* renderer) {
    SimpleBSDF<Hair4BSDF>::frameBegin(renderer);
    unitScale_ = 100.0f;
    const quor::SceneUnitsInterface* units = renderer && renderer->scene ? renderer->scene->units() : nullptr;
    if (units) unitScale_ = 100.0f * static_cast<float>(units->scale);
}

int BRDFHair4::getBSDFFlags() {
    if (!transparencyTex_) return quor::BSDF_MULTIPLE_SCATTERING;
    quor::AColor lower{0, 0, 0, 0}, upper{1, 1, 1, 1};
    transparencyTex_->getColorRange(lower, upper, 1.0f);
    // A transparency that can only be black: the hair is never see-through.
    if (lower.r + lower.g + lower.b < 1e-6f && upper.r + upper.g + upper.b < 1e-6f)
        return quor::BSDF_MULTIPLE_SCATTERING | quor::BSDF_OPAQUE;
    return quor::BSDF_MULTIPLE_SCATTERING;
}

namespace {

inline void store(Color4 c, float* out) { out[0] = c.r(), out[1] = c.g(), out[2] = c.b(); }

} // namespace

void BRDFHair4::setupSampler(quor::QuorContext& ctx, Hair4BSDF& sampler, int) {
    quor::StrandRecord rec;
    const quor::StrandDataInterface* strand = ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr;
    if (ctx.rayFlags & quor::RAY_SHADOW) {
        if (strand) {
            quor::Color3f t = strand->getShadowTransparency(ctx);
            rec.transparency[0] = t.r, rec.transparency[1] = t.g, rec.transparency[2] = t.b;
        }
    } else if (strand) {
        strand->getStrandRecord(ctx, rec);
    } else {
        // No strand: a tangent across the normal, and the host's sample value across the width.
        Vec4 n(ctx.normal);
        rec.tangent = normalizeSafe(cross(cross(n, Vec4(0, 0, 1)), n)).host();
        rec.h = 2.0f * ctx.sampleValue - 1.0f;
    }
    const Color4 transparency = textureColor(transparencyTex_, ctx, Color4::rgb(rec.transparency));
    store(coveredTransparency(ctx, transparency), rec.transparency);
    if (diffuseColorTex_) store(Color4::rgb(diffuseColorTex_->getColor(ctx)), rec.color);

    Hair4Inputs in;
    in.randomMelanin = randomMelanin_;
    in.randomDyeHue = randomDyeHue_;
    in.randomDyeSaturation = randomDyeSaturation_;
    in.randomDyeValue = randomDyeValue_;
    in.randomGlossiness = randomGlossiness_;
    in.randomSoftness = randomSoftness_;
    in.randomHighlightShift = randomHighlightShift_;
    in.randomIor = randomIor_;
    in.randomTangent = randomTangent_;
    in.glintStrength = glintStrength_;
    in.glintVariation = glintVariation_;
    in.glitterStrength = glitterStrength_;
    in.glitterSize = glitterSize_;
    in.glintScale = glintScale_;
    in.unitScale = unitScale_;
    in.subdivs = subdivs_;
    in.traceDepth = traceDepth_;

    // In the order of the parameter table's texture slots; an unbound slot gives the value
    // the model uses for it (softness 0.8, not its registered 0.5).
    const Color4 white(1.0f);
    store(textureColor(dyeColorTex_, ctx, white), in.dyeColor);
    in.melanin = textureFloat(melaninTex_, ctx, 0.3f);
    in.pheomelanin = textureFloat(pheomelaninTex_, ctx, 0.0f);
    in.glossiness = textureFloat(glossinessTex_, ctx, 0.5f);
    in.boost = textureFloat(boostTex_, ctx, 0.4f);
    in.softness = textureFloat(softnessTex_, ctx, 0.8f);
    in.ior = textureFloat(iorTex_, ctx, 1.55f);
    in.highlightShift = textureFloat(highlightShiftTex_, ctx, 2.0f);
    in.grayHairDensity = textureFloat(grayHairDensityTex_, ctx, 0.0f);
    in.diffuseAmount = textureFloat(diffuseAmountTex_, ctx, 0.0f);
    store(textureColor(primaryTintTex_, ctx, white), in.primaryTint);
    store(textureColor(secondaryTintTex_, ctx, white), in.secondaryTint);
    store(textureColor(transmissionTintTex_, ctx, white), in.transmissionTint);

    sampler.setup(ctx, in, rec, strand);
}

} // namespace hair
