// Procedural hair, the Embree scene (every strand a Catmull-Rom curve, traced as round linear
// pieces that follow it closely), framing and the studio lights.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "harness/rng.h"
#include "render/render.h"
#include "render/scene_impl.h"

namespace quor::render {

using harness::Rng;

namespace {

constexpr float kDeg = kPi / 180;

// A small per-strand colour variation so that a lock does not look flat.
Float3 vary(Float3 c, Rng& rng) {
    float k = 0.85f + 0.3f * rng.uniform();
    return {std::fmin(c.x * k, 1.0f), std::fmin(c.y * k, 1.0f), std::fmin(c.z * k, 1.0f)};
}

void appendPoint(Strand& s, Float3 p, float r) { s.points.insert(s.points.end(), {p.x, p.y, p.z, r}); }

// Root radius at t = 0 thinning to a third of it at the tip; as in real hair, the thinning is
// in the last fifth or so, the rest keeps its thickness.
float taper(float root, float t) {
    float t4 = t * t * t * t;
    return root * (1 - 0.65f * t4 * t4);
}

// How far the linear pieces may stray from the curve, centre and radius together, as a fraction
// of the strand's radius there; a tenth is far below what a silhouette or shadow edge shows.
constexpr float kChordTolerance = 0.1f;
constexpr int kMaxPieces = 16;

// The largest distance between a Catmull-Rom segment and its chord from a (at u0) to b (at u1),
// from three samples inside.
float chordError(const float* p, const CurvePoint& a, float u0, const CurvePoint& b, float u1) {
    Float3 d = b.center - a.center;
    float dd = dot(d, d), worst = 0;
    for (int m = 1; m < 4; ++m) {
        CurvePoint c = evalSegment(p, u0 + (u1 - u0) * 0.25f * m);
        Float3 w = c.center - a.center;
        float s = dd > 0 ? std::clamp(dot(w, d) / dd, 0.0f, 1.0f) : 0.0f;
        Float3 e = w - d * s;
        float r = a.radius + (b.radius - a.radius) * s;
        worst = std::max(worst, std::sqrt(dot(e, e)) + std::fabs(c.radius - r));
    }
    return worst;
}

// Splits a segment (four control points) into pieces, each about as long as the tolerance
// allows where it lies, so that straight stretches take few; writes the parameters where they
// end (the last at 1) and returns their count. The error grows with the square of a piece's
// length, which predicts the next length from the last, and a too-long one's better length.
int splitSegment(const float* p, float scale, float* ends) {
    const float tol = kChordTolerance * scale * std::max(std::min(p[7], p[11]), 1e-12f);
    const float shortest = 1.0f / kMaxPieces;
    auto predict = [tol](float h, float e) { // the length that would just meet the tolerance
        return h * std::fmin(2.0f, std::fmax(0.5f, 0.98f * std::sqrt(tol / std::fmax(e, 1e-30f))));
    };
    CurvePoint a = evalSegment(p, 0);
    float u = 0, step = 1;
    int n = 0;
    auto error = [&](float h, CurvePoint& b) { // of the piece from u, to the end if h reaches it
        const float end = h >= 1 - u ? 1.0f : u + h;
        b = evalSegment(p, end);
        return chordError(p, a, u, b, end);
    };
    const float sliver = 0.5f * shortest;
    auto fit = [&](float h) { // at least the shortest, and no sliver left over after it
        h = std::max(h, shortest);
        return h > 1 - u - sliver ? 1 - u : h;
    };
    while (n < kMaxPieces - 1 && 1 - u > shortest) {
        float h = fit(step);
        CurvePoint b;
        float e = error(h, b);
        while (e > tol && h > shortest) {
            h = std::min(fit(predict(h, e)), 1 - u - sliver);
            e = error(h, b);
        }
        if (h < 1 - u && e <= tol) { // one try at a longer piece, where the error allows
            const float longer = fit(std::min(1 - u, predict(h, e)));
            CurvePoint b2;
            float e2 = longer > 1.05f * h ? error(longer, b2) : tol * 2;
            if (e2 <= tol) h = longer, b = b2, e = e2;
        }
        if (h >= 1 - u) return ends[n++] = 1, n;
        u += h;
        ends[n++] = u;
        a = b;
        step = predict(h, e);
    }
    ends[n++] = 1;
    return n;
}

// The strands' order along a Morton curve through their roots (10 bits an axis over the roots'
// bounds): the index of the first strand in that order, then the second's, ...
std::vector<unsigned> rootOrder(const std::vector<const Strand*>& strands) {
    Bounds roots;
    for (const Strand* s : strands)
        roots.add(Float3{s->points[0], s->points[1], s->points[2]});
    const Float3 span = roots.hi - roots.lo;
    auto cell = [](float x, float lo, float extent) { // 0 for a coordinate that is not a number
        const float t = extent > 0 ? (x - lo) / extent : 0.0f;
        return static_cast<std::uint32_t>((t > 0 ? std::fmin(t, 1.0f) : 0.0f) * 1023.0f);
    };
    auto spread = [](std::uint32_t v) { // bit k moves to bit 3k
        v = (v | (v << 16)) & 0x030000FFu;
        v = (v | (v << 8)) & 0x0300F00Fu;
        v = (v | (v << 4)) & 0x030C30C3u;
        return (v | (v << 2)) & 0x09249249u;
    };
    std::vector<std::pair<std::uint32_t, unsigned>> keyed(strands.size());
    for (std::size_t i = 0; i < strands.size(); ++i) {
        const float* p = strands[i]->points.data();
        keyed[i] = {spread(cell(p[0], roots.lo.x, span.x)) | spread(cell(p[1], roots.lo.y, span.y)) << 1 |
                        spread(cell(p[2], roots.lo.z, span.z)) << 2,
                    static_cast<unsigned>(i)};
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<unsigned> order(strands.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = keyed[i].second;
    return order;
}

} // namespace

void Bounds::add(Float3 p) {
    lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
    hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
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

int Scene::addGroup(PluginBase* instance, const std::vector<Strand>& strands, float scale) {
    if (!instance) throw std::invalid_argument("a hair group needs a material instance");
    Impl::Group g;
    g.instance = instance;
    const bool colors = std::any_of(strands.begin(), strands.end(), [](const Strand& s) {
        return !s.colors.empty() && s.colors.size() * 4 == s.points.size() * 3;
    });
    // Strands of fewer than two points are left out. The others are laid out in order, each
    // strand's share of every array found first, so that they can be filled side by side: a
    // strand of n points has n + 2 control points, n - 1 segments, and its pieces' ends.
    std::vector<const Strand*> kept;
    for (const Strand& s : strands)
        if (s.points.size() / 4 >= 2) kept.push_back(&s);
    const std::size_t count = kept.size();
    // Laid out in the order of their roots along a Morton curve, strands that lie side by side
    // also lie side by side in memory, where Embree's build and the render fetch them together.
    const std::vector<unsigned> source = rootOrder(kept);
    {
        std::vector<const Strand*> sorted(count);
        for (std::size_t i = 0; i < count; ++i)
            sorted[i] = kept[source[i]];
        kept.swap(sorted);
    }
    std::vector<std::size_t> vertBase(count + 1, 0), segBase(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t n = kept[i]->points.size() / 4;
        vertBase[i + 1] = vertBase[i] + n + 2;
        segBase[i + 1] = segBase[i] + n - 1;
    }
    g.segments = segBase[count];
    auto& verts = g.curveVerts;
    verts.resize(4 * vertBase[count]);
    if (colors) g.curveColors.resize(3 * vertBase[count]);
    std::vector<std::uint8_t> segPieces(g.segments);
    BigArray<float> ends(g.segments * kMaxPieces); // where each segment's pieces end
    std::vector<std::size_t> pieceBase(count + 1, 0);
    auto strandsInParallel = [count](auto&& body) {
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 256),
                          [&](const tbb::blocked_range<std::size_t>& r) {
                              for (std::size_t i = r.begin(); i != r.end(); ++i)
                                  body(i);
                          });
    };
    strandsInParallel([&](std::size_t i) { // control points, colours, and the count of pieces
        const Strand& s = *kept[i];
        const std::size_t n = s.points.size() / 4;
        float* v = &verts[4 * vertBase[i]];
        std::copy_n(s.points.begin(), 4, v);
        std::copy_n(s.points.begin(), 4 * n, v + 4);
        std::copy_n(s.points.begin() + 4 * (n - 1), 4, v + 4 * (n + 1));
        if (colors) { // the strand's own colours, or its one colour at every point
            float* c = &g.curveColors[3 * vertBase[i]];
            const bool own = s.colors.size() == 3 * n;
            for (std::size_t k = 0; k < n + 2; ++k) {
                const std::size_t at = 3 * std::clamp<std::size_t>(k, 1, n) - 3;
                c[3 * k] = own ? s.colors[at] : s.color.x;
                c[3 * k + 1] = own ? s.colors[at + 1] : s.color.y;
                c[3 * k + 2] = own ? s.colors[at + 2] : s.color.z;
            }
        }
        std::size_t total = 0;
        for (std::size_t k = 0, seg = segBase[i]; k + 1 < n; ++k, ++seg)
            total += segPieces[seg] =
                static_cast<std::uint8_t>(splitSegment(v + 4 * k, scale, &ends[kMaxPieces * seg]));
        pieceBase[i + 1] = total;
    });
    for (std::size_t i = 0; i < count; ++i)
        pieceBase[i + 1] += pieceBase[i];
    g.pieces.resize(pieceBase[count]);
    g.lineVerts.resize(4 * (pieceBase[count] + count));
    g.strands.resize(count);
    std::vector<std::uint8_t> flags(pieceBase[count]); // per piece: which neighbours it joins
    strandsInParallel([&](std::size_t i) { // the polyline through the curve: its root, then every piece's end
        const Strand& s = *kept[i];
        const std::size_t n = s.points.size() / 4;
        auto chord = [&s](std::size_t k) { // between points k and k + 1
            const float* a = &s.points[4 * k];
            Float3 d{a[4] - a[0], a[5] - a[1], a[6] - a[2]};
            return std::sqrt(dot(d, d));
        };
        float along = 0;
        for (std::size_t k = 0; k + 1 < n; ++k)
            along += chord(k);
        const float length = along > 0 ? along : 1.0f;
        along = 0;
        const unsigned firstPiece = static_cast<unsigned>(pieceBase[i]);
        unsigned piece = firstPiece, v = static_cast<unsigned>(pieceBase[i] + i);
        float* line = &g.lineVerts[4 * v];
        auto appendLinePoint = [&line](const CurvePoint& c) {
            line[0] = c.center.x, line[1] = c.center.y, line[2] = c.center.z, line[3] = c.radius;
            line += 4;
        };
        appendLinePoint(evalSegment(&verts[4 * vertBase[i]], 0));
        for (std::size_t k = 0; k + 1 < n; ++k) {
            const unsigned v0 = static_cast<unsigned>(vertBase[i] + k);
            const float pos0 = along / length;
            along += chord(k);
            const float pos1 = along / length;
            const float* p = &verts[4 * v0];
            const std::size_t seg = segBase[i] + k;
            const float* end = &ends[kMaxPieces * seg];
            for (int j = 0; j < segPieces[seg]; ++j, ++v) {
                float u0 = j ? end[j - 1] : 0.0f, u1 = end[j], du = u1 - u0;
                g.pieces[piece++] = {
                    v, static_cast<int>(i), v0, pos0 + (pos1 - pos0) * u0, (pos1 - pos0) * du, u0, du};
                appendLinePoint(evalSegment(p, u1));
            }
        }
        const unsigned lastPiece = piece - 1;
        for (unsigned k = firstPiece; k <= lastPiece; ++k)
            flags[k] = static_cast<std::uint8_t>((k > firstPiece ? RTC_CURVE_FLAG_NEIGHBOR_LEFT : 0) |
                                                 (k < lastPiece ? RTC_CURVE_FLAG_NEIGHBOR_RIGHT : 0));
        g.strands[i] = {length, s.color, s.transparency, firstPiece, lastPiece, source[i]};
    });
    for (const Strand* s : kept)
        for (std::size_t k = 0; k < s->points.size(); k += 4) {
            const float* p = &s->points[k];
            g.maxRadius = std::fmax(g.maxRadius, p[3]);
            g.bounds.add(Float3{p[0], p[1], p[2]} - Float3{p[3], p[3], p[3]});
            g.bounds.add(Float3{p[0], p[1], p[2]} + Float3{p[3], p[3], p[3]});
        }
    int group = static_cast<int>(impl_->groups.size());
    if (!g.pieces.empty()) {
        RTCGeometry geom = rtcNewGeometry(impl_->device, RTC_GEOMETRY_TYPE_ROUND_LINEAR_CURVE);
        // Shared, not copied: shading reads the points of the piece Embree has just met, still
        // in the cache. (Moving the group keeps the vectors' storage.)
        rtcSetSharedGeometryBuffer(geom, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT4, g.lineVerts.data(), 0,
                                   4 * sizeof(float), g.lineVerts.size() / 4);
        rtcSetSharedGeometryBuffer(geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT, g.pieces.data(),
                                   offsetof(Impl::Group::Piece, v), sizeof(Impl::Group::Piece),
                                   g.pieces.size());
        auto* fl = static_cast<std::uint8_t*>(rtcSetNewGeometryBuffer(
            geom, RTC_BUFFER_TYPE_FLAGS, 0, RTC_FORMAT_UCHAR, sizeof(std::uint8_t), flags.size()));
        std::memcpy(fl, flags.data(), flags.size());
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
void Scene::setGroupInstance(int group, PluginBase* instance) {
    if (!instance) throw std::invalid_argument("a hair group needs a material instance");
    impl_->groups[group].instance = instance;
}
std::size_t Scene::segmentCount() const {
    std::size_t n = 0;
    for (auto& g : impl_->groups)
        n += g.segments;
    return n;
}
Bounds Scene::groupBounds(int group) const { return impl_->groups[group].bounds; }
std::vector<Strand> Scene::groupStrands(int group) const {
    const Impl::Group& g = impl_->groups[group];
    std::vector<Strand> out(g.strands.size()); // in the groom's own order
    for (const Impl::Group::StrandInfo& info : g.strands) {
        // Segment k of a strand starts at its repeated root + k: points root + 1 ... tip.
        const unsigned first = g.pieces[info.first].seg + 1, last = g.pieces[info.last].seg + 2;
        Strand& s = out[info.source];
        s.points.assign(g.curveVerts.begin() + 4 * first, g.curveVerts.begin() + 4 * (last + 1));
        if (!g.curveColors.empty())
            s.colors.assign(g.curveColors.begin() + 3 * first, g.curveColors.begin() + 3 * (last + 1));
        s.color = info.color;
        s.transparency = info.transparency;
    }
    return out;
}

Bounds Scene::bounds() const {
    Bounds b;
    for (auto& g : impl_->groups) {
        if (g.bounds.empty()) continue;
        b.add(g.bounds.lo);
        b.add(g.bounds.hi);
    }
    return b;
}

float groomScale(int strands, int packed) {
    return std::sqrt(std::max(1.0f, static_cast<float>(strands) / static_cast<float>(packed)));
}

std::vector<Strand> makeLock(float x, const HairStyle& style) {
    Rng rng(style.seed * 7919 + 17);
    const float size = groomScale(style.strands, kLockStrands);
    std::vector<Strand> out;
    out.reserve(style.strands);
    // Strands gather into clumps towards the tips; the whole lock bows towards the camera so
    // that the highlights run across it in bands. A larger lock is tiled, each tile with the
    // clumps of the lock the groom is made for, and its strands sway as little as there: clumps
    // and strands keep their size in hair of any extent.
    constexpr float kWidth = 0.9f, kDepth = 0.24f; // the roots' extent, before the lock's scale
    const int tiles = std::max(1, static_cast<int>(std::lround(size)));
    const int perTile = std::max(1, style.strands / 120 / (tiles * tiles));
    struct Clump {
        float x, z, phase;
    };
    std::vector<Clump> cl(static_cast<std::size_t>(perTile) * tiles * tiles);
    auto tileCentre = [&](int i, float extent) { return ((i + 0.5f) / tiles - 0.5f) * extent; };
    for (std::size_t k = 0; k < cl.size(); ++k) {
        const int tile = static_cast<int>(k) / perTile;
        const float cx = tileCentre(tile % tiles, kWidth), cz = tileCentre(tile / tiles, kDepth);
        cl[k] = {cx + (rng.uniform() - 0.5f) * 0.8f / tiles, cz + (rng.uniform() - 0.5f) * 0.2f / tiles,
                 rng.uniform() * 2 * kPi}; // a braced list draws left to right
    }
    auto tileOf = [&](float r, float extent) {
        return std::clamp(static_cast<int>((r / extent + 0.5f) * tiles), 0, tiles - 1);
    };
    const int points = style.wavy ? 16 : 8;
    for (int i = 0; i < style.strands; ++i) {
        float rx = (rng.uniform() - 0.5f) * kWidth;
        float rz = (rng.uniform() - 0.5f) * kDepth;
        const Clump* own =
            &cl[static_cast<std::size_t>(tileOf(rz, kDepth) * tiles + tileOf(rx, kWidth)) * perTile];
        const Clump* c = own;
        float best = 1e9f;
        for (int k = 0; k < std::min(perTile, 6); ++k) { // a nearby clump of a few candidates
            const Clump& cand = own[static_cast<int>(rng.uniform() * perTile) % perTile];
            float d = std::fabs(cand.x - rx) + std::fabs(cand.z - rz);
            if (d < best) best = d, c = &cand;
        }
        float top = 1.25f - 0.1f * (rx / 0.45f) * (rx / 0.45f);
        float length = 2.3f * (0.8f + 0.2f * std::sqrt(rng.uniform()));
        float phase = rng.uniform() * 2 * kPi;
        float jitter = (0.004f + 0.006f * rng.uniform()) / size;
        Strand s;
        s.color = vary(style.color, rng);
        s.transparency = style.transparency;
        for (int k = 0; k < points; ++k) {
            float t = static_cast<float>(k) / (points - 1);
            float pull = 0.65f * t * t;
            float bx = rx * (1 - 0.25f * t), bz = rz;
            float px = bx + pull * (c->x * (1 - 0.25f * t) - bx) +
                       0.03f / size * t * std::sin(4 * t + c->phase) + jitter * std::sin(11 * t + phase);
            float pz =
                bz + pull * (c->z - bz) + 0.28f * std::sin(kPi * t) + jitter * std::cos(13 * t + phase);
            if (style.wavy) { // waves that grow towards the tip, in step within a clump
                float a = 0.05f * std::min(1.0f, 3 * t);
                px += a * std::sin(2 * kPi * 3.2f * t + c->phase);
                pz += 0.6f * a * std::cos(2 * kPi * 3.2f * t + c->phase);
            }
            float py = top - length * t;
            appendPoint(s, {x + size * px, size * py, size * pz}, taper(style.rootRadius, t));
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<Strand> makeCurlyBall(float radius, const HairStyle& style) {
    const float size = groomScale(style.strands, kBallStrands); // the strands keep their width
    Rng rng(style.seed * 104729 + 3);
    std::vector<Strand> out;
    out.reserve(style.strands);
    const int points = 40; // about ten per turn: round curls
    for (int i = 0; i < style.strands; ++i) {
        float z = 1 - 2 * rng.uniform();
        float phi = 2 * kPi * rng.uniform();
        float rho = std::sqrt(std::fmax(0.0f, 1 - z * z));
        Float3 n{rho * std::cos(phi), rho * std::sin(phi), z};
        Float3 a = unit(cross(std::fabs(n.y) < 0.9f ? Float3{0, 1, 0} : Float3{1, 0, 0}, n));
        Float3 b = cross(n, a);
        float length = size * radius * (0.45f + 0.1f * rng.uniform());
        float curl = size * radius * (0.06f + 0.04f * rng.uniform());
        float turns = 2.5f + 1.5f * rng.uniform();
        float phase = 2 * kPi * rng.uniform();
        Strand s;
        s.color = vary(style.color, rng);
        s.transparency = style.transparency;
        Float3 root = n * (size * radius * 0.7f);
        for (int k = 0; k < points; ++k) {
            float t = static_cast<float>(k) / (points - 1);
            float ang = phase + 2 * kPi * turns * t;
            // Curls open out towards the tips, where the ball's surface is larger: the hair
            // stays as dense outside as near the roots.
            float cr = curl * std::fmin(1.0f, 0.25f + t);
            Float3 p = root + n * (length * t) + (a * (cr * std::cos(ang)) + b * (cr * std::sin(ang)));
            appendPoint(s, p, taper(style.rootRadius * radius, t));
        }
        out.push_back(std::move(s));
    }
    return out;
}

namespace {

// Key light front left and above, a rim light behind that makes transmission glow, a dim fill
// from the right, and a soft sky; set in the camera's frame when the camera is placed.
void studioLights(Scene& scene) {
    const Camera& c = scene.camera;
    Float3 back = unit(c.eye - c.target); // towards the camera
    Float3 right = unit(cross(c.up, back)), up = cross(back, right);
    auto dir = [&](float r, float u, float b) { return unit(right * r + up * u + back * b); };
    const StudioRig& rig = scene.rig;
    const DistantLight all[3] = {
        {dir(-0.55f, 0.55f, 0.65f), Float3{2.3f, 2.15f, 1.95f} * rig.key, 3}, // key
        {dir(0.25f, 0.55f, -0.8f), Float3{3.2f, 3.2f, 3.4f} * rig.rim, 3},    // rim
        {dir(0.85f, 0.05f, 0.5f), Float3{0.45f, 0.5f, 0.6f} * rig.fill, 6},   // fill
    };
    scene.lights.clear();
    for (const DistantLight& l : all) // a light switched off costs no shadow ray
        if (l.color.x > 0 || l.color.y > 0 || l.color.z > 0) scene.lights.push_back(l);
}

} // namespace

void buildContactSheet(Scene& scene, const std::vector<PluginBase*>& instances, int columns,
                       const HairStyle& style) {
    const float size = groomScale(style.strands, kLockStrands);
    const float spacingX = 1.25f * size, spacingY = 3.1f * size; // a lock is about 0.9 wide and 2.3 tall
    const int n = static_cast<int>(instances.size());
    columns = std::clamp(columns, 1, std::max(1, n));
    const int rows = (n + columns - 1) / columns;
    // The same lock for every material (only the shading differs), moved into its cell.
    const std::vector<Strand> lock = makeLock(0, style);
    for (int i = 0; i < n; ++i) {
        Float3 at{(i % columns - 0.5f * (columns - 1)) * spacingX,
                  (0.5f * (rows - 1) - i / columns) * spacingY, 0};
        std::vector<Strand> moved = lock;
        for (Strand& s : moved)
            for (std::size_t k = 0; k + 3 < s.points.size(); k += 4)
                s.points[k] += at.x, s.points[k + 1] += at.y;
        scene.addGroup(instances[i], moved, size);
    }
    scene.commit();
    scene.env = Environment::sky(0.6f);
    scene.studio = true;
    scene.labelSpace = 0.6f * size;
}

void buildSheet(Scene& scene, const std::vector<PluginBase*>& instances, const HairStyle& style) {
    buildContactSheet(scene, instances, static_cast<int>(instances.size()), style);
}

void buildSwatch(Scene& scene, PluginBase* instance, const HairStyle& style) {
    buildSheet(scene, {instance}, style);
    scene.labelSpace = 0;
}

namespace {
void addCurlyBall(Scene& scene, PluginBase* instance, const HairStyle& style) {
    scene.addGroup(instance, makeCurlyBall(1.0f, style), groomScale(style.strands, kBallStrands));
    scene.commit();
}
} // namespace

void buildBall(Scene& scene, PluginBase* instance, const HairStyle& style) {
    addCurlyBall(scene, instance, style);
    scene.env = Environment::sky(0.6f);
    scene.studio = true;
}

void buildGroom(Scene& scene, PluginBase* instance, const std::vector<Strand>& strands) {
    // A groom without thickness gets strands about a pixel across at the default framing.
    Bounds b;
    float thickest = 0;
    for (const Strand& s : strands)
        for (std::size_t k = 0; k + 3 < s.points.size(); k += 4) {
            b.add({s.points[k], s.points[k + 1], s.points[k + 2]});
            thickest = std::max(thickest, s.points[k + 3]);
        }
    if (thickest > 0 || b.empty()) {
        scene.addGroup(instance, strands);
    } else {
        Float3 d = b.hi - b.lo;
        float root = 2e-4f * std::sqrt(dot(d, d));
        std::vector<Strand> thick = strands;
        for (Strand& s : thick) {
            std::size_t n = s.points.size() / 4;
            for (std::size_t k = 0; k < n; ++k)
                s.points[4 * k + 3] = taper(root, n > 1 ? float(k) / float(n - 1) : 0);
        }
        scene.addGroup(instance, thick);
    }
    scene.commit();
    scene.env = Environment::sky(0.6f);
    scene.studio = true;
}

void buildFurnace(Scene& scene, PluginBase* instance, const HairStyle& style) {
    addCurlyBall(scene, instance, style);
    scene.lights.clear();
    scene.env = Environment::uniform({1, 1, 1});
    scene.studio = false;
}

void frame(Scene& scene, int width, int height, const CameraView& view) {
    Bounds all = scene.bounds();
    if (all.empty()) all.add({0, 0, 0});
    all.lo.y -= all.empty() ? 0 : scene.labelSpace;
    Float3 target = (all.lo + all.hi) * 0.5f;
    float az = view.azimuth * kDeg, el = std::clamp(view.elevation, -89.0f, 89.0f) * kDeg;
    Float3 back{std::sin(az) * std::cos(el), std::sin(el), std::cos(az) * std::cos(el)}; // towards the camera
    Float3 right = unit(cross({0, 1, 0}, back)), up = cross(back, right);
    Camera& c = scene.camera;
    c.fovY = 30;
    c.target = target;
    c.up = {0, 1, 0};
    // Distance at which every corner of every group fits, with a margin of 6 % on each side.
    const float tanH = std::tan(0.5f * c.fovY * kDeg) * 0.94f;
    const float tanW = tanH * width / std::max(1, height);
    float dist = 0;
    for (int g = 0; g < scene.groupCount(); ++g) {
        Bounds b = scene.groupBounds(g);
        if (b.empty()) continue;
        for (int k = 0; k < 16; ++k) { // the box's corners, and the label's room under it
            float y = k >= 8 ? b.lo.y - scene.labelSpace : (k & 2 ? b.hi.y : b.lo.y);
            Float3 p{k & 1 ? b.hi.x : b.lo.x, y, k & 4 ? b.hi.z : b.lo.z};
            Float3 d = p - target;
            float need = std::max(std::fabs(dot(d, right)) / tanW, std::fabs(dot(d, up)) / tanH);
            dist = std::max(dist, need + dot(d, back));
        }
    }
    dist = std::max(dist, 1e-3f);
    c.eye = target + back * dist;
    c.fovY = 2 * std::atan(std::tan(0.5f * c.fovY * kDeg) / std::max(view.zoom, 1e-3f)) / kDeg;
    if (scene.studio) studioLights(scene);
}

bool project(const Camera& c, int width, int height, Float3 p, float& x, float& y) {
    Float3 fwd = unit(c.target - c.eye), right = unit(cross(fwd, c.up)), up = cross(right, fwd);
    Float3 d = p - c.eye;
    float depth = dot(d, fwd);
    if (!(depth > 0)) return false;
    float halfH = std::tan(0.5f * c.fovY * kDeg), halfW = halfH * width / height;
    x = dot(d, right) / depth / halfW;
    y = dot(d, up) / depth / halfH;
    return true;
}

} // namespace quor::render
