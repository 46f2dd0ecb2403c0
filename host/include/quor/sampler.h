// Samplers: the per-shading-point objects a material hands the host.
#pragma once
#include "quor/context.h"
#include "quor/interface.h"
#include "quor/types.h"

namespace quor {

/// A set of render channels a sampler writes.
class RenderChannelsInfo {
  public:
    /// A named set.
    explicit RenderChannelsInfo(const char* name) : name_(name) {}
    /// The set's name.
    const char* name() const { return name_; }
    /// The host's reflection channel set.
    static RenderChannelsInfo* reflectChannels();

  private:
    const char* name_;
};

/// Flags reported to the host (SamplerFlags); SAMPLER_CACHED_GI by default.
/// What eval is asked for.
enum EvalFlags : int {
    EVAL_DIFFUSE = 1,                        ///< the diffuse part
    EVAL_SPECULAR = 2,                       ///< the specular part
    EVAL_ALL = EVAL_DIFFUSE | EVAL_SPECULAR, ///< both
};

/// getSamplerFlags: what the host may do with a sampler.
enum SamplerFlags : int {
    SAMPLER_CACHED_GI = 0x1,      ///< the host may answer its indirect light from a GI cache
    SAMPLER_LIGHT_ELEMENTS = 0x2, ///< it gathers per-light render elements (scale/commitLightSample)
    SAMPLER_SAMPLES_RAYS = 0x8,   ///< paths continue through its sampleRay, not the GI source
};

/// The mode of sampleRay and addContextRay.
enum SampleModes : int {
    SAMPLE_MODE_PATH = 0,     ///< an ordinary path
    SAMPLE_MODE_GI_CACHE = 2, ///< the host fills its GI cache: no continuation, at most a GI ray
};

/// The mode of getBRDF: the side of the strand the ray arrives at (any non-zero value is the back).
enum BRDFSides : int {
    SIDE_FRONT = 0, ///< pass-through (1 + t) / 2
    SIDE_BACK = 1,  ///< pass-through 2t / (1 + t)
};

/// getBSDFFlags: what the host may assume about a material before shading it.
enum BSDFFlags : int {
    BSDF_OPAQUE = 0x1,              ///< never see-through: shadow rays stop at it
    BSDF_MULTIPLE_SCATTERING = 0x2, ///< its multiple scattering is the host's path tracing (hair depth)
    /// Fills the context's shading output (GI, transparency, opacity).
};

/// A shading point's reflectance: what the host evaluates lights with and continues paths through.
class BRDFSampler {
  public:
    /// Clears the host field; nothing else.
    BRDFSampler() = default;
    virtual ~BRDFSampler() = default;

    /// weight times the diffuse colour; weight is then multiplied by the pass-through colour.
    virtual Color getDiffuseColor(Color& weight) = 0;
    /// A copy of the context's ray direction.
    virtual Vector getContextVector(const QuorContext& ctx);
    /// weight times the total light multiplier; weight is then multiplied by the pass-through colour.
    virtual Color getLightMultiplier(Color& weight) = 0;
    /// Light reflected towards the viewer from direction L, times lightColor (EvalFlags pick the parts);
    /// both light colours are multiplied in place by the pass-through colour.
    virtual Color eval(const QuorContext& ctx, const Vector& L, Color& lightColor,
                       Color& unshadowedLightColor, float lightProb, int flags) = 0;
    /// Scales the light sample being accumulated; does nothing by default.
    virtual void scaleLightSample(float f) { (void)f; }
    /// Commits the light sample being accumulated; does nothing by default.
    virtual void commitLightSample(int arg) { (void)arg; }
    /// Flags reported to the host (SamplerFlags); SAMPLER_CACHED_GI by default.
    virtual int getSamplerFlags() { return SAMPLER_CACHED_GI; }
    /// Fills the context's shading output (GI, transparency, opacity).
    virtual void traceForward(QuorContext& ctx, int arg);
    /// Further flags reported to the host; 0 by default.
    virtual int getAuxFlags() { return 0; }
    /// The colour that passes straight through the strand here; black by default.
    virtual Color getTransparency() { return {0, 0, 0, 0}; }
    /// The colour as the sampler adjusts it; unchanged by default.
    virtual Color adjustColor(int arg, const Color& c) {
        (void)arg;
        return c;
    }
    /// Per lane max(1 - getTransparency(), 0).
    virtual Color getOpacity();
    /// Lets the sampler add a ray of its own to the context; none by default (answers 0).
    virtual int addContextRay(QuorContext& ctx, void* arg, int mode) {
        (void)ctx, (void)arg, (void)mode;
        return 0;
    }
    /// Sets up a continuation ray in newCtx from lobe-selection number u; a result of 0 sets none.
    virtual float sampleRay(const QuorContext& parent, QuorContext& newCtx, float u, int mode) {
        (void)parent, (void)newCtx, (void)u, (void)mode;
        return 0.0f;
    }
    /// The render channels the sampler writes; null by default.
    virtual RenderChannelsInfo* getRenderChannels() { return nullptr; }
    /// Reserved by the host; answers 0.
    virtual int reserved0() { return 0; }
    /// Reserved by the host; answers 0.
    virtual int reserved1() { return 0; }
    /// Reserved by the host; answers black.
    virtual Color reserved2() { return {0, 0, 0, 0}; }
    /// Reserved by the host; writes 0 to both out-values and answers 0.
    virtual int reserved3(void* arg, int& out0, int& out1) {
        (void)arg;
        out0 = 0;
        out1 = 0;
        return 0;
    }
    /// Reserved by the host; answers 0.
    virtual int reserved4() { return 0; }

    /// The host's quasi-random value in [0, 1) for a context and dimension (not virtual).
    float getDMCParam(const QuorContext& ctx, int dimension) const { return ctx.getDMC(dimension); }

  protected:
    int hostField_ = 0; ///< The host's; cleared by the base constructor.
};

/// What newBSDF hands the host for one shading point.
class BSDFSampler {
  public:
    /// Holds nothing.
    BSDFSampler() = default;
    virtual ~BSDFSampler() = default;

    /// The reflectance of the same object, for a side mode.
    virtual BRDFSampler* getBRDF(int mode) = 0;
    /// The host's forward tracing through the BSDF.
    virtual void traceBSDFForward(QuorContext& ctx, int arg);
    /// The transparency the host shades with; the host derives it by default.
    virtual Color getBSDFTransparency(const QuorContext& ctx);
    /// Reserved by the host; answers 0.
    virtual int reserved5() { return 0; }
};

/// Offered by every hair instance: the factory of samplers.
class BSDFInterface : public PluginInterface {
  public:
    int getInterfaceId() override { return EXT_BSDF; }
    const char* getInterfaceName() override { return "EXT_BSDF"; }
    /// A sampler set up for the context's hit, from the pool of ctx.threadIndex; null outside a render.
    virtual BSDFSampler* newBSDF(QuorContext& ctx, int flags) = 0;
    /// Gives a sampler from newBSDF back, on the same thread; null is ignored.
    virtual void deleteBSDF(QuorContext& ctx, BSDFSampler* bsdf) = 0;
    /// Flags describing the material's samplers.
    virtual int getBSDFFlags() = 0;

  protected:
    ~BSDFInterface() = default;
};

} // namespace quor
