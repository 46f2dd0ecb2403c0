// BRDFHair4: the production hair material.
//
// A melanin-based fibre model for path-traced hair and fur. Its sampler, Hair4BSDF
// (hair4_bsdf.h), has six lobes: R, TT, TRT, glitter (a wandering share of R), glint (a
// focused coloured highlight near the TRT caustic) and the residual of all higher paths,
// plus a diffuse term. Multiple scattering is the host's path tracing through sampleRay,
// cut off at trace_depth.
// Parameters:
//   melanin                   pigment concentration (absorption of eumelanin)
//   pheomelanin               red fraction of the pigment
//   dye_color                 extra absorption, as the colour a white fibre would take
//   transparency              colour passed straight through the strand
//   diffuse_color             colour of the diffuse term
//   diffuse_amount            share of the energy that goes to the diffuse term
//   glossiness                longitudinal roughness (1 - glossiness)²
//   primary_glossiness_boost  narrows R and the glitter lobe
//   softness                  azimuthal roughness
//   highlight_shift           cuticle tilt α, degrees
//   ior                       index of refraction of the fibre
//   glint_strength            strength of the glint
//   glint_variation           variation of the glint along the strand
//   glitter_strength          strength of the glitter
//   glitter_size              length of the glitter pattern's cells
//   glint_scale               scene length of one real-world unit along the strand
//   random_melanin            per-strand random offset of melanin
//   random_dye_hue            per-strand random offset of the dye's hue
//   random_dye_saturation     per-strand random offset of the dye's saturation
//   random_dye_value          per-strand random offset of the dye's value
//   gray_hair_density         fraction of strands without pigment or tints
//   random_glossiness         per-strand random offset of the longitudinal roughness
//   random_softness           per-strand random offset of the azimuthal roughness
//   random_highlight_shift    per-strand random offset of the shift, degrees
//   random_ior                per-strand random offset of the index of refraction
//   random_tangent            per-strand random offset of the tangent, in scene units
//   primary_tint              tint of R and glitter
//   secondary_tint            tint of TRT, glint and residual
//   transmission_tint         tint of TT
//   trace_depth               depth at which hair hits stop scattering
//   subdivs                   square root of the sample count reported to the host
// Conventions: axisT is the strand tangent (strand record, randomised per strand; without
// strand data it is derived from the normal); θ is measured from the normal plane of the
// strand (sin θ = ω·axisT); φ is the azimuth around the strand from axisX = T × D towards
// axisY = T × axisX, D the ray direction; h in [-1, 1] is the signed offset across the fibre
// width where the ray hits (strand record; without strand data from the host's sample value).
#pragma once
#include "frame/instance.h"
#include "production_hair/hair4_bsdf.h"
#include "production_hair/production_hair_params.h"
#include "quor/gpu.h"
#include "quor/texture.h"

namespace hair {

class BRDFHair4 : public SimpleBSDF<Hair4BSDF>, public quor::RTMtlInterface {
  public:
    explicit BRDFHair4(quor::QuorPluginDesc* desc);

    // One answer for every interface part.
    quor::PluginBase* getPlugin() override { return this; }
    void release() override {}
    quor::PluginInterface* getInterface(int id) override;

    void frameBegin(quor::QuorRenderer* renderer) override;
    int getBSDFFlags() override;
    void setupSampler(quor::QuorContext& ctx, Hair4BSDF& sampler, int flags) override;

    // RTMtlInterface (production_hair_gpu.cpp)
    int getRTSource(int a, int b, const char* kind, quor::ShaderSource& source, quor::OCLData* data) override;

    float unitScale() const { return unitScale_; }

  private:
    ParamBlock<kBRDFHair4Params> values_;

    float unitScale_ = 100.0f;
};

} // namespace hair
