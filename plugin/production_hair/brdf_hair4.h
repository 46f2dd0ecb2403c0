// BRDFHair4: the production hair material.
//
// A melanin-based fibre model for path-traced hair and fur. Its sampler, Hair4BSDF
// (hair4_bsdf.h), has six lobes: R, TT, TRT, glitter (a wandering share of R), glint (a
// focused coloured highlight near the TRT caustic) and the residual of all higher paths,
// plus a diffuse term. Multiple scattering is the host's path tracing through sampleRay,
// cut off at trace_depth.
// Parameters:
//   melanin, pheomelanin      pigment concentration and its red fraction (absorption)
//   dye_color                 extra absorption, as the colour a white fibre would take
//   transparency              colour passed straight through the strand
//   diffuse_color/_amount     diffuse term and its share of the energy
//   glossiness                longitudinal roughness; primary_glossiness_boost narrows R
//   softness                  azimuthal roughness
//   highlight_shift           cuticle tilt in degrees
//   ior                       index of refraction of the fibre
//   glint_strength/_variation strength of the glint and its variation along the strand
//   glitter_strength/_size    strength and length of the glitter pattern
//   glint_scale               scene length of one real-world unit along the strand
//   random_*                  per-strand random offsets of the values above and the tangent
//   gray_hair_density         fraction of strands without pigment
//   primary/secondary/transmission_tint  colour tints of R, TRT (and glint, residual), TT
//   trace_depth               depth at which hair hits stop scattering
//   subdivs                   square root of the sample count reported to the host
// Conventions: the strand tangent and the offset h come from the strand record; θ, φ and h
// are as in hair4_bsdf.h.
#pragma once
#include "frame/instance.h"
#include "production_hair/hair4_bsdf.h"
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
    quor::TextureInterface* diffuseColorTex_ = nullptr;
    quor::TextureInterface* dyeColorTex_ = nullptr;
    quor::TextureInterface* transparencyTex_ = nullptr;
    quor::TextureInterface* primaryTintTex_ = nullptr;
    quor::TextureInterface* secondaryTintTex_ = nullptr;
    quor::TextureInterface* transmissionTintTex_ = nullptr;
    quor::TextureFloatInterface* diffuseAmountTex_ = nullptr;
    quor::TextureFloatInterface* melaninTex_ = nullptr;
    quor::TextureFloatInterface* pheomelaninTex_ = nullptr;
    quor::TextureFloatInterface* glossinessTex_ = nullptr;
    quor::TextureFloatInterface* boostTex_ = nullptr;
    quor::TextureFloatInterface* softnessTex_ = nullptr;
    quor::TextureFloatInterface* iorTex_ = nullptr;
    quor::TextureFloatInterface* highlightShiftTex_ = nullptr;
    quor::TextureFloatInterface* grayHairDensityTex_ = nullptr;

    float randomMelanin_ = 0, randomDyeHue_ = 0, randomDyeSaturation_ = 0, randomDyeValue_ = 0;
    float randomGlossiness_ = 0, randomSoftness_ = 0, randomHighlightShift_ = 0, randomIor_ = 0;
    float randomTangent_ = 0;
    float glintStrength_ = 0.2f, glintVariation_ = 0.3f, glitterStrength_ = 0.3f, glitterSize_ = 1.0f;
    float glintScale_ = 1.0f;
    int subdivs_ = 8, traceDepth_ = 10;

    float unitScale_ = 100.0f;
};

} // namespace hair
