// Procedural hair and the Embree scene: every strand is a round linear curve.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "harness/rng.h"
#include "render/render.h"
#include "render/scene_impl.h"

namespace quor::render {

using harness::Rng;

namespace {

constexpr float kPi = 3.14159265358979f;

Float3 lerp3(Float3 a, Float3 b, float t) { return a * (1 - t) + b * t; }

// A small per-strand colour variation so that a lock does not look flat.
Float3 vary(Float3 c, Rng& rng) {
    float k = 0.85f + 0.3f * rng.uniform();
    return {std::fmin(c.x * k, 1.0f), std::fmin(c.y * k, 1.0f), std::fmin(c.z * k, 1.0f)};
}

void appendPoint(Strand& s, Float3 p, float r) { s.points.insert(s.points.end(), {p.x, p.y, p.z, r}); }

} // namespace

Float3 Environment::radiance(const Float3& d) const {
    if (!sky) return color;
    // Zenith above, a soft horizon band, dark ground below.
    if (d.y >= 0) {
        float t = std::pow(d.y, 0.6f);
        return lerp3(horizon, zenith, t);
    }
    float t = std::fmin(-d.y * 4.0f, 1.0f);
    return lerp3(horizon, ground, t);
}

Scene::Scene() : impl_(std::make_unique<Impl>()) {
    // No thread limit: Embree applies its limit to the whole process, render threads included.
    impl_->device = rtcNewDevice(nullptr);
    if (!impl_->device) throw std::runtime_error("cannot create the ray-tracing device");
    impl_->scene = rtcNewScene(impl_->device);
    rtcSetSceneFlags(impl_->scene, RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
    rtcSetSceneBuildQuality(impl_->scene, RTC_BUILD_QUALITY_HIGH);
}

Scene::~Scene() {
    rtcReleaseScene(impl_->scene);
    rtcReleaseDevice(impl_->device);
}

int Scene::addGroup(PluginBase* instance, const std::vector<Strand>& strands) {
    if (!instance) throw std::invalid_argument("a hair group needs a material instance");
    Impl::Group g;
    g.instance = instance;
    for (std::size_t si = 0; si < strands.size(); ++si) {
        const Strand& s = strands[si];
        std::size_t n = s.points.size() / 4;
        if (n < 2) continue;
        unsigned base = static_cast<unsigned>(g.verts.size() / 4);
        std::vector<float> cum(n, 0.0f);
        for (std::size_t k = 1; k < n; ++k) {
            const float* a = &s.points[4 * (k - 1)];
            const float* b = &s.points[4 * k];
            Float3 d{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            cum[k] = cum[k - 1] + std::sqrt(dot(d, d));
        }
        float length = cum[n - 1] > 0 ? cum[n - 1] : 1.0f;
        int strandIndex = static_cast<int>(g.strands.size());
        for (std::size_t k = 0; k < n; ++k)
            g.maxRadius = std::fmax(g.maxRadius, s.points[4 * k + 3]);
        g.verts.insert(g.verts.end(), s.points.begin(), s.points.begin() + 4 * n);
        for (std::size_t k = 0; k + 1 < n; ++k) {
            g.index.push_back(base + static_cast<unsigned>(k));
            g.segs.push_back(
                {base + static_cast<unsigned>(k), strandIndex, cum[k] / length, cum[k + 1] / length});
        }
        g.strands.push_back({length, s.color, s.transparency});
    }
    int group = static_cast<int>(impl_->groups.size());
    if (!g.index.empty()) {
        RTCGeometry geom = rtcNewGeometry(impl_->device, RTC_GEOMETRY_TYPE_FLAT_LINEAR_CURVE);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(
            geom, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT4, 4 * sizeof(float), g.verts.size() / 4));
        std::memcpy(v, g.verts.data(), g.verts.size() * sizeof(float));
        auto* ix = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
            geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT, sizeof(unsigned), g.index.size()));
        std::memcpy(ix, g.index.data(), g.index.size() * sizeof(unsigned));
        rtcCommitGeometry(geom);
        g.geomID = rtcAttachGeometry(impl_->scene, geom);
        rtcReleaseGeometry(geom);
        if (impl_->geomToGroup.size() <= g.geomID) impl_->geomToGroup.resize(g.geomID + 1, -1);
        impl_->geomToGroup[g.geomID] = group;
    }
    impl_->groups.push_back(std::move(g));
    return group;
}

void Scene::commit() {
    rtcCommitScene(impl_->scene);
    impl_->committed = true;
}

int Scene::groupCount() const { return static_cast<int>(impl_->groups.size()); }
PluginBase* Scene::groupInstance(int group) const { return impl_->groups[group].instance; }
std::size_t Scene::segmentCount() const {
    std::size_t n = 0;
    for (auto& g : impl_->groups)
        if (g.geomID != RTC_INVALID_GEOMETRY_ID) n += g.index.size();
    return n;
}

