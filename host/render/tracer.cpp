// The path tracer. Per pixel sample: a camera ray; at every hair hit the material's sampler
// (newBSDF -> getBRDF -> traceForward for the transparency), stochastic pass-through with the
// transparency, direct light with one sample of every distant light and one of the environment,
// all evaluated; where the camera meets the hair the strongest two get shadow rays and one of
// the rest is chosen by contribution, deeper in the strongest one and one of the rest (shadow rays
// pass through transparent strands), then either a continuation ray from sampleRay (materials that sample;
// where it escapes, the lights and the environment it meets are weighted by multiple importance against the
// light samples) or the GI result of traceForward with a GI-source ray (materials that do not).
#include "render/tracer.h"

#include <algorithm>
#include <cmath>

namespace quor::render {

namespace {

constexpr float kInvPi = 1.0f / kPi;
constexpr int kMaxEvents = 4096; // hits along one path, pass-through included

// Sample dimensions: pairs 0-15 place the camera sample, then every path event (level, hit)
// owns 16 pairs for its decisions.
constexpr std::uint32_t kPairsPerEvent = 16;
enum EventPair : std::uint32_t {
    kPairPass = 0,      // pass-through decision, the context's sample value
    kPairEnv = 1,       // environment sample
    kPairBsdf = 2,      // sampleRay's lobe choice and first host number
    kPairBsdf2 = 3,     // the host's second and third numbers
    kPairRoulette = 4,  // Russian roulette
    kPairGI = 5,        // GI-source direction
    kPairLightPick = 6, // which light's shadow ray
    kPairLight = 7,     // where on each light, one pair per light
};
std::uint32_t eventDims(int level, int event) {
    return (static_cast<std::uint32_t>(level) << 24) +
           (static_cast<std::uint32_t>(event) + 1) * kPairsPerEvent;
}

// The power heuristic for a sampled direction against a light strategy (both as 2π × density).
float powerWeight(float own, float other) {
    if (!(own > 0)) return 0;
    float r = other / own;
    return 1.0f / (1.0f + r * r);
}

// A distant light's disc: radiance, and its strategy's probability as 2π × solid-angle density.
struct Disc {
    float cosAngle, solidAngle;
    explicit Disc(const DistantLight& l)
        : cosAngle(std::cos(std::clamp(l.angle, 0.01f, 89.0f) * kPi / 180)),
          solidAngle(2 * kPi * (1 - cosAngle)) {}
    Float3 radiance(const DistantLight& l) const { return l.color * (1 / solidAngle); }
    float prob() const { return 2 * kPi / solidAngle; }
};

struct FilterContext {
    RTCIntersectContext rtc; // first: Embree hands this pointer back to the filter
    StrandExclusion ignore;
};

// Ignores the strand a ray leaves near its origin: its pieces are numbered in a row.
void ignoreStrandFilter(const RTCFilterFunctionNArguments* args) {
    auto* fc = reinterpret_cast<const FilterContext*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != -1) continue;
        if (fc->ignore.excludes(RTCHitN_geomID(args->hit, args->N, i), RTCHitN_primID(args->hit, args->N, i),
                                RTCRayN_tfar(args->ray, args->N, i)))
            args->valid[i] = 0;
    }
}

RTCRay embreeRay(Float3 org, Float3 dir) {
    RTCRay r;
    r.org_x = org.x, r.org_y = org.y, r.org_z = org.z;
    r.dir_x = dir.x, r.dir_y = dir.y, r.dir_z = dir.z;
    r.tnear = 0;
    r.tfar = 1e30f;
    r.time = 0;
    r.mask = 0xFFFFFFFFu;
    r.id = 0;
    r.flags = 0;
    return r;
}

} // namespace

// A material's sampler at one hit, from newBSDF to deleteBSDF: every way out of a hit gives the
// sampler back to its pool.
class Tracer::ShadedHit {
  public:
    ShadedHit(BSDFInterface* bsdf, QuorContext& ctx) : iface_(bsdf), ctx_(ctx), bsdf_(bsdf->newBSDF(ctx, 0)) {
        if (bsdf_) brdf_ = bsdf_->getBRDF(SIDE_FRONT);
    }
    ~ShadedHit() { release(); }
    ShadedHit(const ShadedHit&) = delete;
    ShadedHit& operator=(const ShadedHit&) = delete;

