// Hair4BSDF: the sampler of the production hair model (BRDFHair4).
//
// A near-field fibre model after d'Eon et al. and Chiang et al.: the fibre is a dielectric
// cylinder with absorbing interior (melanin, pheomelanin and dye). Lobes, indexed 0 to 5:
//   0 R      primary reflection, tilted by -2·shift
//   1 TT     transmission, tilted by +shift
//   2 TRT    secondary reflection, tilted by +4·shift
//   3 glitter a narrower share of R whose two azimuthal peaks wander along the strand
//   4 glint  a focused coloured highlight: two peaks around the TRT caustic
//   5 TRRT+  every higher internal path, isotropic in azimuth
// plus a diffuse term that scatters uniformly over the sphere.
// Each lobe is Mp(θi; θo, v)·Np(φ): Mp the longitudinal von Mises-Fisher lobe of variance v
// (normalised over sin θi), Np a logistic in φ trimmed and normalised on [-π, π].
// Angles: axisT is the strand tangent; θ is measured from the normal plane of the strand
// (sin θ = ω·axisT); φ is the azimuth around the strand, measured from axisX = T × D towards
// axisY = T × axisX, D the incoming ray direction; h in [-1, 1] is the signed offset across
// the fibre width where the ray hits.
// Everything that depends on the viewing direction is computed once per point (hair4_setup);
// eval adds the per-lobe Mp·Np for the light direction only.
#pragma once
#include <cstdint>

#include "math/fast_math.h"
#include "math/numeric.h"
#include "math/vec4.h"
#include "quor/context.h"
#include "quor/sampler.h"

namespace hair {

// Parameter values at one shading point, gathered by BRDFHair4::setupSampler from the
// parameter table (production_hair_params.h), which gives the values of unconnected slots.
struct Hair4Inputs {
    float boost, glossiness, softness;
    float highlightShift; // degrees
    float ior;
    float dyeColor[3];
    float melanin, pheomelanin, diffuseAmount;
    float randomMelanin, randomDyeHue, randomDyeSaturation, randomDyeValue;
    float randomGlossiness, randomSoftness, randomHighlightShift, randomIor, randomTangent;
    float grayHairDensity;
    float glintStrength, glintVariation, glitterStrength, glitterSize, glintScale;
    float unitScale; // scene length of 100 real-world units (BRDFHair4::unitScale)
    float primaryTint[3], secondaryTint[3], transmissionTint[3];
    // After every float: the set-up makes the floats finite in one pass (hair4_setup.cpp).
    int subdivs, traceDepth;
};

class Hair4BSDF : public quor::BRDFSampler, public quor::BSDFSampler {
  public:
    static constexpr int kLobes = 6;
    enum Lobe { R = 0, TT = 1, TRT = 2, Glitter = 3, Glint = 4, Residual = 5 };

    // The per-point set-up (hair4_setup.cpp). `strand` is ctx's strand-data interface, or
    // null; the first form looks it up.
    void setup(const quor::QuorContext& ctx, const Hair4Inputs& in, const quor::StrandRecord& rec);
    void setup(const quor::QuorContext& ctx, const Hair4Inputs& in, const quor::StrandRecord& rec,
               const quor::StrandDataInterface* strand);
    // The set-up proper, on inputs already finite.
    void setupFinite(const quor::QuorContext& ctx, const Hair4Inputs& in, const quor::StrandRecord& rec,
                     const quor::StrandDataInterface* strand);

    // BRDFSampler
    quor::Color getDiffuseColor(quor::Color& weight) override;
    quor::Color getLightMultiplier(quor::Color& weight) override;
    quor::Color eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                     quor::Color& unshadowedLightColor, float lightProb, int flags) override;
    int getSamplerFlags() override { return quor::SAMPLER_SAMPLES_RAYS; }
    void traceForward(quor::QuorContext& ctx, int arg) override;
    int getAuxFlags() override { return sampleCount; }
    quor::Color getTransparency() override { return transparency.host(); }
    int addContextRay(quor::QuorContext& ctx, void* arg, int mode) override;
    float sampleRay(const quor::QuorContext& parent, quor::QuorContext& newCtx, float u, int mode) override;
    quor::RenderChannelsInfo* getRenderChannels() override {
        return quor::RenderChannelsInfo::reflectChannels();
    }
    // BSDFSampler
    quor::BRDFSampler* getBRDF(int) override { return this; }
    quor::Color getBSDFTransparency(const quor::QuorContext&) override { return transparency.host(); }

