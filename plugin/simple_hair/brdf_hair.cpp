#include "simple_hair/brdf_hair.h"

#include <cmath>

#include "frame/host_rules.h"
#include "math/numeric.h"
#include "quor/texture.h"

namespace hair {

BRDFHair::BRDFHair(quor::QuorPluginDesc* desc) : SimpleBSDF<MayaHairBSDF>(desc) { bindAll(values_); }

void BRDFHair::setupSampler(quor::QuorContext& ctx, MayaHairBSDF& s, int) {
    Color4 spec = values_.color("specular_color_tex", ctx);
    Color4 diffuse(1.0f), transparency(0.0f);
    Vec4 tangent(ctx.normal);
    const quor::StrandDataInterface* strand = ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr;
    if (strand) {
        quor::StrandRecord rec;
        strand->getStrandRecord(ctx, rec);
        diffuse = values_.color("diffuse_color_tex", ctx, Color4::rgb(rec.color));
        transparency = Color4::rgb(rec.transparency);
        tangent = Vec4(rec.tangent);
    }
    diffuse = saturate(diffuse);
    transparency = saturate(transparency);
    spec = saturate(spec);
    Color4 opacity = complement(transparency);
    s.diffuse = diffuse * opacity;
    s.transparency = transparency;
    s.specular = spec * opacity;
    s.tangent = tangent;
    // Below its registered minimum 0 the power would turn a zero cosine into infinity.
    const float power = values_.value("specular_power");
    s.power = power > 0.0f ? power : 0.0f;
}

quor::BRDFSampler* MayaHairBSDF::getBRDF(int mode) {
    Color4 one(1.0f);
    passThrough =
        mode != quor::SIDE_FRONT ? 2.0f * transparency / (one + transparency) : (one + transparency) * 0.5f;
    return this;
}

quor::Color MayaHairBSDF::eval(const quor::QuorContext& ctx, const quor::Vector& Lh, quor::Color& lightColor,
                               quor::Color& unshadowedLightColor, float, int flags) {
    Vec4 L(Lh);
    if (dot(L, Vec4(ctx.normal)) < 0.0f) return {0, 0, 0, 0};
    Color4 d = (flags & quor::EVAL_DIFFUSE) ? diffuse : Color4(0.0f);
    Color4 s(0.0f);
    if ((flags & quor::EVAL_SPECULAR) && !(ctx.rayFlags & quor::RAY_NO_SPECULAR)) {
        float a = dot(L, tangent);
        float b = dot(Vec4(ctx.rayDir), tangent);
        float k = clampf(a * b + safeSqrt(1.0f - a * a) * safeSqrt(1.0f - b * b), 0.0f, 1.0f);
        s = specular * std::pow(k, power);
    }
    Color4 light(lightColor);
    Color4 result = (d + s) * light;
    lightColor = (light * passThrough).host();
    unshadowedLightColor = (Color4(unshadowedLightColor) * passThrough).host();
    return result.host();
}

quor::Color MayaHairBSDF::getDiffuseColor(quor::Color& weight) {
    Color4 w(weight);
    weight = (w * passThrough).host();
    return (w * diffuse).host();
}

quor::Color MayaHairBSDF::getLightMultiplier(quor::Color& weight) {
    Color4 w(weight);
    weight = (w * passThrough).host();
    return ((specular + diffuse) * w).host();
}

void MayaHairBSDF::traceForward(quor::QuorContext& ctx, int doDiffuse) {
    ctx.result.gi = doDiffuse ? (diffuse * Color4(ctx.giColor())).host() : quor::Color{0, 0, 0, 0};
    ctx.result.transparency = transparency.host();
    ctx.result.opacity = complement(transparency).host();
    ctx.result.transparency2 = transparency.host();
}

} // namespace hair
