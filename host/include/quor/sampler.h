// Samplers: the per-shading-point objects a material hands the host.
#pragma once
#include "quor/context.h"
#include "quor/interface.h"
#include "quor/types.h"

namespace quor {

// A set of render channels a sampler writes.
class RenderChannelsInfo {
  public:
    explicit RenderChannelsInfo(const char* name) : name_(name) {}
    const char* name() const { return name_; }
    // The host's reflection channel set.
    static RenderChannelsInfo* reflectChannels();

  private:
    const char* name_;
};

// What eval is asked for.
enum EvalFlags : int {
    EVAL_DIFFUSE = 1,                        // the diffuse part
    EVAL_SPECULAR = 2,                       // the specular part
    EVAL_ALL = EVAL_DIFFUSE | EVAL_SPECULAR, // both
};

// getSamplerFlags: what the host may do with a sampler.
enum SamplerFlags : int {
    SAMPLER_CACHED_GI = 0x1,      // the host may answer its indirect light from a GI cache
    SAMPLER_LIGHT_ELEMENTS = 0x2, // it gathers per-light render elements (scale/commitLightSample)
    SAMPLER_SAMPLES_RAYS = 0x8,   // paths continue through its sampleRay, not the GI source
};

// The mode of sampleRay and addContextRay.
enum SampleModes : int {
    SAMPLE_MODE_PATH = 0,     // an ordinary path
    SAMPLE_MODE_GI_CACHE = 2, // the host fills its GI cache: no continuation, at most a GI ray
};

// The mode of getBRDF: the side of the strand the ray arrives at (any non-zero value is the back).
enum BRDFSides : int {
    SIDE_FRONT = 0, // pass-through (1 + t) / 2
    SIDE_BACK = 1,  // pass-through 2t / (1 + t)
};

// getBSDFFlags: what the host may assume about a material before shading it.
enum BSDFFlags : int {
    BSDF_OPAQUE = 0x1,              // never see-through: shadow rays stop at it
    BSDF_MULTIPLE_SCATTERING = 0x2, // its multiple scattering is the host's path tracing (hair depth)
};

class BRDFSampler {
  public:
    BRDFSampler() = default;
    virtual ~BRDFSampler() = default;

    virtual Color getDiffuseColor(Color& weight) = 0;
    virtual Vector getContextVector(const QuorContext& ctx);
    virtual Color getLightMultiplier(Color& weight) = 0;
    virtual Color eval(const QuorContext& ctx, const Vector& L, Color& lightColor,
                       Color& unshadowedLightColor, float lightProb, int flags) = 0;
    virtual void scaleLightSample(float f) { (void)f; }
    virtual void commitLightSample(int arg) { (void)arg; }
    virtual int getSamplerFlags() { return SAMPLER_CACHED_GI; }
    virtual void traceForward(QuorContext& ctx, int arg);
    virtual int getAuxFlags() { return 0; }
    virtual Color getTransparency() { return {0, 0, 0, 0}; }
    virtual Color adjustColor(int arg, const Color& c) {
        (void)arg;
        return c;
    }
    virtual Color getOpacity();
    virtual int addContextRay(QuorContext& ctx, void* arg, int mode) {
        (void)ctx, (void)arg, (void)mode;
        return 0;
    }
    virtual float sampleRay(const QuorContext& parent, QuorContext& newCtx, float u, int mode) {
        (void)parent, (void)newCtx, (void)u, (void)mode;
        return 0.0f;
    }
    virtual RenderChannelsInfo* getRenderChannels() { return nullptr; }
    virtual int reserved0() { return 0; }
    virtual int reserved1() { return 0; }
    virtual Color reserved2() { return {0, 0, 0, 0}; }
    virtual int reserved3(void* arg, int& out0, int& out1) {
        (void)arg;
        out0 = 0;
        out1 = 0;
        return 0;
    }
    virtual int reserved4() { return 0; }

    // The host's quasi-random source for a context (not virtual).
    float getDMCParam(const QuorContext& ctx, int dimension) const { return ctx.getDMC(dimension); }

  protected:
    int hostField_ = 0; // cleared by the base constructor
};

class BSDFSampler {
  public:
    BSDFSampler() = default;
    virtual ~BSDFSampler() = default;

    virtual BRDFSampler* getBRDF(int mode) = 0;
    virtual void traceBSDFForward(QuorContext& ctx, int arg);
    virtual Color getBSDFTransparency(const QuorContext& ctx);
    virtual int reserved5() { return 0; }
};

// Offered by every hair instance: the factory of samplers.
class BSDFInterface : public PluginInterface {
  public:
    int getInterfaceId() override { return EXT_BSDF; }
    const char* getInterfaceName() override { return "EXT_BSDF"; }
    virtual BSDFSampler* newBSDF(QuorContext& ctx, int flags) = 0;
    virtual void deleteBSDF(QuorContext& ctx, BSDFSampler* bsdf) = 0;
    virtual int getBSDFFlags() = 0;

  protected:
    ~BSDFInterface() = default;
};

} // namespace quor
