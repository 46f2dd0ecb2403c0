// The path tracer. Per pixel sample: a camera ray; at every hair hit the material's sampler
// (newBSDF -> getBRDF -> traceForward for the transparency), stochastic pass-through with the
// transparency, direct light from the distant light and one environment sample (shadow rays
// pass through transparent strands), then either a continuation ray from sampleRay (materials
// that sample, weighted by multiple importance against the environment) or the GI result of
// traceForward with a GI-source ray (materials that do not).
#include <embree3/rtcore.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>
#include <ostream>

#include "quor/context.h"
#include "quor/renderer.h"
#include "quor/sampler.h"
#include "render/render.h"
#include "harness/rng.h"
#include "render/scene_impl.h"

namespace quor::render {

using harness::Rng;

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kInvPi = 1.0f / kPi;
constexpr int kMaxLevels = 6;    // camera path plus nested GI-source paths
constexpr int kMaxEvents = 4096; // hits along one path, pass-through included
constexpr float kDeltaLightProb =
    1e15f;                       // a delta light: the material's MIS weight is 1 (its square stays finite)
constexpr float kEnvProb = 0.5f; // 2π × 1/(4π): uniform sphere sampling
constexpr int kTile = 16;
constexpr int kFirstChannel = 100, kChannelCount = 40, kChannelFloats = 6;

struct V3 {
    float x = 0, y = 0, z = 0;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 operator*(V3 a, V3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline V3 unit(V3 a) {
    float l = std::sqrt(dot(a, a));
    return l > 0 ? a * (1.0f / l) : a;
}
inline float maxc(V3 a) { return std::max(a.x, std::max(a.y, a.z)); }
inline V3 fromF(Float3 f) { return {f.x, f.y, f.z}; }
inline V3 fromVec(const Vector& v) { return {v.x, v.y, v.z}; }
inline V3 fromColor(const Color& c) { return {c.r, c.g, c.b}; }
inline Vector toVec(V3 v) { return {v.x, v.y, v.z, 0}; }
inline Color toColor(V3 c) { return {c.x, c.y, c.z, c.z}; }
inline float sat(float x) { return x > 0 ? (x < 1 ? x : 1) : 0; }
inline V3 sat(V3 c) { return {sat(c.x), sat(c.y), sat(c.z)}; }

// Render channels of one pixel sample: the last value written per alias.
class ChannelTarget final : public RenderChannelTarget {
  public:
    void write(int alias, const float* values, int count) override {
        int k = alias - kFirstChannel;
        if (k < 0 || k >= kChannelCount || !values) return;
        int n = std::min(count, kChannelFloats);
        for (int i = 0; i < n; ++i)
            value[k][i] = values[i];
        for (int i = n; i < kChannelFloats; ++i)
            value[k][i] = 0;
        written[k] = true;
    }
    bool has(int alias) const override {
        return alias >= kFirstChannel && alias < kFirstChannel + kChannelCount;
    }
    void clear() { std::fill(std::begin(written), std::end(written), false); }

    float value[kChannelCount][kChannelFloats] = {};
    bool written[kChannelCount] = {};
};

class Tracer;
struct ShadowQuery;

// The context of one hit: the host queries a material may make come from the tracer.
class HitContext final : public QuorContext {
  public:
    Color giColor() const override;
    int useLightMIS() const override { return 1; }

    Tracer* tracer = nullptr;
    int level = 0;
};

struct Ray {
    V3 org, dir;
    int depth = 0;
    int flags = 0;
    unsigned ignoreGeom = RTC_INVALID_GEOMETRY_ID; // the strand just left, ignored nearby
    int ignoreStrand = -1;
    float ignoreDist = 0;
    V3 dirDiff[2], posDiff[2];
};

struct Hit {
    int group = -1;
    unsigned geom = 0, prim = 0;
    float t = 0, u = 0;
    V3 ng;
};

struct FilterContext {
    RTCIntersectContext rtc; // first: Embree hands this pointer back to the filter
    const Scene::Impl* scene;
    unsigned geom;
    int strand;
    float dist;
};

void ignoreStrandFilter(const RTCFilterFunctionNArguments* args) {
    auto* fc = reinterpret_cast<const FilterContext*>(args->context);
    if (fc->strand < 0) return;
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != -1) continue;
        unsigned geom = RTCHitN_geomID(args->hit, args->N, i);
        if (geom != fc->geom) continue;
        unsigned prim = RTCHitN_primID(args->hit, args->N, i);
        const auto& g = fc->scene->groups[fc->scene->geomToGroup[geom]];
        if (g.segs[prim].strand == fc->strand && RTCRayN_tfar(args->ray, args->N, i) < fc->dist)
            args->valid[i] = 0;
    }
}

struct Level {
    HitContext ctx, shadowCtx, newCtx;
    SimpleStrandData strand, shadowStrand;
    RayRecord ray;
    unsigned hitGeom = RTC_INVALID_GEOMETRY_ID; // the strand shaded at ctx, for GI-source rays
    float hitIgnoreDist = 0;
};

} // namespace

