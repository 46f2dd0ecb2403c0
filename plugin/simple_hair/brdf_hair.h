// BRDFHair: the legacy strand shader.
//
// Lobes: a diffuse term plus one highlight, (cos θL·cos θV + sin θL·sin θV)^power, where
// θL and θV are the angles of the light and view directions with the strand tangent.
// Parameters:
//   specular_color_tex  highlight colour (unconnected: black)
//   specular_power      highlight exponent, not clamped
//   diffuse_color_tex   diffuse colour (unconnected: the strand's colour)
// Conventions: the strand is the tangent of the strand record (without strand data, the
// surface normal stands in); light and view directions are unit vectors, L towards the light
// and V the ray direction. No sampling of its own: indirect light comes from the host's GI.
#pragma once
#include "frame/instance.h"
#include "math/vec4.h"
#include "simple_hair/simple_hair_params.h"

namespace hair {

class MayaHairBSDF : public quor::BRDFSampler, public quor::BSDFSampler {
  public:
    // BRDFSampler
    quor::Color getDiffuseColor(quor::Color& weight) override;
    quor::Color getLightMultiplier(quor::Color& weight) override;
    quor::Color eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                     quor::Color& unshadowedLightColor, float lightProb, int flags) override;
    void traceForward(quor::QuorContext& ctx, int doDiffuse) override;
    quor::Color getTransparency() override { return passThrough.host(); }
    quor::RenderChannelsInfo* getRenderChannels() override {
        return quor::RenderChannelsInfo::reflectChannels();
    }
    // BSDFSampler
    quor::BRDFSampler* getBRDF(int mode) override;

    Color4 diffuse;      // already multiplied by the opacity
    Color4 transparency; // in [0, 1]
    Color4 specular;     // already multiplied by the opacity
    Vec4 tangent;
    float power = 1;
    Color4 passThrough; // light passing the strand, from getBRDF
};

class BRDFHair : public SimpleBSDF<MayaHairBSDF> {
  public:
    explicit BRDFHair(quor::QuorPluginDesc* desc);
    void setupSampler(quor::QuorContext& ctx, MayaHairBSDF& sampler, int flags) override;

  private:
    ParamBlock<kBRDFHairParams> values_;
};

} // namespace hair
