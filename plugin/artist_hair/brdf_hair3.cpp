#include "artist_hair/brdf_hair3.h"

#include <cmath>

#include "frame/host_rules.h"
#include "math/numeric.h"

namespace hair {

BRDFHair3::BRDFHair3(quor::QuorPluginDesc* desc) : SimpleBSDF<MaxHairBSDF>(desc) {
    bindAll(values_);

    primaryNormTable_.build(LobeTable::Kind::Primary, 50, 50, 1);
    transmissionNormTable_.build(LobeTable::Kind::Transmission, 50, 50, 50);
    diffuseCdfTable_.build(LobeTable::Kind::Diffuse, 1, 1, 1);
}

quor::PluginInterface* BRDFHair3::getInterface(int id) {
    if (id == quor::EXT_RTMTL) return static_cast<quor::RTMtlInterface*>(this);
    return QuorBSDF::getInterface(id);
}

int BRDFHair3::getBSDFFlags() {
    const quor::TextureInterface* transparency = values_.colorTexture("transparency");
    if (values_.integer("opaque_for_shadows") || !transparency) return quor::BSDF_OPAQUE;
    quor::AColor lower{0, 0, 0, 0}, upper{1, 1, 1, 1};
    transparency->getColorRange(lower, upper, 1.0f);
    return (lower.r + lower.g + lower.b < 1e-6f && upper.r + upper.g + upper.b < 1e-6f) ? quor::BSDF_OPAQUE
                                                                                        : 0;
}

namespace {

// Glossiness at most 0.999; below its registered 0 a roughness past 1 would overflow the
// simplified GI term, so 0 is the floor.
float glossiness(float g) {
    const float x = g < 0.999f ? g : 0.999f; // NaN gives 0.999
    return x > 0.0f ? x : 0.0f;
}

// Glossiness narrows the lobes less on every bounce: f = 1, 0.9, 0.8 at depths 0, 1, 2 and 0.7
// from depth 3 on.
float depthFactor(int depth) { return depth < 3 ? 1.0f - 0.1f * float(depth) : 0.7f; }

// The strand record at the point (steps 1 and 2): its colour and transparency and the strand
// tangent. A shadow ray asks only for the transparency; without strand data the tangent is
// the z axis with its part along the normal removed.
struct StrandInputs {
    Color4 diffuse{0.0f}, transparency{0.0f};
    Vec4 tangent{0.0f, 0.0f, 1.0f};
};

StrandInputs readStrand(const quor::QuorContext& ctx, bool shadowRay) {
    StrandInputs in;
    const quor::StrandDataInterface* strand = ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr;
    if (shadowRay) {
        if (strand) in.transparency = Color4::rgb(strand->getShadowTransparency(ctx));
    } else if (strand) {
        quor::StrandRecord rec;
        strand->getStrandRecord(ctx, rec);
        in.diffuse = Color4::rgb(rec.color);
        in.transparency = Color4::rgb(rec.transparency);
        in.tangent = Vec4(rec.tangent.x, rec.tangent.y, rec.tangent.z);
    } else {
        Vec4 n(ctx.normal.x, ctx.normal.y, ctx.normal.z);
        in.tangent = normalizeSafe(cross(cross(n, Vec4(0.0f, 0.0f, 1.0f)), n));
    }
    return in;
}

// A shadow ray stops after the transparency (step 6): the sampler answers what passes through
// and 0 to everything else, with no lobes, no samples and no table behind them.
void setShadowAnswers(MaxHairBSDF& s, Color4 transparency, int useCachedGI) {
    s.transparency = saturate(transparency);
    // The pass-through colour answers getTransparency; keep it current for shadow queries.
    s.lightTransmission = s.transparency;
    s.context = nullptr;
    s.elementsEnabled = 0;
    s.useCachedGI = useCachedGI;
    s.diffuseColor = s.primaryColor = s.secondaryColor = s.transmissionColor = s.albedoSum = Color4(0.0f);
    s.probDiffuse = s.probPrimary = s.probSecondary = s.probTransmission = 0.0f;
    s.useLightMIS = 0;
}

// Past the camera a diffuse stand-in carries the specular energy, TT roughly by its width
// (step 10).
void simplifyForGI(MaxHairBSDF& s) {
    float w = 0.5f * (s.roughTransLength + s.roughTransWidth);
    s.diffuseColor += s.primaryColor + s.secondaryColor + s.transmissionColor * (0.5f * w * w);
    s.primaryColor = s.secondaryColor = s.transmissionColor = Color4(0.0f);
}

// The four colours scaled together (steps 11 and 13).
void scaleColors(MaxHairBSDF& s, Color4 k) {
    s.diffuseColor *= k;
    s.primaryColor *= k;
    s.secondaryColor *= k;
    s.transmissionColor *= k;
}

// At most `limit` of the light leaves by the largest channels of the four terms (step 11).
void limitEnergy(MaxHairBSDF& s, float limit) {
    float sum = maxRGB(s.diffuseColor) + maxRGB(s.primaryColor) + maxRGB(s.secondaryColor) +
                maxRGB(s.transmissionColor);
    if (sum > limit) scaleColors(s, Color4(limit / sum));
}

// Lobe selection in proportion to each colour's largest channel; all 0 for a black point
// (step 14).
void setProbabilities(MaxHairBSDF& s) {
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
}

// The local frame: axisB = D × T, axisT = T, axisW = axisB × axisT, and the view in it (step 17).
void setFrame(MaxHairBSDF& s, const quor::QuorContext& ctx, Vec4 tangent) {
    Vec4 D(ctx.rayDir.x, ctx.rayDir.y, ctx.rayDir.z);
    s.axisB = normalizeSafe(cross(D, tangent));
    s.axisT = normalizeSafe(tangent);
    s.axisW = normalizeSafe(cross(s.axisB, s.axisT));
    s.viewLocal = Vec4(dot(D, s.axisW), dot(D, s.axisB), dot(D, s.axisT));
}

} // namespace

// Steps 3 and 4: the opaque rules, the transparency texture, then the strand coverage.
Color4 BRDFHair3::pointTransparency(const quor::QuorContext& ctx, Color4 strandTransparency) const {
    const int flags = ctx.rayFlags;
    Color4 t = strandTransparency;
    if (values_.integer("opaque_for_gi") && (flags & quor::RAY_GI)) {
        t = Color4(0.0f);
    } else if (values_.integer("opaque_for_shadows") && (flags & quor::RAY_SHADOW) &&
               !(flags & quor::RAY_EXEMPT_OPAQUE_SHADOWS)) {
        t = Color4(0.0f);
    } else {
        t = values_.color("transparency", ctx, t);
    }
    return coveredTransparency(ctx, t);
}

// Step 5: the colours and glossiness values of the textures, with the defaults of an
// unconnected slot.
BRDFHair3::PointColors BRDFHair3::pointColors(const quor::QuorContext& ctx, Color4 strandDiffuse) const {
    PointColors c;
    const ParamBlock<kBRDFHair3Params>& v = values_;
    c.diffuse = v.color("diffuse_color", ctx, strandDiffuse) * v.scalar("diffuse_amount", ctx);
    c.overall = v.color("overall_color", ctx);
    c.primary = v.color("primary_specular", ctx) * v.scalar("primary_specular_amount", ctx);
    c.glossPrimary = glossiness(v.scalar("primary_glossiness", ctx));
    if (!v.integer("secondary_lock_to_transmission"))
        c.secondary = v.color("secondary_specular", ctx) * v.scalar("secondary_specular_amount", ctx);
    c.glossSecondary = glossiness(v.scalar("secondary_glossiness", ctx));
    c.transmission = v.color("transmission", ctx) * v.scalar("transmission_amount", ctx);
    c.glossLength = glossiness(v.scalar("transmission_glossiness_length", ctx));
    c.glossWidth = glossiness(v.scalar("transmission_glossiness_width", ctx));
    return c;
}

void BRDFHair3::setupSampler(quor::QuorContext& ctx, MaxHairBSDF& s, int) {
    const bool shadowRay = ctx.rayFlags & quor::RAY_SHADOW;
    const bool giRay = ctx.rayFlags & quor::RAY_GI;
    const StrandInputs strand = readStrand(ctx, shadowRay);
    Color4 transparency = pointTransparency(ctx, strand.transparency);
    if (shadowRay) {
        setShadowAnswers(s, transparency, values_.integer("use_cached_gi"));
        return;
    }
    const PointColors c = pointColors(ctx, strand.diffuse);

    // Steps 7 to 9: colours and roughness values, clamped; the secondary colour is the squared
    // transmission when locked to it.
    s.context = &ctx;
    const int depth = ctx.rayDepth;
    const float f = depthFactor(depth);
    s.diffuseColor = saturate(c.diffuse);
    s.primaryColor = saturate(c.primary);
    s.secondaryColor = saturate(
        values_.integer("secondary_lock_to_transmission") ? c.transmission * c.transmission : c.secondary);
    s.transmissionColor = saturate(c.transmission);
    transparency = saturate(transparency);
    s.simplifyForGI = values_.integer("simplify_for_gi");
    s.useCachedGI = values_.integer("use_cached_gi");
    s.transmissionInSpecular = values_.integer("transmission_in_specular");
    s.roughPrimary = 1.0f - c.glossPrimary * f;
    s.roughSecondary = 1.0f - c.glossSecondary * f;
    s.roughTransLength = 1.0f - c.glossLength * f;
    s.roughTransWidth = 1.0f - c.glossWidth * f;
    s.primaryNormTable = &primaryNormTable_;
    s.transmissionNormTable = &transmissionNormTable_;
    s.diffuseCdfTable = &diffuseCdfTable_;
    s.view.forget();
    s.rowsTaken = 0;
    // A negative multiplier would turn light into negative radiance.
    const float lightMultiplier = values_.value("light_multiplier");
    s.lightMultiplier = lightMultiplier > 0.0f ? lightMultiplier : 0.0f;

    if (s.simplifyForGI && depth > 0) simplifyForGI(s);
    limitEnergy(s, giRay ? 0.9f : 1.0f);

    // Steps 12 and 13: the host's override of a grey transparency, then the opacity and the
    // overall colour weigh every term.
    transparency = overriddenTransparency(ctx, transparency);
    s.transparency = transparency;
    scaleColors(s, saturate(c.overall) * complement(transparency));

    setProbabilities(s);
    s.useLightMIS = ctx.useLightMIS();
    s.albedoSum = s.diffuseColor + s.primaryColor + s.secondaryColor + s.transmissionColor;
    setFrame(s, ctx, strand.tangent);
    s.lightTransmission = transparency;

    // Step 18: render elements when the context asks for them.
    if ((ctx.contextFlags & quor::CTX_RENDER_ELEMENTS) && ctx.channels) {
        s.elementsEnabled = 1;
        s.clearElements();
    } else {
        s.elementsEnabled = 0;
    }
}

} // namespace hair
