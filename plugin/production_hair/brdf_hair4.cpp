#include "production_hair/brdf_hair4.h"

#include "frame/host_rules.h"
#include "math/vec4.h"
#include "quor/renderer.h"

namespace hair {

BRDFHair4::BRDFHair4(quor::QuorPluginDesc* desc) : SimpleBSDF<Hair4BSDF>(desc) { bindAll(values_); }

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
    const quor::TextureInterface* transparency = values_.colorTexture("transparency");
    if (!transparency) return quor::BSDF_MULTIPLE_SCATTERING;
    quor::AColor lower{0, 0, 0, 0}, upper{1, 1, 1, 1};
    transparency->getColorRange(lower, upper, 1.0f);
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
    const ParamBlock<kBRDFHair4Params>& v = values_;
    const Color4 transparency = v.color("transparency", ctx, Color4::rgb(rec.transparency));
    store(coveredTransparency(ctx, transparency), rec.transparency);
    if (v.colorTexture("diffuse_color")) store(v.color("diffuse_color", ctx), rec.color);

    Hair4Inputs in;
    in.randomMelanin = v.value("random_melanin");
    in.randomDyeHue = v.value("random_dye_hue");
    in.randomDyeSaturation = v.value("random_dye_saturation");
    in.randomDyeValue = v.value("random_dye_value");
    in.randomGlossiness = v.value("random_glossiness");
    in.randomSoftness = v.value("random_softness");
    in.randomHighlightShift = v.value("random_highlight_shift");
    in.randomIor = v.value("random_ior");
    in.randomTangent = v.value("random_tangent");
    in.glintStrength = v.value("glint_strength");
    in.glintVariation = v.value("glint_variation");
    in.glitterStrength = v.value("glitter_strength");
    in.glitterSize = v.value("glitter_size");
    in.glintScale = v.value("glint_scale");
    in.unitScale = unitScale_;
    in.subdivs = v.integer("subdivs");
    in.traceDepth = v.integer("trace_depth");

    // In the order of the parameter table's texture slots; an unbound slot gives the table's
    // value for it.
    store(v.color("dye_color", ctx), in.dyeColor);
    in.melanin = v.scalar("melanin", ctx);
    in.pheomelanin = v.scalar("pheomelanin", ctx);
    in.glossiness = v.scalar("glossiness", ctx);
    in.boost = v.scalar("primary_glossiness_boost", ctx);
    in.softness = v.scalar("softness", ctx);
    in.ior = v.scalar("ior", ctx);
    in.highlightShift = v.scalar("highlight_shift", ctx);
    in.grayHairDensity = v.scalar("gray_hair_density", ctx);
    in.diffuseAmount = v.scalar("diffuse_amount", ctx);
    store(v.color("primary_tint", ctx), in.primaryTint);
    store(v.color("secondary_tint", ctx), in.secondaryTint);
    store(v.color("transmission_tint", ctx), in.transmissionTint);

    sampler.setup(ctx, in, rec, strand);
}

} // namespace hair