struct Renderer::Impl {
    Scene& scene;
    RenderOptions opt;
    RenderSettings settings;
    QuorRenderer qrenderer;
    SimpleSceneObject sceneObject;
    std::vector<QuorPluginInterface*> plugins; // unique instances
    std::vector<BSDFInterface*> groupBsdf;     // per group, null for placeholders
    std::vector<std::unique_ptr<Tracer>> tracers;

    // Per-frame output.
    std::vector<float> pixels;
    std::mutex channelMutex;
    std::vector<float> channelBuf[kChannelCount];
    std::atomic<bool> channelUsed[kChannelCount];

    struct CameraFrame {
        V3 eye, forward, right, up;
        float halfW = 1, halfH = 1;
    } cam;

    Impl(Scene& s, const RenderOptions& o);
    float* channelBuffer(int k) {
        if (!channelUsed[k].load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> lock(channelMutex);
            if (!channelUsed[k].load(std::memory_order_relaxed)) {
                channelBuf[k].assign(static_cast<std::size_t>(opt.width) * opt.height * kChannelFloats, 0.0f);
                channelUsed[k].store(true, std::memory_order_release);
            }
        }
        return channelBuf[k].data();
    }
};

namespace {

class Tracer {
  public:
    Tracer(Renderer::Impl& r, int threadIndex) : r_(r), scene_(r.scene.impl()), thread_(threadIndex) {
        for (int i = 0; i < kMaxLevels; ++i) {
            for (HitContext* c : {&levels_[i].ctx, &levels_[i].shadowCtx, &levels_[i].newCtx}) {
                c->tracer = this;
                c->level = i;
                c->threadIndex = threadIndex;
                c->settings = &r.settings;
            }
        }
    }

    void renderTile(int x0, int y0, int x1, int y1);
    void setChannels(bool on) { channelsOn_ = on; }
    V3 giRadiance(const HitContext& ctx);

    std::uint64_t shadingPoints = 0, shadowPoints = 0;
    double cpuSeconds = 0;

  private:
    enum class Kind { Camera, Sampled, GI };

    V3 trace(Ray ray, int level, Kind kind, float lastProb);
    V3 shadow(V3 org, V3 dir, const Ray& from, int level);

  public:
    bool shadowHit(ShadowQuery& q, Hit& hit); // true: nothing passes any more

  private:
    bool intersect(const Ray& ray, Hit& hit) const;
    void setupHit(HitContext& ctx, SimpleStrandData& strand, const Ray& ray, const Hit& hit, V3& P) const;
    V3 directLight(BRDFSampler* brdf, HitContext& ctx, V3 P, const Ray& from, int level);
    V3 lightSample(BRDFSampler* brdf, HitContext& ctx, V3 P, V3 L, V3 Le, float lightProb, const Ray& from,
                   int level);

