// BRDFHair3: the artist-friendly hair material.
//
// Controls are the colours an artist dials rather than physical quantities. Lobes:
//   diffuse       √(1 - (L·T)²)/π, sampled from a tabulated (2/π)·√(1 - z²) along the strand
//   R             primary specular, Gaussian in θh with width σR, cos(φ/2) in the azimuth
//   TRT           secondary specular, the same shape with width σTRT
//   TT            transmission, Gaussian in θh (σL) times a Gaussian in φ about π (σW)
// Each specular lobe is divided by its numerical normalisation (hair_lobes.h), so a lobe of
// colour c on its own has albedo c. Widths are roughness values 1 - glossiness·f, with f
// falling from 1 at the camera to 0.7 from the third bounce on.
// Parameters:
//   overall_color                    multiplies every lobe (unconnected: white)
//   transparency                     strand transparency (unconnected: the strand record's)
//   diffuse_color                    diffuse colour (unconnected: the strand's colour)
//   diffuse_amount                   scale of the diffuse colour
//   primary_specular                 R colour
//   primary_specular_amount          scale of the R colour
//   primary_glossiness               R glossiness, in [0, 0.999]
//   secondary_lock_to_transmission   TRT colour = transmission² instead of secondary_specular
//   secondary_specular               TRT colour when not locked
//   secondary_specular_amount        scale of the TRT colour when not locked
//   secondary_glossiness             TRT glossiness
//   transmission                     TT colour
//   transmission_amount              scale of the TT colour
//   transmission_glossiness_length   TT glossiness along the strand (σL)
//   transmission_glossiness_width    TT glossiness around the strand (σW)
//   opaque_for_shadows               no transparency for shadow rays
//   opaque_for_gi                    no transparency for GI rays
//   simplify_for_gi                  diffuse-only stand-in for rays past the camera
//   use_cached_gi                    lets the host use its GI caches (sampler flags)
//   transmission_in_specular         TT goes to the specular render element
//   light_multiplier                 scales direct light (a negative value acts as 0)
// Conventions: T is the strand tangent (strand record; without strand data it is derived
// from the normal), L points towards the light, D is the viewing ray (towards the surface).
// The local frame is axisW (across the strand, back towards the viewer), axisB = D × T and
// axisT; a local direction (x, y, z) has its along-strand coordinate in z and its azimuth
// measured from axisW. Angles as in hair_lobes.h.
#pragma once
#include "artist_hair/artist_hair_params.h"
#include "artist_hair/hair_lobes.h"
#include "frame/instance.h"
#include "math/vec4.h"
#include "quor/gpu.h"
#include "quor/texture.h"

namespace hair {

class MaxHairBSDF : public quor::BRDFSampler, public quor::BSDFSampler {
  public:
    // BRDFSampler
    quor::Color getDiffuseColor(quor::Color& weight) override { return getLightMultiplier(weight); }
    quor::Color getLightMultiplier(quor::Color& weight) override;
    quor::Color eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                     quor::Color& unshadowedLightColor, float lightProb, int flags) override;
    void scaleLightSample(float f) override;
    void commitLightSample(int arg) override;
    int getSamplerFlags() override {
        return quor::SAMPLER_SAMPLES_RAYS | quor::SAMPLER_LIGHT_ELEMENTS |
               (useCachedGI ? quor::SAMPLER_CACHED_GI : 0);
    }
    void traceForward(quor::QuorContext& ctx, int doGI) override;
    quor::Color getTransparency() override { return lightTransmission.host(); }
    int addContextRay(quor::QuorContext& ctx, void* arg, int mode) override;
    float sampleRay(const quor::QuorContext& parent, quor::QuorContext& newCtx, float u, int mode) override;
    quor::RenderChannelsInfo* getRenderChannels() override {
        return quor::RenderChannelsInfo::reflectChannels();
    }
    // BSDFSampler
    quor::BRDFSampler* getBRDF(int side) override;
    quor::Color getBSDFTransparency(const quor::QuorContext&) override { return transparency.host(); }

    // Clears the element accumulators and their running totals.
    void clearElements();

    Color4 diffuseColor, transparency, primaryColor, secondaryColor, transmissionColor;
    Color4 albedoSum;
    float roughPrimary = 1, roughSecondary = 1, roughTransLength = 1, roughTransWidth = 1;
    int simplifyForGI = 0, useCachedGI = 0, transmissionInSpecular = 0;
    float probDiffuse = 0, probPrimary = 0, probSecondary = 0, probTransmission = 0;
    Vec4 axisW, axisB, axisT, viewLocal;
    // The view's part of the lobes, with the normalisations of this point, taken by the first eval
    // or sample that needs them.
    LobeView view;
    // The distribution rows sampleRay inverts (R, TRT, TT, diffuse), each chosen and blended
    // when first needed: bit i of rowsTaken marks row i.
    const float* cdfRow(int i);
    int rowsTaken = 0;
    float rowStore[4][LobeTable::kCdfSamples];
    // The bodies of sampleRay and eval, which those call through their AVX2 and baseline builds.
    float sampleRayBody(const quor::QuorContext& parent, quor::QuorContext& newCtx, float u);
    quor::Color evalBody(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                         quor::Color& unshadowedLightColor, float lightProb, int flags);
    Color4 lightTransmission;
    LobeTable* primaryNormTable = nullptr;
    LobeTable* transmissionNormTable = nullptr;
    LobeTable* diffuseCdfTable = nullptr;
    int useLightMIS = 0;
    float lightMultiplier = 1;
    int elementsEnabled = 0;
    // Render-element accumulators of the current light sample and their running totals.
    Color4 accDiffuseLit, accDiffuseShadow, accSpecular, accTransmission, accTransmissionRaw;
    Color4 totDiffuseLit, totDiffuseShadow, totSpecular, totTransmission, totTransmissionRaw;
    quor::QuorContext* context = nullptr;
};

class BRDFHair3 : public SimpleBSDF<MaxHairBSDF>, public quor::RTMtlInterface {
  public:
    explicit BRDFHair3(quor::QuorPluginDesc* desc);

    // One answer for every interface part.
    quor::PluginBase* getPlugin() override { return this; }
    void release() override {}
    quor::PluginInterface* getInterface(int id) override;

    int getBSDFFlags() override;
    void setupSampler(quor::QuorContext& ctx, MaxHairBSDF& sampler, int flags) override;

    // RTMtlInterface: the key list of the material for the GPU renderer.
    int getRTSource(int a, int b, const char* kind, quor::ShaderSource& source, quor::OCLData* data) override;

    LobeTable& primaryNormTable() { return primaryNormTable_; }
    LobeTable& transmissionNormTable() { return transmissionNormTable_; }
    LobeTable& diffuseCdfTable() { return diffuseCdfTable_; }

  private:
    // The colours and glossiness values the textures give at a point.
    struct PointColors {
        Color4 diffuse, overall, primary, secondary{0.0f}, transmission;
        float glossPrimary = 0, glossSecondary = 0, glossLength = 0, glossWidth = 0;
    };
    Color4 pointTransparency(const quor::QuorContext& ctx, Color4 strandTransparency) const;
    PointColors pointColors(const quor::QuorContext& ctx, Color4 strandDiffuse) const;

    ParamBlock<kBRDFHair3Params> values_;

    LobeTable primaryNormTable_;
    LobeTable transmissionNormTable_;
    LobeTable diffuseCdfTable_;
};

} // namespace hair
