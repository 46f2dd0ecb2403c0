// The integrator's internals: the per-thread tracer, the contexts it hands to materials, and the
// renderer state the frame loop (frame.cpp) and the tracer (tracer.cpp) share.
#pragma once
#include <embree3/rtcore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "quor/context.h"
#include "quor/renderer.h"
#include "quor/sampler.h"
#include "render/render.h"
#include "render/sampling.h"
#include "render/scene_impl.h"

namespace quor::render {

constexpr int kFirstChannel = 100, kChannelCount = 40, kChannelFloats = 6;

// Render channels of one pixel sample: the last value written per alias.
class ChannelTarget final : public RenderChannelTarget {
  public:
    void write(int alias, const float* values, int count) override;
    bool has(int alias) const override {
        return alias >= kFirstChannel && alias < kFirstChannel + kChannelCount;
    }
    void clear();

    float value[kChannelCount][kChannelFloats] = {};
    bool written[kChannelCount] = {};
};

class Tracer;

// The context of one hit: the host queries a material may make come from the tracer.
class HitContext final : public QuorContext {
  public:
    Color giColor() const override;
    int useLightMIS() const override { return 1; }

    Tracer* tracer = nullptr;
    int level = 0;
};

// A strand (its geometry and range of pieces) that a ray ignores up to a distance from its
// origin: the strand it just left. No geometry ignores nothing.
struct StrandExclusion {
    unsigned geom = RTC_INVALID_GEOMETRY_ID;
    unsigned first = 0, last = 0;
    float dist = 0;

    bool active() const { return geom != RTC_INVALID_GEOMETRY_ID; }
    // A hit on one of the strand's pieces nearer than dist.
    bool excludes(unsigned hitGeom, unsigned prim, float t) const {
        return hitGeom == geom && prim - first <= last - first && t < dist;
    }
};

struct Ray {
    Float3 org, dir;
    int depth = 0;
    int flags = 0;
    StrandExclusion ignore; // the strand just left, ignored nearby
    Float3 dirDiff[2], posDiff[2];
};

struct Hit {
    int group = -1;
    unsigned geom = 0, prim = 0;
    float t = 0, u = 0;
    Float3 ng;
};

struct CameraFrame {
    Float3 eye, forward, right, up;
    float halfW = 1, halfH = 1;
};

// What every render thread reads, and the frame's output buffers.
struct RenderState {
    RenderState(Scene& s, const RenderOptions& o);

    Scene& scene;
    RenderOptions opt;
    RenderSettings settings;
    QuorRenderer qrenderer;
    SimpleSceneObject sceneObject;
    std::vector<QuorPluginInterface*> plugins; // unique instances
    std::vector<BSDFInterface*> groupBsdf;     // per group
    CameraFrame cam;

    std::vector<float> hair, backdrop; // RGBA, RGB
    // Channel buffers are made when a material first writes a channel.
    float* channelBuffer(int k);
    void clearChannels();
    std::mutex channelMutex;
    std::vector<float> channelBuf[kChannelCount];
    std::atomic<bool> channelUsed[kChannelCount];
};

struct ShadowQuery;

// What the camera sees of one sample besides the light: the environment straight behind (and
// through) the hair, and how much of the sample the hair covers.
struct CameraSample {
    Float3 backdrop;
    float alpha = 0;
};

class Tracer {
  public:
    enum class Kind { Camera, Sampled, GI };

    Tracer(RenderState& r, int threadIndex);

    // Radiance along a ray; level selects the contexts (camera path 0, nested GI-source paths
    // above), lastProb is the probability of the sampled direction that made the ray. A camera
    // ray also reports its backdrop and coverage.
    Float3 trace(Ray ray, int level, Kind kind, float lastProb, CameraSample* camera = nullptr);
    // The host's GI source for a hit context.
    Float3 giRadiance(const HitContext& ctx);
    // One hit of a shadow ray; true when nothing passes any more.
    bool shadowHit(ShadowQuery& q, Hit& hit);

    // The sample points of the pixel sample being traced.
    void setSampler(const PixelSampler* sampler) { sampler_ = sampler; }
    ChannelTarget& channels() { return channels_; }
    void setChannels(bool on) { channelsOn_ = on; }
    bool channelsOn() const { return channelsOn_; }

    std::uint64_t shadingPoints = 0, shadowPoints = 0, rays = 0, samples = 0; // samples: camera samples
    double cpuSeconds = 0;

  private:
    struct Level {
        HitContext ctx, shadowCtx, newCtx;
        SimpleStrandData strand, shadowStrand;
        RayRecord ray;
        StrandExclusion hitStrand; // the strand shaded at ctx, for GI-source rays
        std::uint32_t dims = 0;    // the sample dimensions of the event shaded at ctx
    };
    static constexpr int kMaxLevels = 6; // camera path plus nested GI-source paths

    class ShadedHit;

    bool intersect(const Ray& ray, Hit& hit);
    void setupHit(HitContext& ctx, SimpleStrandData& strand, const Ray& ray, const Hit& hit, Float3& P) const;
    bool passThrough(Float3 t, float u, Float3& T);
    bool sampledContinuation(ShadedHit& shaded, Level& lv, std::uint32_t dims, Ray& ray, Float3& T,
                             float& lastProb);
    Float3 escapedSampled(Float3 dir, float lastProb) const;
    Float3 shadow(Float3 org, Float3 dir, const Ray& from, int level);
    Float3 directLight(BRDFSampler* brdf, HitContext& ctx, Float3 P, const Ray& from, int level,
                       std::uint32_t dims);

    RenderState& r_;
    const Scene::Impl& scene_;
    const PixelSampler* sampler_ = nullptr;
    Level levels_[kMaxLevels];
    struct LightCandidate {
        Float3 dir, radiance, value; // value: the unshadowed contribution
        float prob = 0, scale = 0, weight = 0;
    };
    std::vector<LightCandidate> candidates_;
    ChannelTarget channels_;
    bool channelsOn_ = false; // collecting for the current camera path
};

} // namespace quor::render