    Renderer::Impl& r_;
    const Scene::Impl& scene_;
    int thread_;
    Rng rng_;
    Level levels_[kMaxLevels];
    ChannelTarget channels_;
    bool channelsOn_ = false; // collecting for the current camera path
};

Color HitContext::giColor() const { return toColor(tracer->giRadiance(*this)); }

bool Tracer::intersect(const Ray& ray, Hit& hit) const {
    FilterContext fc;
    rtcInitIntersectContext(&fc.rtc);
    fc.rtc.filter = ray.ignoreStrand >= 0 ? ignoreStrandFilter : nullptr;
    fc.scene = &scene_;
    fc.geom = ray.ignoreGeom;
    fc.strand = ray.ignoreStrand;
    fc.dist = ray.ignoreDist;
    RTCRayHit rh;
    rh.ray.org_x = ray.org.x;
    rh.ray.org_y = ray.org.y;
    rh.ray.org_z = ray.org.z;
    rh.ray.dir_x = ray.dir.x;
    rh.ray.dir_y = ray.dir.y;
    rh.ray.dir_z = ray.dir.z;
    rh.ray.tnear = 0;
    rh.ray.tfar = 1e30f;
    rh.ray.time = 0;
    rh.ray.mask = 0xFFFFFFFFu;
    rh.ray.id = 0;
    rh.ray.flags = 0;
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene_.scene, &fc.rtc, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return false;
    hit.geom = rh.hit.geomID;
    hit.prim = rh.hit.primID;
    hit.group = scene_.geomToGroup[hit.geom];
    hit.t = rh.ray.tfar;
    hit.u = rh.hit.u;
    hit.ng = {rh.hit.Ng_x, rh.hit.Ng_y, rh.hit.Ng_z};
    return true;
}

// Fills the context and strand record of a hit as the host does: tangent from the segment,
// h from where the ray met the fibre across its width, the side of the cylinder as normal.
void Tracer::setupHit(HitContext& ctx, SimpleStrandData& strand, const Ray& ray, const Hit& hit,
                      V3& P) const {
    const auto& g = scene_.groups[hit.group];
    const auto& seg = g.segs[hit.prim];
    unsigned v0 = seg.v0;
    const float* a = &g.verts[4 * v0];
    const float* b = a + 4;
    float u = sat(hit.u);
    V3 A{a[0], a[1], a[2]}, B{b[0], b[1], b[2]};
    V3 C = A * (1 - u) + B * u;
    float radius = std::max(a[3] * (1 - u) + b[3] * u, 1e-12f);
    V3 T = unit(B - A);
    V3 D = ray.dir;
    P = ray.org + D * hit.t;
    V3 X = unit(cross(T, D));
    float h = std::clamp(dot(P - C, X) / radius, -1.0f, 1.0f);
    // Strands are ribbons facing the ray; the normal is that of the round fibre at offset h,
    // on the side the ray came from.
    V3 toViewer = unit(T * dot(T, D) - D);
    V3 n = unit(X * h + toViewer * std::sqrt(std::max(0.0f, 1 - h * h)));
    if (!(dot(n, n) > 0.5f)) n = dot(hit.ng, hit.ng) > 0 ? unit(hit.ng) : V3{0, 0, 1};
    if (dot(n, D) > 0) n = n * -1.0f;

    int s = seg.strand;
    const auto& info = g.strands[s];
    StrandRecord& rec = strand.record;
    Float3 col = info.color, tr = info.transparency;
    rec.color[0] = col.x, rec.color[1] = col.y, rec.color[2] = col.z;
    rec.transparency[0] = tr.x, rec.transparency[1] = tr.y, rec.transparency[2] = tr.z;
    rec.tangent = toVec(T);
    rec.h = h;
    strand.shadowTransparency = {tr.x, tr.y, tr.z};
    strand.length = info.length;
    strand.position = seg.pos0 * (1 - u) + seg.pos1 * u;
    strand.index = s;

    ctx.rayDir = toVec(D);
    ctx.normal = toVec(n);
    ctx.hitPoint = toVec(P);
    for (int i = 0; i < 2; ++i) {
        ctx.dirDiff[i] = toVec(ray.dirDiff[i]);
        ctx.posDiff[i] = toVec(ray.posDiff[i] + ray.dirDiff[i] * hit.t);
    }
    ctx.rayFlags = ray.flags;
    ctx.rayDepth = ray.depth;
    ctx.surfaceData = &strand;
    ctx.result = ShadeResult{};
    ctx.ray = nullptr;
    ctx.sampleValue = 0.5f;
}

// Shadow rays find their hits in any order (an occlusion query): each hit asks its material
// for the transparency with a shadow-ray context, the product is kept, and the query stops at
// the first hit that leaves nothing through.
struct ShadowQuery {
    RTCIntersectContext rtc; // first: Embree hands this pointer back to the filter
    Tracer* tracer;
    const Ray* ray;
    int level;
    V3 tr{1, 1, 1};
    static constexpr int kSeen = 32;
    unsigned seen[kSeen][2]; // a primitive may be reported more than once; count it once
    int nSeen = 0;
};

void shadowFilter(const RTCFilterFunctionNArguments* args) {
    auto* q = reinterpret_cast<ShadowQuery*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != -1) continue;
        Hit hit;
        hit.geom = RTCHitN_geomID(args->hit, args->N, i);
        hit.prim = RTCHitN_primID(args->hit, args->N, i);
        hit.u = RTCHitN_u(args->hit, args->N, i);
        hit.t = RTCRayN_tfar(args->ray, args->N, i);
        hit.ng = {RTCHitN_Ng_x(args->hit, args->N, i), RTCHitN_Ng_y(args->hit, args->N, i),
                  RTCHitN_Ng_z(args->hit, args->N, i)};
        if (!q->tracer->shadowHit(*q, hit)) args->valid[i] = 0; // light passes: keep looking
    }
}