std::vector<Strand> makeLock(float x, const HairStyle& style) {
    Rng rng(style.seed * 7919 + 17);
    std::vector<Strand> out;
    out.reserve(style.strands);
    // Strands gather into clumps towards the tips; the whole lock bows towards the camera so
    // that the highlights run across it in bands.
    const int clumps = std::max(1, style.strands / 60);
    struct Clump {
        float x, z, phase;
    };
    std::vector<Clump> cl(clumps);
    for (auto& c : cl)
        c = {(rng.uniform() - 0.5f) * 0.8f, (rng.uniform() - 0.5f) * 0.2f, rng.uniform() * 2 * kPi};
    const int segs = std::max(1, style.segments);
    for (int i = 0; i < style.strands; ++i) {
        float rx = (rng.uniform() - 0.5f) * 0.9f;
        float rz = (rng.uniform() - 0.5f) * 0.24f;
        const Clump* c = &cl[0];
        float best = 1e9f;
        for (int k = 0; k < std::min(clumps, 6); ++k) { // a nearby clump of a few candidates
            const Clump& cand = cl[static_cast<int>(rng.uniform() * clumps) % clumps];
            float d = std::fabs(cand.x - rx) + std::fabs(cand.z - rz);
            if (d < best) best = d, c = &cand;
        }
        float top = 1.25f - 0.1f * (rx / 0.45f) * (rx / 0.45f);
        float length = 2.3f * (0.8f + 0.2f * std::sqrt(rng.uniform()));
        float phase = rng.uniform() * 2 * kPi;
        float jitter = 0.004f + 0.006f * rng.uniform();
        Strand s;
        s.color = vary(style.color, rng);
        s.transparency = style.transparency;
        for (int k = 0; k <= segs; ++k) {
            float t = static_cast<float>(k) / segs;
            float pull = 0.65f * t * t;
            float bx = rx * (1 - 0.25f * t), bz = rz;
            float px = bx + pull * (c->x * (1 - 0.25f * t) - bx) + 0.03f * t * std::sin(4 * t + c->phase) +
                       jitter * std::sin(11 * t + phase);
            float pz =
                bz + pull * (c->z - bz) + 0.28f * std::sin(kPi * t) + jitter * std::cos(13 * t + phase);
            float py = top - length * t;
            float radius = 0.0045f * (1 - t) + 0.002f * t;
            appendPoint(s, {x + px, py, pz}, radius);
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<Strand> makeCurlyBall(float radius, const HairStyle& style) {
    Rng rng(style.seed * 104729 + 3);
    std::vector<Strand> out;
    out.reserve(style.strands);
    const int segs = std::max(4, style.segments * 2);
    for (int i = 0; i < style.strands; ++i) {
        float z = 1 - 2 * rng.uniform();
        float phi = 2 * kPi * rng.uniform();
        float rho = std::sqrt(std::fmax(0.0f, 1 - z * z));
        Float3 n{rho * std::cos(phi), rho * std::sin(phi), z};
        Float3 a = unit(cross(std::fabs(n.y) < 0.9f ? Float3{0, 1, 0} : Float3{1, 0, 0}, n));
        Float3 b = cross(n, a);
        float length = radius * (0.5f + 0.3f * rng.uniform());
        float curl = radius * (0.06f + 0.04f * rng.uniform());
        float turns = 2.5f + 1.5f * rng.uniform();
        float phase = 2 * kPi * rng.uniform();
        Strand s;
        s.color = vary(style.color, rng);
        s.transparency = style.transparency;
        Float3 root = n * (radius * 0.55f);
        for (int k = 0; k <= segs; ++k) {
            float t = static_cast<float>(k) / segs;
            float ang = phase + 2 * kPi * turns * t;
            float cr = curl * std::fmin(1.0f, 4 * t);
            Float3 p = root + n * (length * t);
            p = p + (a * (cr * std::cos(ang)) + b * (cr * std::sin(ang)));
            float r = radius * (0.006f * (1 - t) + 0.0025f * t);
            appendPoint(s, p, r);
        }
        out.push_back(std::move(s));
    }
    return out;
}

namespace {

void studioLights(Scene& scene) {
    scene.sun.on = true;
    scene.sun.direction = unit({-0.45f, 0.55f, 0.7f});
    scene.sun.color = {2.6f, 2.45f, 2.25f};
    scene.env.sky = true;
}

} // namespace

void buildSheet(Scene& scene, const std::vector<PluginBase*>& instances, const HairStyle& style) {
    const float spacing = 1.25f;
    const int n = static_cast<int>(instances.size());
    for (int i = 0; i < n; ++i) {
        HairStyle s = style;
        s.seed = style.seed; // same lock shape for every material: only the shading differs
        float x = (i - 0.5f * (n - 1)) * spacing;
        scene.addGroup(instances[i], makeLock(x, s));
    }
    scene.commit();
    float width = std::max(1, n) * spacing;
    float fov = 34;
    float halfH = 1.55f;
    // Far enough for the taller of the two extents at a 4:3-ish aspect.
    float dist = std::fmax(halfH, 0.5f * width / 1.6f) / std::tan(0.5f * fov * kPi / 180);
    scene.camera = {{0, 0.1f, dist + 0.3f}, {0, 0.05f, 0}, {0, 1, 0}, fov};
    studioLights(scene);
}

void buildSwatch(Scene& scene, PluginBase* instance, const HairStyle& style) {
    scene.addGroup(instance, makeLock(0, style));
    scene.commit();
    scene.camera = {{0, 0.1f, 5.2f}, {0, 0.05f, 0}, {0, 1, 0}, 34};
    studioLights(scene);
}

void buildBall(Scene& scene, PluginBase* instance, const HairStyle& style) {
    scene.addGroup(instance, makeCurlyBall(1.0f, style));
    scene.commit();
    scene.camera = {{0, 0.4f, 4.2f}, {0, 0, 0}, {0, 1, 0}, 36};
    studioLights(scene);
}

void buildFurnace(Scene& scene, PluginBase* instance, const HairStyle& style) {
    scene.addGroup(instance, makeCurlyBall(1.0f, style));
    scene.commit();
    scene.camera = {{0, 0, 3.4f}, {0, 0, 0}, {0, 1, 0}, 30};
    scene.sun.on = false;
    scene.env.sky = false;
    scene.env.color = {1, 1, 1};
}

} // namespace quor::render