    // The lobe sum for a direction (cos θi, sin θi, φ): f the reflectance, p the density of
    // sampleRay's strategy over solid angle.
    void lobeSum(float cosThetaI, float sinThetaI, float phi, Color4& f, float& p) const;

    // Sampler state, written by setup.
    int terminal = 1;
    int useLightMIS = 0;
    int sampleCount = 0;
    Color4 transparency;
    Color4 albedoSum;
    float lobeVariance[kLobes] = {1, 1, 1, 1, 1, 1};
    float lobeScale[kLobes] = {1, 1, 1, 1, 1, 1};
    Color4 diffuseColor;
    Vec4 axisT{0, 0, 1}, axisX{1, 0, 0}, axisY{0, 1, 0};
    float lobeSinThetaO[kLobes] = {};
    float lobeCosThetaO[kLobes] = {};
    Color4 lobeColor[kLobes];
    float lobePhi[kLobes] = {};
    float lobeWeight[kLobes] = {};
    float diffuseWeight = 0;
    float glintSeparation = 0;
    float glitterPhiA = 0, glitterPhiB = 0;

    // Constants derived from the state above, so that eval and sampleRay do no per-lobe set-up
    // work. setup() ends with finishLobes(); call it again after changing the state by hand.
    void finishLobes();
    // Lobes side by side, for the lane-wise lobe sum.
    template <class F> struct LobePack {
        F cosO, sinO;   // tilted outgoing angle
        F v, invV;      // longitudinal variance and 1/v
        F logConst;     // 0.6931 + ln(1/(2v)), for v <= 0.1
        F logCosOverV;  // ln(cos θo'/v)
        F norm;         // 1/(2v·sinh(1/v)), for v > 0.1
        F centre;       // azimuth of the logistic peak
        F invS, tlNorm; // 1/s and 1/(s·(c+ - c-)) of the trimmed logistic
        F active;       // 1 for lobes of positive weight, else 0
    };
    // Lanes R, TT, TRT, residual (its logistic lane unused), then the peaks: glitter peak A,
    // glint peak +, glitter peak B, glint peak - (Mp lanes: glitter, glint, glitter, glint).
    // Points without glitter and glint read the first four lanes only.
    struct Lanes8 {
        float v[8];
        float& operator[](int i) { return v[i]; }
        float operator[](int i) const { return v[i]; }
    };
    LobePack<Lanes8> pack;
    bool hasPeaks = false;
    // Per lobe, for sampling: exp(-2/v), and c- and c+ - c- of the trimmed logistic.
    float expM2V[kLobes] = {};
    float tlCMinus[kLobes] = {};
    float tlCSpan[kLobes] = {};
};

namespace hair4 {

// Zeroth-order modified Bessel function of the first kind: the first eleven terms of its series.
float besselI0(float x);
// ln I0(x), with the asymptotic form above 12.
float logBesselI0(float x);
// Longitudinal scattering Mp for variance v and a = cos θo'·cos θi/v, b = sin θo'·sin θi/v.
float longitudinal(float v, float a, float b);
// Logistic of scale s trimmed and normalised on [-π, π]; x is wrapped into [-π, π] first.
float trimmedLogistic(float x, float s);
// Inverse of the trimmed logistic's distribution for u in [0, 1).
float sampleTrimmedLogistic(float u, float s);
// Brings an angle into [-π, π] by whole turns.
float wrapPi(float x);
// Dielectric Fresnel reflectance for relative index eta at incidence cosine x.
float fresnel(float eta, float x);

} // namespace hair4

} // namespace hair