bool Tracer::shadowHit(ShadowQuery& q, Hit& hit) {
    const Ray& ray = *q.ray;
    hit.group = scene_.geomToGroup[hit.geom];
    if (hit.geom == ray.ignoreGeom && scene_.groups[hit.group].segs[hit.prim].strand == ray.ignoreStrand &&
        hit.t < ray.ignoreDist)
        return false;
    for (int k = 0; k < q.nSeen; ++k)
        if (q.seen[k][0] == hit.geom && q.seen[k][1] == hit.prim) return false;
    if (q.nSeen < ShadowQuery::kSeen) {
        q.seen[q.nSeen][0] = hit.geom;
        q.seen[q.nSeen][1] = hit.prim;
        ++q.nSeen;
    }
    Level& lv = levels_[q.level];
    HitContext& ctx = lv.shadowCtx;
    V3 P;
    setupHit(ctx, lv.shadowStrand, ray, hit, P);
    ctx.contextFlags = CTX_SKIP_BELOW_SURFACE;
    ctx.channels = nullptr;
    BSDFInterface* bi = r_.groupBsdf[hit.group];
    BSDFSampler* bsdf = bi->newBSDF(ctx, 0);
    if (!bsdf) {
        q.tr = {};
        return true;
    }
    ++shadingPoints;
    ++shadowPoints;
    BRDFSampler* brdf = bsdf->getBRDF(0);
    brdf->traceForward(ctx, 0);
    q.tr = q.tr * sat(fromColor(ctx.result.transparency));
    bi->deleteBSDF(ctx, bsdf);
    if (maxc(q.tr) < 1e-5f) {
        q.tr = {};
        return true;
    }
    return false;
}

V3 Tracer::shadow(V3 org, V3 dir, const Ray& from, int level) {
    Ray ray;
    ray.org = org;
    ray.dir = dir;
    ray.depth = from.depth;
    ray.flags = RAY_SHADOW;
    ray.ignoreGeom = from.ignoreGeom;
    ray.ignoreStrand = from.ignoreStrand;
    ray.ignoreDist = from.ignoreDist;
    ShadowQuery q;
    rtcInitIntersectContext(&q.rtc);
    q.rtc.filter = shadowFilter;
    q.tracer = this;
    q.ray = &ray;
    q.level = level;
    RTCRay r;
    r.org_x = org.x, r.org_y = org.y, r.org_z = org.z;
    r.dir_x = dir.x, r.dir_y = dir.y, r.dir_z = dir.z;
    r.tnear = 0;
    r.tfar = 1e30f;
    r.time = 0;
    r.mask = 0xFFFFFFFFu;
    r.id = 0;
    r.flags = 0;
    rtcOccluded1(scene_.scene, &q.rtc, &r);
    if (r.tfar < 0) return {}; // occluded
    return q.tr;
}

// One light sample. eval is linear in the light colour, so unless the material keeps render
// elements (which need the shadowed and unshadowed colours apart) it is evaluated unshadowed
// first and the shadow ray is traced only for a non-zero result.
V3 Tracer::lightSample(BRDFSampler* brdf, HitContext& ctx, V3 P, V3 L, V3 Le, float lightProb,
                       const Ray& from, int level) {
    if (!(maxc(Le) > 0)) return {};
    if (ctx.channels) {
        V3 tr = shadow(P, L, from, level);
        Color lc = toColor(Le * tr), un = toColor(Le);
        return fromColor(brdf->eval(ctx, toVec(L), lc, un, lightProb, EVAL_DIFFUSE | EVAL_SPECULAR));
    }
    Color lc = toColor(Le), un = toColor(Le);
    V3 c = fromColor(brdf->eval(ctx, toVec(L), lc, un, lightProb, EVAL_DIFFUSE | EVAL_SPECULAR));
    if (!(maxc(c) > 0)) return c; // nothing to shadow (negative or NaN results are kept as they are)
    return c * shadow(P, L, from, level);
}

