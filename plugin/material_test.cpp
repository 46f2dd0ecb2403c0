// What every material must do: answer its interfaces, bind every parameter, shade without
// allocating once warm, and answer any host input with finite values and well-formed rays.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <utility>

#include "harness/estimators.h"
#include "harness/test_support.h"
#include "quor/memory.h"
#include "quor/texture.h"

namespace {

using namespace harness;
using harness::test::library;

class Material : public ::testing::TestWithParam<std::string> {};

TEST_P(Material, AnswersItsInterfacesAndBindsEveryParameter) {
    Instance inst(library(), GetParam());
    EXPECT_EQ(inst.plugin().getPlugin(), inst.base());
    EXPECT_EQ(inst.bsdf().getPlugin(), inst.base());
    EXPECT_EQ(inst.base()->getInterface(12345), nullptr);
    // Before renderBegin the pools are not there: no sampler, and no crash.
    quor::QuorContext ctx;
    EXPECT_EQ(inst.bsdf().newBSDF(ctx, 0), nullptr);

    const quor::QuorParameterListDesc* d = inst.params();
    ASSERT_NE(d, nullptr);
    ASSERT_GT(d->count(), 0);
    for (int i = 0; i < d->count(); ++i) {
        quor::QuorParameter* p = inst.plugin().getParameter(d->param(i).name);
        ASSERT_NE(p, nullptr) << d->param(i).name;
        EXPECT_EQ(p->bindingCount(), 1) << GetParam() << " does not read " << d->param(i).name;
    }
}

TEST_P(Material, ShadingAllocatesNothingOnceWarm) {
    PointOptions o = test::hairGeometry();
    o.dir = {0.3f, -0.2f, -0.9f};
    auto p = test::hairHit(GetParam(), test::registeredDefaults(GetParam()), o);
    auto round = [&](int i) {
        p->shade();
        p->eval({0.2f, 0.5f, 0.8f, 0}, 0.5f);
        p->sample((i % 97) / 97.0f, 0.3f, 0.6f, 0.9f);
        p->brdf()->traceForward(p->context(), 0);
    };
    for (int i = 0; i < 50; ++i)
        round(i);
    long before = quor::vmallocCalls();
    for (int i = 0; i < 2000; ++i)
        round(i);
    EXPECT_EQ(quor::vmallocCalls(), before);
}

// A lossless fibre reflects everything, and what sampleRay carries agrees with what eval
// integrates to: at default looks and at a lossless one, in several geometries.
TEST_P(Material, SampledAndEvaluatedAlbedoAgree) {
    struct Look {
        ParamSets sets;
        harness::Rgb strand;
        bool lossless;
    };
    const std::string type = GetParam();
    std::vector<Look> looks = {{test::registeredDefaults(type), {0.6f, 0.4f, 0.2f}, false}};
    if (type == "BRDFHair4") looks.push_back({{{"melanin", "0"}, {"diffuse_amount", "0"}}, {}, true});
    if (type == "BRDFHair3") looks.push_back({{}, {1, 1, 1}, true});
    const Vec3 dirs[] = {{0, 0, -1}, {0.4f, -0.5f, -0.77f}, {0, 0.95f, -0.31f}};
    int k = 0;
    for (const Look& look : looks)
        for (const Vec3& d : dirs) {
            PointOptions o = test::hairGeometry();
            o.strandColor = look.strand;
            o.dir = d;
            o.h = 0.3f;
            FurnaceResult f = furnace(*test::hairHit(type, look.sets, o), 60000, ++k);
            auto ch = [](const harness::Rgb& v, int c) { return c == 0 ? v.r : c == 1 ? v.g : v.b; };
            for (int c = 0; c < 3; ++c) {
                const float e = ch(f.eval, c), s = ch(f.sampledMean, c);
                EXPECT_TRUE(std::isfinite(e) && e >= 0) << type << " look " << k;
                if (!f.sampled) continue;
                double tol = 4 * std::hypot(ch(f.evalStderr, c), ch(f.sampledStderr, c)) + 0.01;
                EXPECT_NEAR(s, e, tol) << type << " channel " << c << " dir " << d.x << "," << d.y;
                if (look.lossless) {
                    EXPECT_NEAR(s, 1.0, 0.02) << type << " lossless, dir " << d.x << "," << d.y;
                }
            }
            // Materials that sample refuse only what they cannot carry.
            if (f.sampled) {
                EXPECT_LT(f.refused, 600) << type;
            }
        }
}

Vec3 minus(Vec3 v) { return {-v.x, -v.y, -v.z}; }
quor::Vector minus(quor::Vector v) { return {-v.x, -v.y, -v.z, 0}; }

// The degenerate geometries every parameter set meets first, in this order; the points after
// them are drawn freely. Each case changes a drawn point (tangent t, view d).
struct PointCase {
    const char* what;
    void (*apply)(PointOptions& o, Vec3& t, Vec3& d);
};
const PointCase kPointCases[] = {
    {"view along the strand", [](PointOptions&, Vec3& t, Vec3& d) { d = t; }},
    {"view against the strand", [](PointOptions&, Vec3& t, Vec3& d) { d = minus(t); }},
    {"no tangent", [](PointOptions&, Vec3& t, Vec3&) { t = Vec3{}; }},
    {"head-on view across the strand",
     [](PointOptions& o, Vec3& t, Vec3& d) {
         o.normal = minus(d);
         t = {0, 0, 1};
         d = {0, 0, -1};
     }},
    {"normal facing away from the viewer", [](PointOptions& o, Vec3&, Vec3& d) { o.normal = d; }},
    {"edge of the strand", [](PointOptions& o, Vec3&, Vec3&) { o.h = 1.0f; }},
    {"other edge of the strand", [](PointOptions& o, Vec3&, Vec3&) { o.h = -1.0f; }},
    {"white strand, red channel transparent",
     [](PointOptions& o, Vec3&, Vec3&) {
         o.strandColor.b = 1.0f;
         o.strandTransparency.r = 1.0f;
     }},
};

// The light directions every shaded point is evaluated from first; the rest are drawn freely.
struct LightCase {
    const char* what;
    quor::Vector (*dir)(const quor::Vector& tangent, const quor::Vector& normal, const quor::Vector& view);
};
const LightCase kLightCases[] = {
    {"along the tangent", [](auto& t, auto&, auto&) { return t; }},
    {"against the tangent", [](auto& t, auto&, auto&) { return minus(t); }},
    {"along the normal", [](auto&, auto& n, auto&) { return n; }},
    {"against the normal", [](auto&, auto& n, auto&) { return minus(n); }},
    {"back to the viewer", [](auto&, auto&, auto& v) { return minus(v); }},
    {"straight on", [](auto&, auto&, auto& v) { return v; }},
    {"zero vector", [](auto&, auto&, auto&) { return quor::Vector{}; }},
};

// Parameter sets: registered defaults, drawn within the limits (half of them with a quarter of
// their values past any limit), then each float and colour slot alone at each hostile value.
std::vector<ParamSets> propertySets(const std::string& type, Rng& rng, int drawn) {
    std::vector<ParamSets> sets = {{}};
    for (int set = 1; set < drawn; ++set)
        sets.push_back(test::drawParameters(type, rng, true, set % 2 ? 0.25f : 0.0f));
    const quor::QuorParameterListDesc* d = library().host().params(library().type(type));
    for (int i = 0; i < d->count(); ++i) {
        const quor::ParamInfo& info = d->param(i);
        const bool colour = info.kind == quor::ParamKind::Texture || info.kind == quor::ParamKind::TextureRGB;
        if (!colour && info.kind != quor::ParamKind::TextureFloat && info.kind != quor::ParamKind::Float)
            continue;
        for (double v : test::kHostileValues) {
            std::string text = test::number(v);
            sets.push_back({{info.name, colour ? text + "," + text + "," + text : text}});
        }
    }
    return sets;
}

// Point `pt` of a set: a drawn point, shaped by its case when it has one.
PointOptions propertyPoint(const std::string& type, const ParamSets& sets, Rng& rng, int pt,
                           const char*& what) {
    PointOptions o;
    o.type = type;
    o.sets = sets;
    o.unchecked = true; // drawn values are inside the limits; keep float rounding of the limits too
    Vec3 t = test::randomDirection(rng), d = test::randomDirection(rng);
    o.h = 2 * rng.uniform() - 1;
    o.strandColor = {rng.uniform(), rng.uniform(), rng.uniform()};
    o.strandTransparency = {0.0f, rng.uniform() < 0.2f ? 1.0f : 0.0f, 0};
    o.strandIndex = static_cast<int>(rng.next() & 0xFFFF);
    o.strandLength = rng.uniform() < 0.2f ? 0.0f : 10 * rng.uniform();
    o.strandPosition = rng.uniform();
    o.noStrandData = rng.uniform() < 0.25f;
    if (rng.uniform() < 0.3f) o.coverage = rng.uniform() < 0.5f ? 0.0f : rng.uniform();
    static const int kRayFlags[] = {0, quor::RAY_SHADOW, quor::RAY_GI, quor::RAY_NO_SPECULAR,
                                    quor::RAY_GI | quor::RAY_NO_SPECULAR};
    o.rayFlags = kRayFlags[rng.next() % 5];
    const int skip = quor::CTX_SKIP_BELOW_SURFACE, elements = skip | quor::CTX_RENDER_ELEMENTS;
    o.contextFlags = rng.uniform() < 0.5f ? skip : rng.uniform() < 0.5f ? elements : 0;
    o.depth = static_cast<int>(rng.next() % 4) * (rng.uniform() < 0.2f ? 100 : 1);
    o.side = static_cast<int>(rng.next() % 3);
    o.mis = static_cast<int>(rng.next() % 2);
    o.gi = {rng.uniform(), rng.uniform(), rng.uniform()};
    if (rng.uniform() < 0.3f) o.unitScale = rng.uniform() < 0.5f ? 1e-4 : 100.0;
    const std::size_t c = pt % (std::size(kPointCases) + 1);
    what = c < std::size(kPointCases) ? kPointCases[c].what : "drawn point";
    if (c < std::size(kPointCases)) kPointCases[c].apply(o, t, d);
    o.dir = d;
    o.tangent = t;
    return o;
}

// The property every host relies on: finite, non-negative answers for drawn and hostile
// parameter sets (see propertySets) at degenerate and drawn geometry (see propertyPoint).
TEST_P(Material, AnswersEveryInputWithFiniteNonNegativeValues) {
#if defined(__SANITIZE_ADDRESS__)
    const int kSets = 8;
#else
    const int kSets = 60;
#endif
    const int kPoints = 32, kLights = 56, kSamples = 12;
    const std::string type = GetParam();
    Rng rng(std::hash<std::string>{}(type));
    long evaluated = 0, bad = 0;
    std::ostringstream first;
    const char* what = "";
    auto fail = [&](const std::string& call, const PointOptions& o, const ParamSets& sets) {
        if (bad++ >= 3) return;
        first << call << " at " << what << ": dir " << o.dir.x << "," << o.dir.y << "," << o.dir.z
              << " tangent " << o.tangent.x << "," << o.tangent.y << "," << o.tangent.z << " flags "
              << o.rayFlags << " depth " << o.depth << " sets:";
        for (auto& [n, v] : sets)
            first << " " << n << "=" << v;
        first << "\n";
    };
    const std::vector<ParamSets> setList = propertySets(type, rng, kSets);
    for (std::size_t set = 0; set < setList.size(); ++set) {
        const ParamSets& sets = setList[set];
        Instance inst(library(), type, sets, true);
        // A parameter alone meets every point case once.
        const int points = set < std::size_t(kSets) ? kPoints : int(std::size(kPointCases)) + 1;
        for (int pt = 0; pt < points; ++pt) {
            const PointOptions o = propertyPoint(type, sets, rng, pt, what);
            ShadingPoint p(inst, o);
            if (!p.shade()) continue;
            quor::BRDFSampler& s = *p.brdf();
            const quor::Vector n = p.context().normal, tv = p.strand().record.tangent,
                               dv = p.context().rayDir;
            for (int l = 0; l < kLights; ++l) {
                const quor::Vector L = l < int(std::size(kLightCases)) ? kLightCases[l].dir(tv, n, dv)
                                                                       : toVector(test::randomDirection(rng));
                quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
                float prob = l % 3 == 0 ? 1e18f : rng.uniform() * 4;
                quor::Color f = s.eval(p.context(), L, light, unshadowed, prob, 1 + static_cast<int>(l % 3));
                ++evaluated;
                if (!test::finiteNonNegative(f) || !test::finiteNonNegative(light) ||
                    !test::finiteNonNegative(unshadowed))
                    fail(std::string("eval from ") +
                             (l < int(std::size(kLightCases)) ? kLightCases[l].what : "a drawn light"),
                         o, sets);
            }
            for (int k = 0; k < kSamples; ++k) {
                float u = k == 0 ? 0.0f : k == 1 ? 0.99999994f : rng.uniform();
                float xi = k == 2 ? 0.0f : rng.uniform();
                float r = p.sample(u, xi, k == 3 ? 0.0f : rng.uniform(), rng.uniform());
                if (r == 0.0f) continue;
                const quor::QuorContext& nc = p.rayContext();
                const quor::Vector& w = p.newRay().dir;
                double len = std::sqrt(double(w.x) * w.x + double(w.y) * w.y + double(w.z) * w.z);
                if (r != 1.0f || !(std::fabs(len - 1) < 1e-3) || !test::finiteNonNegative(nc.pathWeight) ||
                    !(nc.pathProb > 0 && std::isfinite(nc.pathProb)))
                    fail("sampleRay", o, sets);
            }
            quor::Color weight{1, 1, 1, 1};
            quor::Color queries[] = {s.getDiffuseColor(weight), s.getLightMultiplier(weight),
                                     s.getTransparency(), s.getOpacity(),
                                     p.bsdf()->getBSDFTransparency(p.context())};
            for (const quor::Color& c : queries)
                if (!test::finiteNonNegative(c)) fail("colour query", o, sets);
            s.traceForward(p.context(), 0);
            const quor::ShadeResult& res = p.context().result;
            for (const quor::Color& c : {res.gi, res.transparency, res.opacity, res.transparency2})
                if (!test::finiteNonNegative(c)) fail("traceForward", o, sets);
        }
    }
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_GE(evaluated, 100000);
#endif
    EXPECT_EQ(bad, 0) << type << ": " << bad << " bad answers; the first:\n" << first.str();
}

// What a host reads before shading (getBSDFFlags) and of each sampler: its flags and the
// reflection channel set.
TEST_P(Material, ReportsItsFlagsAndTheReflectionChannels) {
    struct Case {
        const char* type;
        ParamSets sets;
        int bsdfFlags, samplerFlags;
    };
    const Case cases[] = {
        {"BRDFHair", {}, 0, 1},
        {"BRDFHair2", {}, 0, 1},
        {"BRDFHair3", {{"use_cached_gi", "false"}}, 1, 10},
        {"BRDFHair3", {{"transparency", "0,0,0"}, {"use_cached_gi", "true"}}, 1, 11},
        {"BRDFHair3", {{"transparency", "0.5,0.5,0.5"}}, 0, 11}, // use_cached_gi is on by default
        {"BRDFHair3", {{"transparency", "0.5,0.5,0.5"}, {"opaque_for_shadows", "true"}}, 1, 11},
        {"BRDFHair4", {}, 2, 8},
        {"BRDFHair4", {{"transparency", "0,0,0"}}, 3, 8},
        {"BRDFHair4", {{"transparency", "0,0.5,0"}}, 2, 8},
    };
    for (const Case& c : cases) {
        if (GetParam() != c.type) continue;
        PointOptions o;
        o.type = c.type;
        o.sets = c.sets;
        ShadingPoint p(library(), o);
        EXPECT_EQ(p.instance().bsdf().getBSDFFlags(), c.bsdfFlags) << c.type << " " << c.sets.size();
        quor::BRDFSampler* s = p.shade();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->getSamplerFlags(), c.samplerFlags) << c.type;
        EXPECT_EQ(s->getRenderChannels(), quor::RenderChannelsInfo::reflectChannels()) << c.type;
    }
    if (GetParam() != "BRDFHair4") return;
    // A varying transparency is opaque only while both ends of its range sum below 1e-6.
    const int see = quor::BSDF_MULTIPLE_SCATTERING, opaque = see | quor::BSDF_OPAQUE;
    for (auto [tip, flags] :
         {std::pair{quor::AColor{1e-6f, 0, 0, 1}, see}, {quor::AColor{5e-7f, 4e-7f, 0, 1}, opaque}}) {
        harness::Instance inst(library(), "BRDFHair4");
        quor::RootTipRampTexture ramp({0, 0, 0, 1}, tip);
        inst.plugin().getParameter("transparency")->setTexture(&ramp);
        EXPECT_EQ(inst.bsdf().getBSDFFlags(), flags) << tip.r;
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, Material, ::testing::ValuesIn(harness::test::types()),
                         [](const auto& info) { return info.param; });

} // namespace