    explicit operator bool() const { return bsdf_ != nullptr; }
    BRDFSampler* brdf() const { return brdf_; }
    // The transparency the sampler's forward result reports, clamped to [0, 1].
    Float3 transparency() {
        brdf_->traceForward(ctx_, 0);
        return saturate(fromColor(ctx_.result.transparency));
    }
    void release() {
        if (bsdf_) iface_->deleteBSDF(ctx_, bsdf_);
        bsdf_ = nullptr;
        brdf_ = nullptr;
    }

  private:
    BSDFInterface* iface_;
    QuorContext& ctx_;
    BSDFSampler* bsdf_;
    BRDFSampler* brdf_ = nullptr;
};

void ChannelTarget::write(int alias, const float* values, int count) {
    int k = alias - kFirstChannel;
    if (k < 0 || k >= kChannelCount || !values) return;
    int n = std::min(count, kChannelFloats);
    for (int i = 0; i < n; ++i)
        value[k][i] = values[i];
    for (int i = n; i < kChannelFloats; ++i)
        value[k][i] = 0;
    written[k] = true;
}

void ChannelTarget::clear() { std::fill(std::begin(written), std::end(written), false); }

Color HitContext::giColor() const { return toColor(tracer->giRadiance(*this)); }

Tracer::Tracer(RenderState& r, int threadIndex) : r_(r), scene_(r.scene.impl()) {
    for (int i = 0; i < kMaxLevels; ++i) {
        for (HitContext* c : {&levels_[i].ctx, &levels_[i].shadowCtx, &levels_[i].newCtx}) {
            c->tracer = this;
            c->level = i;
            c->threadIndex = threadIndex;
            c->settings = &r.settings;
        }
    }
}