V3 Tracer::directLight(BRDFSampler* brdf, HitContext& ctx, V3 P, const Ray& from, int level) {
    V3 sum;
    const Scene& scene = r_.scene;
    if (scene.sun.on) {
        V3 L = unit(fromF(scene.sun.direction));
        sum = lightSample(brdf, ctx, P, L, fromF(scene.sun.color), kDeltaLightProb, from, level) * kInvPi;
    }
    // One environment sample, uniform over the sphere (pdf 1/4π): contribution eval·4.
    float z = 1 - 2 * rng_.uniform();
    float phi = 2 * kPi * rng_.uniform();
    float rho = std::sqrt(std::max(0.0f, 1 - z * z));
    V3 L{rho * std::cos(phi), rho * std::sin(phi), z};
    Float3 le = scene.env.radiance({L.x, L.y, L.z});
    return sum + lightSample(brdf, ctx, P, L, {le.x, le.y, le.z}, kEnvProb, from, level) * 4.0f;
}

V3 Tracer::trace(Ray ray, int level, Kind kind, float lastProb) {
    V3 L, T{1, 1, 1};
    Level& lv = levels_[level];
    const Scene& scene = r_.scene;
    for (int event = 0; event < kMaxEvents; ++event) {
        Hit hit;
        if (!intersect(ray, hit)) {
            Float3 le = scene.env.radiance({ray.dir.x, ray.dir.y, ray.dir.z});
            V3 Le{le.x, le.y, le.z};
            if (kind == Kind::Camera) {
                L = L + T * Le;
            } else if (kind == Kind::Sampled) {
                // The other half of the power heuristic that eval applied to light samples.
                float w = lastProb > 0 ? 1.0f / (1.0f + (kEnvProb / lastProb) * (kEnvProb / lastProb)) : 0.0f;
                L = L + T * Le * w;
            }
            // A GI-source ray that escapes adds nothing: the environment is direct light.
            break;
        }
        BSDFInterface* bi = r_.groupBsdf[hit.group];
        HitContext& ctx = lv.ctx;
        V3 P;
        setupHit(ctx, lv.strand, ray, hit, P);
        bool primary = channelsOn_ && kind == Kind::Camera && level == 0;
        ctx.contextFlags = CTX_SKIP_BELOW_SURFACE | (primary ? CTX_RENDER_ELEMENTS : 0);
        ctx.channels = primary ? &channels_ : nullptr;
        ctx.sampleValue = rng_.uniform();
        BSDFSampler* bsdf = bi->newBSDF(ctx, 0);
        if (!bsdf) break;
        ++shadingPoints;
        BRDFSampler* brdf = bsdf->getBRDF(0);
        brdf->traceForward(ctx, 0);
        V3 t = sat(fromColor(ctx.result.transparency));

        Ray next = ray;
        next.org = P;
        next.ignoreGeom = hit.geom;
        next.ignoreStrand = lv.strand.index;
        next.ignoreDist = 4 * scene_.groups[hit.group].maxRadius;
        lv.hitGeom = hit.geom;
        lv.hitIgnoreDist = next.ignoreDist;
        for (int i = 0; i < 2; ++i)
            next.posDiff[i] = ray.posDiff[i] + ray.dirDiff[i] * hit.t;

        // Pass straight through with probability of the mean transparency; the weights keep
        // the expected value of "transparency × behind + shaded" exact.
        float pPass = std::clamp((t.x + t.y + t.z) / 3.0f, 0.0f, 1.0f);
        if (pPass > 0 && (pPass >= 1 || rng_.uniform() < pPass)) {
            T = T * t * (1.0f / pPass);
            bi->deleteBSDF(ctx, bsdf);
            ray = next;
            if (maxc(T) <= 0) break;
            continue;
        }
        if (pPass > 0) T = T * (1.0f / (1 - pPass));

        L = L + T * directLight(brdf, ctx, P, next, level);
        if (ctx.channels) brdf->commitLightSample(1);

        if (brdf->getSamplerFlags() & 8) {
            if (ray.depth + 1 > r_.opt.maxPathDepth) {
                bi->deleteBSDF(ctx, bsdf);
                break;
            }
            HitContext& q = lv.newCtx;
            lv.ray = RayRecord{};
            q.ray = &lv.ray;
            q.hitPoint = ctx.hitPoint;
            q.rayDir = ctx.rayDir;
            q.normal = ctx.normal;
            q.dirDiff[0] = ctx.dirDiff[0], q.dirDiff[1] = ctx.dirDiff[1];
            q.posDiff[0] = ctx.posDiff[0], q.posDiff[1] = ctx.posDiff[1];
            q.rayFlags = RAY_GI;
            q.rayDepth = ray.depth + 1;
            q.contextFlags = CTX_SKIP_BELOW_SURFACE;
            q.surfaceData = nullptr;
            q.channels = nullptr;
            q.pathWeight = {};
            q.pathProb = 0;
            for (float& d : q.dmc)
                d = rng_.uniform();
            float u = rng_.uniform();
            float made = brdf->sampleRay(ctx, q, u, 0);
            bi->deleteBSDF(ctx, bsdf);
            if (made < 0.5f) break;
            T = T * fromColor(q.pathWeight);
            V3 dir = unit(fromVec(lv.ray.dir));
            if (!(maxc(T) > 0) || !(dot(dir, dir) > 0.5f)) break;
            // Russian roulette on the throughput, compensated by the survival probability.
            if (ray.depth + 1 >= 3) {
                float survive = std::min(1.0f, maxc(T));
                if (survive < 1) {
                    if (rng_.uniform() >= survive) break;
                    T = T * (1.0f / survive);
                }
            }
            next.dir = dir;
            next.depth = ray.depth + 1;
            next.flags = RAY_GI;
            next.dirDiff[0] = fromVec(q.dirDiff[0]);
            next.dirDiff[1] = fromVec(q.dirDiff[1]);
            ray = next;
            kind = Kind::Sampled;
            lastProb = q.pathProb;
            continue;
        }
        // No sampling of its own: indirect light through the GI source.
        brdf->traceForward(ctx, 1);
        L = L + T * fromColor(ctx.result.gi);
        bi->deleteBSDF(ctx, bsdf);
        break;
    }
    return L;
}

