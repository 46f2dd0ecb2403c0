// BRDFHair2: the three-lobe strand shader with a bounded glint at the TRT caustic.
//
// Lobes: a diffuse term, cos θi × diffuse colour, plus three specular lobes, each a
// longitudinal Gaussian M_p(θh) times an azimuthal term N_p(φ) of a circular fibre:
//   R    reflection at the surface
//   TT   transmission straight through the fibre
//   TRT  transmission with one internal reflection; its caustic peaks are replaced by a
//        Gaussian glint of bounded width that fades in once the two caustics merge (η' ≥ 2)
// and the sum of the three is divided by cos²θd.
// Parameters:
//   diffuse_color_tex   diffuse colour (unconnected: the strand's colour)
//   absorption          absorption per fibre radius (unconnected: 0.2 grey)
//   refraction_index    η of the fibre
//   diffuse_mult        multiplier of the diffuse term
//   r_mult              multiplier of R
//   r_long_shift        longitudinal shift α of R, degrees
//   r_long_width        longitudinal width β (standard deviation) of R, degrees
//   tt_mult             multiplier of TT
//   tt_long_shift       longitudinal shift α of TT, degrees
//   tt_long_width       longitudinal width β of TT, degrees
//   trt_mult            multiplier of TRT
//   trt_long_shift      longitudinal shift α of TRT, degrees
//   trt_long_width      longitudinal width β of TRT, degrees
//   glint_scale         strength of the caustic glint
//   azimuthal_width     azimuthal width w of the glint, degrees
//   fade_range          range of η' over which the merged caustic's glint fades in
//   caustic_limit       upper bound of the glint's width in fibre offset
// Conventions: T is the strand tangent, L points to the light and V = −D to the viewer.
// θi = asin(L·T) and θr = asin(V·T) are measured from the plane normal to the strand;
// θh = (θi + θr)/2, θd = (θi − θr)/2. φ in [0, π] is the angle between the projections of L
// and V onto that plane (0: same side, π: opposite sides). In the cross-section, γ is the
// angle of incidence and h = sin γ the offset from the fibre axis. η' and η'' are the
// Bravais indices of the fibre seen at θd. No sampling of its own: indirect light comes from
// the host's GI source in traceForward.
#pragma once
#include "frame/instance.h"
#include "math/vec4.h"
#include "quor/texture.h"
#include "three_lobe_hair/three_lobe_hair_params.h"

namespace hair {

class MayaHairBSDF2 : public quor::BRDFSampler, public quor::BSDFSampler {
  public:
    // BRDFSampler
    quor::Color getDiffuseColor(quor::Color& weight) override;
    quor::Color getLightMultiplier(quor::Color& weight) override;
    quor::Color eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                     quor::Color& unshadowedLightColor, float lightProb, int flags) override;
    void traceForward(quor::QuorContext& ctx, int doDiffuse) override;
    quor::Color getTransparency() override { return lightTransmission.host(); }
    quor::RenderChannelsInfo* getRenderChannels() override {
        return quor::RenderChannelsInfo::reflectChannels();
    }
    // BSDFSampler
    quor::BRDFSampler* getBRDF(int side) override;

    Color4 diffuseColor;      // already weighted by the opacity
    Color4 transparency;      // in [0, 1]
    Vec4 strandDir;           // T
    Color4 lightTransmission; // set by getBRDF from the transparency and the side
    // The parameters, set at every set-up from the instance's values.
    float eta{};
    float shiftR{}, shiftTT{}, shiftTRT{}; // α, radians
    float widthR{}, widthTT{}, widthTRT{}; // β, radians
    float multR{}, multTT{}, multTRT{};
    float diffuseMult{};
    float causticLimit{};
    float causticWidth{}; // w, radians
    float glintScale{};
    float fadeRange{};
    Color4 absorption; // σ per unit of fibre radius
};

// cos φ of the relative azimuth φ in [0, π] between the projections of L and V onto the plane
// normal to T. The dot products and the cosine are taken in double precision; a projection of
// zero length gives φ = π (−1).
float azimuthCosine(Vec4 L, Vec4 V, Vec4 T);

class BRDFHair2 : public SimpleBSDF<MayaHairBSDF2> {
  public:
    explicit BRDFHair2(quor::QuorPluginDesc* desc);
    void setupSampler(quor::QuorContext& ctx, MayaHairBSDF2& sampler, int flags) override;

  private:
    ParamBlock<kBRDFHair2Params> values_;
};

} // namespace hair