bool Tracer::intersect(const Ray& ray, Hit& hit) {
    ++rays;
    FilterContext fc;
    rtcInitIntersectContext(&fc.rtc);
    fc.rtc.filter = ray.ignore.active() ? ignoreStrandFilter : nullptr;
    fc.ignore = ray.ignore;
    RTCRayHit rh;
    rh.ray = embreeRay(ray.org, ray.dir);
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

// Fills the context and strand record of a hit as the host does, on the smooth curve: the hit's
// place on the linear piece maps to the segment's parameter, which gives the tangent and the
// position along the strand; h (where the ray met the fibre across its width) and the normal are
// taken about the axis of the piece the ray actually met, so that |h| reaches 1 at its edges.
void Tracer::setupHit(HitContext& ctx, SimpleStrandData& strand, const Ray& ray, const Hit& hit,
                      Float3& P) const {
    const auto& g = scene_.groups[hit.group];
    const auto& piece = g.pieces[hit.prim];
    const float w = saturate(hit.u);
    Float3 T = unit(evalSegment(&g.curveVerts[4 * piece.seg], piece.u0 + piece.du * w).tangent);
    const float* a = &g.lineVerts[4 * piece.v];
    Float3 A{a[0], a[1], a[2]}, axis = Float3{a[4], a[5], a[6]} - A;
    Float3 center = A + axis * w;
    float radius = std::max(a[3] + (a[7] - a[3]) * w, 1e-12f);
    Float3 Ta = dot(axis, axis) > 0 ? unit(axis) : T;
    Float3 D = ray.dir;
    P = ray.org + D * hit.t;
    Float3 X = unit(cross(Ta, D));
    Float3 off = P - center;
    float h = std::clamp(dot(off, X) / radius, -1.0f, 1.0f);
    Float3 n = unit(off - T * dot(off, T));
    if (!(dot(n, n) > 0.5f)) n = dot(hit.ng, hit.ng) > 0 ? unit(hit.ng) : Float3{0, 0, 1};
    if (dot(n, D) > 0) { // numerically on the far side: the side the ray came from instead
        Float3 toViewer = unit(T * dot(T, D) - D);
        n = unit(X * h + toViewer * std::sqrt(std::max(0.0f, 1 - h * h)));
        if (dot(n, D) > 0) n = n * -1.0f;
    }

    int s = piece.strand;
    const auto& info = g.strands[s];
    StrandRecord& rec = strand.record;
    Float3 col = info.color, tr = info.transparency;
    if (!g.curveColors.empty()) { // the groom's own colours, linear between the segment's ends
        const float* c = &g.curveColors[3 * (piece.seg + 1)];
        const float t = piece.u0 + piece.du * w;
        col = Float3{c[0], c[1], c[2]} * (1 - t) + Float3{c[3], c[4], c[5]} * t;
    }
    rec.color[0] = col.x, rec.color[1] = col.y, rec.color[2] = col.z;
    rec.transparency[0] = tr.x, rec.transparency[1] = tr.y, rec.transparency[2] = tr.z;
    rec.tangent = toVector(T);
    rec.h = h;
    strand.shadowTransparency = {tr.x, tr.y, tr.z};
    strand.length = info.length;
    strand.position = piece.pos0 + piece.dpos * w;
    strand.index = static_cast<int>(info.source);

    ctx.rayDir = toVector(D);
    ctx.normal = toVector(n);
    ctx.hitPoint = toVector(P);
    for (int i = 0; i < 2; ++i) {
        ctx.dirDiff[i] = toVector(ray.dirDiff[i]);
        ctx.posDiff[i] = toVector(ray.posDiff[i] + ray.dirDiff[i] * hit.t);
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
    Float3 tr{1, 1, 1};
    static constexpr int kSeen = 32;
    unsigned seen[kSeen][2]; // a segment may be reported more than once; count it once
    int nSeen = 0;
};

namespace {

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

} // namespace

bool Tracer::shadowHit(ShadowQuery& q, Hit& hit) {
    const Ray& ray = *q.ray;
    hit.group = scene_.geomToGroup[hit.geom];
    if (ray.ignore.excludes(hit.geom, hit.prim, hit.t)) return false;
    const auto& piece = scene_.groups[hit.group].pieces[hit.prim];
    // Counted once per curve segment, however many of its pieces (or their sides) report.
    for (int k = 0; k < q.nSeen; ++k)
        if (q.seen[k][0] == hit.geom && q.seen[k][1] == piece.seg) return false;
    if (q.nSeen < ShadowQuery::kSeen) {
        q.seen[q.nSeen][0] = hit.geom;
        q.seen[q.nSeen][1] = piece.seg;
        ++q.nSeen;
    }
    Level& lv = levels_[q.level];
    HitContext& ctx = lv.shadowCtx;
    Float3 P;
    setupHit(ctx, lv.shadowStrand, ray, hit, P);
    ctx.contextFlags = CTX_SKIP_BELOW_SURFACE;
    ctx.channels = nullptr;
    ShadedHit shaded(r_.groupBsdf[hit.group], ctx);
    if (!shaded) {
        q.tr = {};
        return true;
    }
    ++shadingPoints;
    ++shadowPoints;
    q.tr = q.tr * shaded.transparency();
    if (maxComponent(q.tr) < 1e-5f) {
        q.tr = {};
        return true;
    }
    return false;
}

Float3 Tracer::shadow(Float3 org, Float3 dir, const Ray& from, int level) {
    Ray ray;
    ray.org = org;
    ray.dir = dir;
    ray.depth = from.depth;
    ray.flags = RAY_SHADOW;
    ray.ignore = from.ignore;
    ShadowQuery q;
    rtcInitIntersectContext(&q.rtc);
    q.rtc.filter = shadowFilter;
    q.tracer = this;
    q.ray = &ray;
    q.level = level;
    RTCRay r = embreeRay(org, dir);
    ++rays;
    rtcOccluded1(scene_.scene, &q.rtc, &r);
    if (r.tfar < 0) return {}; // occluded
    return q.tr;
}

// Direct light with few shadow rays per hit. Every light (and the environment) gets a sample
// point, evaluated unshadowed: eval is cheap next to a ray. The strongest get shadow rays of their
// own; one of the rest is then chosen in proportion to its unshadowed contribution and only its
// shadow ray is traced, weighted by the inverse of the choice: the estimate of the sum of shadowed
// contributions stays exact, and the only noise left is the visibility of the one chosen. Light
// strategies keep the density of sampling every light, which is what eval's multiple importance
// weights and escapedSampled see.
Float3 Tracer::directLight(BRDFSampler* brdf, HitContext& ctx, Float3 P, const Ray& from, int level,
                           std::uint32_t dims) {
    // Where the camera meets the hair the strongest two lights are traced for sure (key and rim
    // light both matter to a fibre that reflects and transmits). Deeper in, the strongest one is:
    // inside a lock the lights' visibility varies far more than their unshadowed shares, and a
    // single pick among all of them left most of a sampling material's noise.
    const int sureShadows = from.depth == 0 ? 2 : 1;
    const Scene& scene = r_.scene;
    const std::size_t n = scene.lights.size();
    candidates_.clear();
    float total = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        float u, v;
        sampler_->get2D(dims + kPairLight + static_cast<std::uint32_t>(i), u, v);
        LightCandidate c;
        if (i < n) {
            const DistantLight& l = scene.lights[i];
            Disc disc(l);
            // Uniform over the disc's cone: pdf 1/solid angle, contribution eval·solid angle/π.
            Float3 w = unit(l.direction);
            Float3 a, b;
            perpendiculars(w, a, b);
            float cosT = 1 - u * (1 - disc.cosAngle), sinT = std::sqrt(std::max(0.0f, 1 - cosT * cosT));
            float phi = 2 * kPi * v;
            c.dir = unit(a * (sinT * std::cos(phi)) + b * (sinT * std::sin(phi)) + w * cosT);
            c.radiance = disc.radiance(l);
            c.prob = disc.prob();
            c.scale = disc.solidAngle * kInvPi;
        } else {
            float pdf;
            c.dir = scene.env.sample(u, v, c.radiance, pdf);
            if (!(pdf > 0)) continue;
            c.prob = 2 * kPi * pdf;
            c.scale = kInvPi / pdf;
        }
        if (!(maxComponent(c.radiance) > 0)) continue;
        Color lc = toColor(c.radiance), un = lc;
        c.value = fromColor(brdf->eval(ctx, toVector(c.dir), lc, un, c.prob, EVAL_DIFFUSE | EVAL_SPECULAR)) *
                  c.scale;
        if (ctx.channels) { // render elements count only the light committed below
            brdf->scaleLightSample(0);
            brdf->commitLightSample(0);
        }
        c.weight = std::max(c.value.x, 0.0f) + std::max(c.value.y, 0.0f) + std::max(c.value.z, 0.0f);
        if (!(c.weight > 0)) continue; // also drops NaN
        total += c.weight;
        candidates_.push_back(c);
    }
    if (candidates_.empty()) return {};
    // The strongest lights get shadow rays of their own; one of the rest is chosen by its share.
    std::sort(candidates_.begin(), candidates_.end(),
              [](const LightCandidate& a, const LightCandidate& b) { return a.weight > b.weight; });
    const std::size_t sure = std::min(candidates_.size() - 1, static_cast<std::size_t>(sureShadows));
    Float3 sum;
    auto add = [&](const LightCandidate& c, float select) {
        Float3 tr = shadow(P, c.dir, from, level);
        if (ctx.channels) {
            Color lc = toColor(c.radiance * tr), un = toColor(c.radiance);
            brdf->eval(ctx, toVector(c.dir), lc, un, c.prob, EVAL_DIFFUSE | EVAL_SPECULAR);
            brdf->scaleLightSample(c.scale / select);
            brdf->commitLightSample(0);
        }
        sum = sum + c.value * tr * (1 / select);
    };
    for (std::size_t k = 0; k < sure; ++k) {
        total -= candidates_[k].weight;
        add(candidates_[k], 1);
    }
    float pick = sampler_->get1D(dims + kPairLightPick) * total;
    std::size_t k = sure;
    while (k + 1 < candidates_.size() && pick >= candidates_[k].weight) {
        pick -= candidates_[k].weight;
        ++k;
    }
    add(candidates_[k], candidates_[k].weight / total);
    return sum;
}

// What a sampled continuation that leaves the scene brings back: the environment and every light
// whose disc it meets, each weighted against its own light samples.
Float3 Tracer::escapedSampled(Float3 dir, float lastProb) const {
    const Scene& scene = r_.scene;
    Float3 L = scene.env.radiance(dir) * powerWeight(lastProb, 2 * kPi * scene.env.pdf(dir));
    for (const DistantLight& l : scene.lights) {
        Disc disc(l);
        if (dot(dir, unit(l.direction)) >= disc.cosAngle)
            L = L + disc.radiance(l) * powerWeight(lastProb, disc.prob());
    }
    return L;
}

// Passes straight through with probability of the mean transparency t; the weights keep the
// expected value of "transparency × behind + shaded" exact. True when the path passes.
bool Tracer::passThrough(Float3 t, float u, Float3& T) {
    float pPass = std::clamp((t.x + t.y + t.z) / 3.0f, 0.0f, 1.0f);
    if (pPass > 0 && (pPass >= 1 || u < pPass)) {
        T = T * t * (1.0f / pPass);
        return true;
    }
    if (pPass > 0) T = T * (1.0f / (1 - pPass));
    return false;
}

// Turns ray into the continuation the material samples, with the path weight folded into T;
// false ends the path. The sampler is given back as soon as it has answered.
bool Tracer::sampledContinuation(ShadedHit& shaded, Level& lv, std::uint32_t dims, Ray& ray, Float3& T,
                                 float& lastProb) {
    const HitContext& ctx = lv.ctx;
    const int depth = ray.depth + 1;
    if (depth > r_.opt.maxPathDepth) return false;
    HitContext& q = lv.newCtx;
    lv.ray = RayRecord{};
    q.ray = &lv.ray;
    q.hitPoint = ctx.hitPoint;
    q.rayDir = ctx.rayDir;
    q.normal = ctx.normal;
    q.dirDiff[0] = ctx.dirDiff[0], q.dirDiff[1] = ctx.dirDiff[1];
    q.posDiff[0] = ctx.posDiff[0], q.posDiff[1] = ctx.posDiff[1];
    q.rayFlags = RAY_GI;
    q.rayDepth = depth;
    q.contextFlags = CTX_SKIP_BELOW_SURFACE;
    q.surfaceData = nullptr;
    q.channels = nullptr;
    q.pathWeight = {};
    q.pathProb = 0;
    float u;
    sampler_->get2D(dims + kPairBsdf, u, q.dmc[1]);
    sampler_->get2D(dims + kPairBsdf2, q.dmc[2], q.dmc[3]);
    q.dmc[0] = q.dmc[3];
    float made = shaded.brdf()->sampleRay(lv.ctx, q, u, SAMPLE_MODE_PATH);
    shaded.release();
    if (made < 0.5f) return false;
    T = T * fromColor(q.pathWeight);
    Float3 dir = unit(fromVector(lv.ray.dir));
    if (!(maxComponent(T) > 0) || !(dot(dir, dir) > 0.5f)) return false;
    // Russian roulette on the throughput, compensated by the survival probability.
    if (depth >= 3) {
        float survive = std::min(1.0f, maxComponent(T));
        if (survive < 1) {
            if (sampler_->get1D(dims + kPairRoulette) >= survive) return false;
            T = T * (1.0f / survive);
        }
    }
    ray.dir = dir;
    ray.depth = depth;
    ray.flags = RAY_GI;
    ray.dirDiff[0] = fromVector(q.dirDiff[0]);
    ray.dirDiff[1] = fromVector(q.dirDiff[1]);
    lastProb = q.pathProb;
    return true;
}

Float3 Tracer::trace(Ray ray, int level, Kind kind, float lastProb, CameraSample* camera) {
    Float3 L, T{1, 1, 1};
    Level& lv = levels_[level];
    if (camera) *camera = CameraSample{};
    for (int event = 0; event < kMaxEvents; ++event) {
        Hit hit;
        if (!intersect(ray, hit)) {
            // A GI-source ray that escapes adds nothing: the environment is direct light. A
            // camera ray that only passed through hair sees the backdrop.
            if (kind == Kind::Camera) {
                Float3 behind = T * r_.scene.env.radiance(ray.dir);
                L = L + behind;
                if (camera) {
                    camera->backdrop = behind;
                    camera->alpha = event == 0 ? 0 : saturate(1 - (T.x + T.y + T.z) / 3);
                }
            }
            if (kind == Kind::Sampled) L = L + T * escapedSampled(ray.dir, lastProb);
            return L;
        }
        if (camera) camera->alpha = 1;
        const std::uint32_t dims = eventDims(level, event);
        float uPass, sampleValue;
        sampler_->get2D(dims + kPairPass, uPass, sampleValue);
        HitContext& ctx = lv.ctx;
        Float3 P;
        setupHit(ctx, lv.strand, ray, hit, P);
        bool primary = channelsOn_ && kind == Kind::Camera && level == 0;
        ctx.contextFlags = CTX_SKIP_BELOW_SURFACE | (primary ? CTX_RENDER_ELEMENTS : 0);
        ctx.channels = primary ? &channels_ : nullptr;
        ctx.sampleValue = sampleValue;
        ShadedHit shaded(r_.groupBsdf[hit.group], ctx);
        if (!shaded) break;
        ++shadingPoints;
        Float3 t = shaded.transparency();

        // The ray that leaves this hit, whether straight on or sampled.
        Ray next = ray;
        next.org = P;
        const auto& group = scene_.groups[hit.group];
        const auto& info = group.strands[group.pieces[hit.prim].strand];
        next.ignore = {hit.geom, info.first, info.last, 4 * group.maxRadius};
        lv.hitStrand = next.ignore;
        lv.dims = dims;
        for (int i = 0; i < 2; ++i)
            next.posDiff[i] = ray.posDiff[i] + ray.dirDiff[i] * hit.t;

        if (passThrough(t, uPass, T)) {
            ray = next;
            if (maxComponent(T) <= 0) break;
            continue;
        }
        L = L + T * directLight(shaded.brdf(), ctx, P, next, level, dims);
        if (ctx.channels) shaded.brdf()->commitLightSample(1);

        if (shaded.brdf()->getSamplerFlags() & SAMPLER_SAMPLES_RAYS) {
            if (!sampledContinuation(shaded, lv, dims, next, T, lastProb)) break;
            ray = next;
            kind = Kind::Sampled;
            continue;
        }
        // No sampling of its own: indirect light through the GI source.
        shaded.brdf()->traceForward(ctx, 1);
        L = L + T * fromColor(ctx.result.gi);
        break;
    }
    return L;
}

// The host's GI source: the indirect radiance along one cosine-distributed direction about
// the normal (an estimate of irradiance/π from other strands; the environment is direct light).
Float3 Tracer::giRadiance(const HitContext& ctx) {
    int level = ctx.level + 1;
    if (level >= kMaxLevels || ctx.level >= r_.opt.giDepth) return {};
    Float3 n = fromVector(ctx.normal);
    Float3 a, b;
    perpendiculars(n, a, b);
    float u, v;
    sampler_->get2D(levels_[ctx.level].dims + kPairGI, u, v);
    float r = std::sqrt(u);
    float phi = 2 * kPi * v;
    Float3 dir =
        unit(a * (r * std::cos(phi)) + b * (r * std::sin(phi)) + n * std::sqrt(std::max(0.0f, 1 - r * r)));
    Ray ray;
    ray.org = fromVector(ctx.hitPoint);
    ray.dir = dir;
    ray.depth = ctx.rayDepth + 1;
    ray.flags = RAY_GI;
    ray.dirDiff[0] = fromVector(ctx.dirDiff[0]);
    ray.dirDiff[1] = fromVector(ctx.dirDiff[1]);
    ray.posDiff[0] = fromVector(ctx.posDiff[0]);
    ray.posDiff[1] = fromVector(ctx.posDiff[1]);
    const Level& parent = levels_[ctx.level];
    if (&ctx == &parent.ctx) ray.ignore = parent.hitStrand; // the strand just shaded is ignored nearby
    return trace(ray, level, Kind::GI, 0);
}

} // namespace quor::render