// The host's GI source: the indirect radiance along one cosine-distributed direction about
// the normal (an estimate of irradiance/π from other strands; the environment is direct light).
V3 Tracer::giRadiance(const HitContext& ctx) {
    int level = ctx.level + 1;
    if (level >= kMaxLevels || ctx.level >= r_.opt.giDepth) return {};
    V3 n = fromVec(ctx.normal);
    V3 a = unit(cross(std::fabs(n.x) < 0.9f ? V3{1, 0, 0} : V3{0, 1, 0}, n));
    V3 b = cross(n, a);
    float r = std::sqrt(rng_.uniform());
    float phi = 2 * kPi * rng_.uniform();
    V3 dir =
        unit(a * (r * std::cos(phi)) + b * (r * std::sin(phi)) + n * std::sqrt(std::max(0.0f, 1 - r * r)));
    Ray ray;
    ray.org = fromVec(ctx.hitPoint);
    ray.dir = dir;
    ray.depth = ctx.rayDepth + 1;
    ray.flags = RAY_GI;
    ray.ignoreGeom = RTC_INVALID_GEOMETRY_ID;
    ray.ignoreStrand = -1;
    ray.dirDiff[0] = fromVec(ctx.dirDiff[0]);
    ray.dirDiff[1] = fromVec(ctx.dirDiff[1]);
    ray.posDiff[0] = fromVec(ctx.posDiff[0]);
    ray.posDiff[1] = fromVec(ctx.posDiff[1]);
    const Level& parent = levels_[ctx.level];
    if (&ctx == &parent.ctx) { // the strand just shaded is ignored nearby
        ray.ignoreGeom = parent.hitGeom;
        ray.ignoreStrand = parent.strand.index;
        ray.ignoreDist = parent.hitIgnoreDist;
    }
    return trace(ray, level, Kind::GI, 0);
}

