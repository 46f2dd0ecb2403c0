// Seeded shading points of every material against outputs recorded from a build that agreed with
// independent implementations; the tolerance lets rounding through, not a changed constant,
// formula or draw order. HAIR_WRITE_REFERENCE=1 records the file anew.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "harness/test_support.h"

namespace {

using namespace harness;

constexpr int kPointsPerType = 32;
const char* const kFile = HAIR_SOURCE_DIR "/plugin/testdata/reference.txt";

// Every render channel a sampler writes, folded into one number that depends on alias,
// component and value.
struct ChannelSum final : quor::RenderChannelTarget {
    double sum = 0;
    void write(int alias, const float* values, int count) override {
        for (int i = 0; i < count; ++i)
            sum += values[i] * (1 + alias % 13) * (1 + i);
    }
    bool has(int) const override { return true; }
};

// One seeded point's outputs: eval of four lights (and the light colours eval left), two sampled
// rays, the colour queries, traceForward's results and the render channels.
std::vector<double> shadePoint(const std::string& type, int index) {
    Rng rng(1000 * index + type.size());
    PointOptions o;
    o.type = type;
    o.sets = index % 2 ? test::drawParameters(type, rng, false) : test::registeredDefaults(type);
    // Glint variation below 0.01 lowers the floor of the per-strand offsets.
    if (type == "BRDFHair4" && index % 8 == 7) o.sets.emplace_back("glint_variation", "0.004");
    o.unchecked = true; // a limit read back from its decimal text may round past the float limit
    o.dir = test::randomDirection(rng);
    o.tangent = test::randomDirection(rng);
    o.h = 2 * rng.uniform() - 1;
    o.strandColor = {rng.uniform(), rng.uniform(), rng.uniform()};
    if (index % 4 == 1) o.strandTransparency = {rng.uniform(), rng.uniform(), rng.uniform()};
    o.strandIndex = index * 37;
    o.strandLength = 0.5f + 3 * rng.uniform();
    o.strandPosition = rng.uniform();
    o.noStrandData = index % 8 == 5;
    if (index % 5 == 3) o.coverage = rng.uniform();
    if (index % 3 == 1) o.unitScale = 0.01 + rng.uniform();
    o.depth = index % 3 == 2 ? 1 + index % 4 : 0;
    static const int kRayFlags[] = {0, 0, 0, quor::RAY_GI, quor::RAY_NO_SPECULAR};
    o.rayFlags = kRayFlags[index % 5];
    static const int kContextFlags[] = {quor::CTX_SKIP_BELOW_SURFACE,
                                        quor::CTX_SKIP_BELOW_SURFACE,
                                        0,
                                        quor::CTX_SKIP_BELOW_SURFACE,
                                        quor::CTX_SKIP_BELOW_SURFACE | quor::CTX_RENDER_ELEMENTS,
                                        quor::CTX_RENDER_ELEMENTS};
    o.contextFlags = kContextFlags[index % 6];
    o.side = index % 7 == 6 ? 1 : 0;
    o.mis = index % 2;
    o.gi = {rng.uniform(), rng.uniform(), rng.uniform()};
    ShadingPoint p(test::library(), o);
    p.settings().flags = index % 2 ? quor::SETTINGS_STRAND_FRAME
                                   : quor::SETTINGS_STRAND_FRAME | quor::SETTINGS_NO_LIGHT_ELEMENTS;
    ChannelSum channels;
    p.context().channels = &channels;
    p.context().sampleValue =
        rng.uniform(); // the host sampler's value, which stands in for h without strand data
    p.context().hitPoint = {rng.uniform(), rng.uniform(), rng.uniform(), 0};
    std::vector<double> out;
    p.shade();
    for (int l = 0; l < 4; ++l) {
        quor::Color light{1, 0.5f, 0.25f, 0.25f}, unshadowed{1, 1, 1, 1};
        quor::Vector L = toVector(test::randomDirection(rng));
        float prob = l == 0 ? 1e18f : 0.05f + 3 * rng.uniform();
        quor::Color c = p.brdf()->eval(p.context(), L, light, unshadowed, prob, 1 + l % 3);
        out.insert(out.end(), {c.r, c.g, c.b, light.r, light.g, unshadowed.b});
        if (l == 1) p.brdf()->scaleLightSample(0.5f);
        if (l < 3) p.brdf()->commitLightSample(l == 2); // light samples as a host commits them
    }
    for (int k = 0; k < 2; ++k) {
        float u = rng.uniform(), a = k == 1 && index % 4 == 3 ? 0.0f : rng.uniform(), b = rng.uniform(),
              c = rng.uniform();
        float r = p.sample(u, a, b, c);
        const quor::Vector& w = p.newRay().dir;
        const quor::QuorContext& nc = p.rayContext();
        const quor::RayRecord& ray = p.newRay();
        if (r == 0)
            out.insert(out.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        else
            out.insert(out.end(), {r, w.x, w.y, w.z, nc.pathWeight.r, nc.pathWeight.g, nc.pathWeight.b,
                                   nc.pathProb, ray.tmin, std::min(ray.tmax, 1e30f), ray.origin.y});
    }
    quor::Color weight{1, 1, 1, 1};
    quor::Color d = p.brdf()->getDiffuseColor(weight), m = p.brdf()->getLightMultiplier(weight);
    out.insert(out.end(), {d.r, d.g, d.b, m.r, m.g, m.b, weight.r});
    p.brdf()->traceForward(p.context(), 1);
    const quor::ShadeResult& res = p.context().result;
    out.insert(out.end(),
               {res.gi.r, res.gi.g, res.gi.b, res.transparency.r, res.transparency.g, res.opacity.b,
                static_cast<double>(p.bsdf()->getBSDFTransparency(p.context()).g), channels.sum});
    return out;
}

TEST(Reference, EveryMaterialReproducesItsRecordedOutputs) {
    if (std::getenv("HAIR_WRITE_REFERENCE")) {
        std::ofstream f(kFile);
        f.precision(9);
        for (const std::string& type : test::types())
            for (int i = 0; i < kPointsPerType; ++i) {
                f << type << " " << i;
                for (double v : shadePoint(type, i))
                    f << " " << v;
                f << "\n";
            }
        GTEST_SKIP() << "recorded " << kFile;
    }
    std::ifstream f(kFile);
    ASSERT_TRUE(f) << kFile;
    std::string line;
    int lines = 0;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string type;
        int index;
        in >> type >> index;
        std::vector<double> want;
        for (double v; in >> v;)
            want.push_back(v);
        std::vector<double> got = shadePoint(type, index);
        ASSERT_EQ(got.size(), want.size()) << line;
        for (std::size_t k = 0; k < got.size(); ++k)
            EXPECT_NEAR(got[k], want[k], 1e-6 + 2e-4 * std::fabs(want[k]))
                << type << " point " << index << " value " << k;
        ++lines;
    }
    EXPECT_EQ(lines, kPointsPerType * static_cast<int>(test::types().size()));
}

} // namespace