void Tracer::renderTile(int x0, int y0, int x1, int y1) {
    const RenderOptions& o = r_.opt;
    const Renderer::Impl::CameraFrame& cam = r_.cam;
    float chSum[kChannelCount][kChannelFloats];
    bool chAny[kChannelCount];
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            std::size_t pix = static_cast<std::size_t>(y) * o.width + x;
            V3 acc;
            if (channelsOn_) {
                std::fill(&chSum[0][0], &chSum[0][0] + kChannelCount * kChannelFloats, 0.0f);
                std::fill(std::begin(chAny), std::end(chAny), false);
            }
            for (int s = 0; s < o.spp; ++s) {
                rng_ = Rng(o.seed, pix * static_cast<std::uint64_t>(o.spp) + s);
                float sx = (x + rng_.uniform()) / o.width * 2 - 1;
                float sy = 1 - (y + rng_.uniform()) / o.height * 2;
                Ray ray;
                ray.org = cam.eye;
                V3 d = cam.forward + cam.right * (sx * cam.halfW) + cam.up * (sy * cam.halfH);
                float len = std::sqrt(dot(d, d));
                ray.dir = d * (1.0f / len);
                ray.dirDiff[0] = cam.right * (2 * cam.halfW / o.width / len);
                ray.dirDiff[1] = cam.up * (-2 * cam.halfH / o.height / len);
                if (channelsOn_) channels_.clear();
                acc = acc + trace(ray, 0, Kind::Camera, 0);
                if (channelsOn_) {
                    for (int k = 0; k < kChannelCount; ++k) {
                        if (!channels_.written[k]) continue;
                        chAny[k] = true;
                        for (int i = 0; i < kChannelFloats; ++i)
                            chSum[k][i] += channels_.value[k][i];
                    }
                }
            }
            float inv = 1.0f / o.spp;
            r_.pixels[3 * pix + 0] = acc.x * inv;
            r_.pixels[3 * pix + 1] = acc.y * inv;
            r_.pixels[3 * pix + 2] = acc.z * inv;
            if (channelsOn_) {
                for (int k = 0; k < kChannelCount; ++k) {
                    if (!chAny[k]) continue;
                    float* buf = r_.channelBuffer(k) + kChannelFloats * pix;
                    for (int i = 0; i < kChannelFloats; ++i)
                        buf[i] = chSum[k][i] * inv;
                }
            }
        }
    }
}

double threadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

} // namespace

Renderer::Impl::Impl(Scene& s, const RenderOptions& o) : scene(s), opt(o) {
    if (opt.threads <= 0) opt.threads = tbb::info::default_concurrency();
    opt.width = std::max(1, opt.width);
    opt.height = std::max(1, opt.height);
    opt.spp = std::max(1, opt.spp);
    opt.giDepth = std::clamp(opt.giDepth, 0, kMaxLevels - 1);
    settings.flags = opt.channels ? SETTINGS_CHANNEL_131 : 0;
    sceneObject.hasUnits = true;
    sceneObject.scale = 1.0;
    qrenderer.threadCount = opt.threads;
    qrenderer.scene = &sceneObject;
    for (auto& flag : channelUsed)
        flag.store(false);
    if (!s.impl().committed) s.commit();
    for (int g = 0; g < s.groupCount(); ++g) {
        PluginBase* inst = s.groupInstance(g);
        BSDFInterface* bsdf = nullptr;
        if (inst) {
            bsdf = static_cast<BSDFInterface*>(inst->getInterface(EXT_BSDF));
            auto* plugin = static_cast<QuorPluginInterface*>(inst->getInterface(EXT_QUOR_PLUGIN));
            if (!bsdf || !plugin)
                throw std::invalid_argument("a scene material offers no BSDF or plug-in interface");
            if (std::find(plugins.begin(), plugins.end(), plugin) == plugins.end()) plugins.push_back(plugin);
        }
        groupBsdf.push_back(bsdf);
    }
}

Renderer::Renderer(Scene& scene, const RenderOptions& options)
    : impl_(std::make_unique<Impl>(scene, options)) {
    for (QuorPluginInterface* p : impl_->plugins)
        p->renderBegin(&impl_->qrenderer);
    for (int i = 0; i < impl_->opt.threads; ++i)
        impl_->tracers.push_back(std::make_unique<Tracer>(*impl_, i));
}

Renderer::~Renderer() {
    for (QuorPluginInterface* p : impl_->plugins)
        p->renderEnd(&impl_->qrenderer);
}

FrameResult Renderer::renderFrame() {
    Impl& r = *impl_;
    const RenderOptions& o = r.opt;
    const Camera& c = r.scene.camera;
    V3 eye = fromF(c.eye);
    V3 fwd = unit(fromF(c.target) - eye);
    V3 right = unit(cross(fwd, fromF(c.up)));
    V3 up = cross(right, fwd);
    r.cam.eye = eye;
    r.cam.forward = fwd;
    r.cam.right = right;
    r.cam.up = up;
    r.cam.halfH = std::tan(0.5f * c.fovY * kPi / 180);
    r.cam.halfW = r.cam.halfH * o.width / o.height;
    r.pixels.assign(static_cast<std::size_t>(o.width) * o.height * 3, 0.0f);
    for (int k = 0; k < kChannelCount; ++k) {
        r.channelUsed[k].store(false);
        r.channelBuf[k].clear();
    }
    for (auto& t : r.tracers) {
        t->shadingPoints = 0;
        t->shadowPoints = 0;
        t->cpuSeconds = 0;
        t->setChannels(o.channels);
    }
    for (QuorPluginInterface* p : r.plugins)
        p->frameBegin(&r.qrenderer);

    const int tilesX = (o.width + kTile - 1) / kTile, tilesY = (o.height + kTile - 1) / kTile;
    const int tiles = tilesX * tilesY;
    std::atomic<int> done{0};
    std::atomic<int> shown{-1};
    std::mutex printMutex;
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    tbb::task_arena arena(o.threads);
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, tiles, 1), [&](const tbb::blocked_range<int>& range) {
            int index = tbb::this_task_arena::current_thread_index();
            Tracer& tracer = *r.tracers[static_cast<std::size_t>(std::clamp(index, 0, o.threads - 1))];
            for (int t = range.begin(); t < range.end(); ++t) {
                int tx = t % tilesX, ty = t / tilesX;
                double cpu0 = threadCpuSeconds();
                tracer.renderTile(tx * kTile, ty * kTile, std::min(o.width, (tx + 1) * kTile),
                                  std::min(o.height, (ty + 1) * kTile));
                tracer.cpuSeconds += threadCpuSeconds() - cpu0;
                int n = ++done;
                if (o.progress && elapsed() > 1.0) {
                    int percent = n * 100 / tiles;
                    // A step of 2 %, or the last one.
                    if ((percent >= shown.load() + 2 || (n == tiles && percent > shown.load())) &&
                        printMutex.try_lock()) {
                        if (percent > shown.load()) {
                            shown = percent;
                            int bar = percent * 40 / 100;
                            *o.progress << "\r[" << std::string(bar, '#') << std::string(40 - bar, ' ')
                                        << "] " << percent << "%" << std::flush;
                        }
                        printMutex.unlock();
                    }
                }
            }
        });
    });
    FrameResult out;
    out.seconds = elapsed();
    out.threads = o.threads;
    if (o.progress && shown.load() >= 0) {
        if (shown.load() < 100) *o.progress << "\r[" << std::string(40, '#') << "] 100%";
        *o.progress << "\n" << std::flush;
    }
    for (QuorPluginInterface* p : r.plugins)
        p->frameEnd(&r.qrenderer);
    for (auto& t : r.tracers) {
        out.cpuSeconds += t->cpuSeconds;
        out.shadingPoints += t->shadingPoints;
        out.shadowPoints += t->shadowPoints;
    }
    out.image.width = o.width;
    out.image.height = o.height;
    out.image.rgb = r.pixels;
    for (int k = 0; k < kChannelCount; ++k) {
        if (!r.channelUsed[k].load()) continue;
        Image& img = out.channels[kFirstChannel + k];
        img.width = o.width;
        img.height = o.height;
        img.rgb.resize(static_cast<std::size_t>(o.width) * o.height * 3);
        for (std::size_t p = 0; p < img.rgb.size() / 3; ++p)
            for (int i = 0; i < 3; ++i)
                img.rgb[3 * p + i] = r.channelBuf[k][kChannelFloats * p + i];
    }
    return out;
}

} // namespace quor::render
