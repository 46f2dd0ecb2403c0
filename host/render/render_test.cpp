// The stand-in renderer: what a host owes a material (contexts, flags, thread indices, pools),
// and what the pictures must satisfy (white furnace, invisible transparent hair, finite pixels,
// repeatable images). A small recording material checks the host side without depending on
// any hair model; the hair models are then rendered through the library's own descriptors.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "probe.h"
#include "quor/quor.h"
#include "render/render.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace quor::render {
namespace {

// ---------------------------------------------------------------------------------------------
// A recording material: an isotropic fibre of albedo a that either samples (uniform sphere,
// path weight a, probability 2π·1/4π) or leaves indirect light to the GI source. It checks every
// context the host hands it and counts what it saw.

struct Seen {
    std::atomic<long> points{0}, shadowPoints{0}, badThread{0}, badContext{0}, continuation{0}, hPositive{0},
        hNegative{0}, giCalls{0};
    std::atomic<int> maxDepth{0};
    std::atomic<long> hAbsMicro{0}; // sum of |h| in millionths
};

class IsoSampler final : public BRDFSampler, public BSDFSampler {
  public:
    float albedo = 1, transparency = 0;
    bool samples = true;
    Seen* seen = nullptr;

    Color getDiffuseColor(Color& w) override { return w; }
    Color getLightMultiplier(Color& w) override { return w; }
    Color eval(const QuorContext&, const Vector&, Color& light, Color&, float lightProb, int) override {
        // π·f·L with f = a/4π, weighted against the light's probability when sampling.
        float k = (1 - transparency) * albedo / 4;
        if (samples) {
            float pb = 0.5f;
            k *= lightProb * lightProb / (pb * pb + lightProb * lightProb);
        }
        return {light.r * k, light.g * k, light.b * k, light.a * k};
    }
    int getSamplerFlags() override { return samples ? 8 : 1; }
    Color getTransparency() override { return {transparency, transparency, transparency, transparency}; }
    void traceForward(QuorContext& ctx, int gi) override {
        BRDFSampler::traceForward(ctx, gi);
        if (gi) {
            ++seen->giCalls;
            Color g = ctx.giColor();
            float k = (1 - transparency) * albedo;
            ctx.result.gi = {g.r * k, g.g * k, g.b * k, g.a * k};
        }
    }
    float sampleRay(const QuorContext& parent, QuorContext& q, float u, int) override {
        if (!samples) return 0;
        float z = 1 - 2 * getDMCParam(q, 1);
        float phi = 6.2831853f * getDMCParam(q, 2);
        float rho = std::sqrt(std::fmax(0.0f, 1 - z * z));
        Vector d{rho * std::cos(phi), rho * std::sin(phi), z, 0};
        (void)u;
        if (q.ray) {
            q.ray->dir = d;
            q.ray->origin = parent.hitPoint;
        }
        q.rayDir = d;
        float w = (1 - transparency) * albedo;
        q.pathWeight = {w, w, w, w};
        q.pathProb = 0.5f;
        return 1.0f;
    }
    BRDFSampler* getBRDF(int) override { return this; }
};

class IsoMaterial final : public PluginBase, public QuorPluginInterface, public BSDFInterface {
  public:
    IsoMaterial(float albedo, bool samples, float transparency = 0)
        : albedo_(albedo), transparency_(transparency), samples_(samples) {}

    PluginInterface* getInterface(int id) override {
        if (id == EXT_QUOR_PLUGIN) return static_cast<QuorPluginInterface*>(this);
        if (id == EXT_BSDF) return static_cast<BSDFInterface*>(this);
        return PluginBase::getInterface(id);
    }
    PluginBase* getPlugin() override { return this; }
    void release() override {}
    void renderBegin(QuorRenderer* r) override {
        threads_ = r->threadCount;
        pools_.clear();
        pools_.resize(threads_);
        ++renderBegins;
    }
    void renderEnd(QuorRenderer*) override {
        pools_.clear();
        threads_ = 0;
        ++renderEnds;
    }
    void frameBegin(QuorRenderer*) override { ++frameBegins; }
    int setParameter(QuorParameter&) override { return 0; }
    QuorParameter* getParameter(const char*) override { return nullptr; }

    BSDFSampler* newBSDF(QuorContext& ctx, int) override {
        if (ctx.threadIndex < 0 || ctx.threadIndex >= threads_) {
            ++seen.badThread;
            return nullptr;
        }
        check(ctx);
        auto& pool = pools_[ctx.threadIndex];
        if (pool.free.empty()) {
            pool.all.push_back(std::make_unique<IsoSampler>());
            pool.free.push_back(pool.all.back().get());
        }
        IsoSampler* s = pool.free.back();
        pool.free.pop_back();
        s->albedo = albedo_;
        s->transparency = transparency_;
        s->samples = samples_;
        s->seen = &seen;
        return s;
    }
    void deleteBSDF(QuorContext& ctx, BSDFSampler* b) override {
        if (b) pools_[ctx.threadIndex].free.push_back(static_cast<IsoSampler*>(b));
    }
    int getBSDFFlags() override { return 0; }

    Seen seen;
    int renderBegins = 0, renderEnds = 0, frameBegins = 0;

  private:
    void check(const QuorContext& ctx) {
        auto len = [](const Vector& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); };
        bool ok = ctx.settings && ctx.surfaceData && (ctx.contextFlags & CTX_SKIP_BELOW_SURFACE);
        const StrandDataInterface* sd = ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr;
        ok = ok && sd;
        if (ok) {
            StrandRecord rec;
            sd->getStrandRecord(ctx, rec);
            float pos = sd->getStrandPosition(ctx);
            ok = std::fabs(len(rec.tangent) - 1) < 1e-3f && std::fabs(rec.h) <= 1 && pos >= 0 && pos <= 1 &&
                 sd->getStrandLength(ctx) > 0 && sd->getStrandIndex(ctx) >= 0 &&
                 std::fabs(len(ctx.normal) - 1) < 1e-3f && std::fabs(len(ctx.rayDir) - 1) < 1e-3f;
            // The normal is the side of the fibre the ray met, across the strand.
            float nd =
                ctx.normal.x * ctx.rayDir.x + ctx.normal.y * ctx.rayDir.y + ctx.normal.z * ctx.rayDir.z;
            float nt =
                ctx.normal.x * rec.tangent.x + ctx.normal.y * rec.tangent.y + ctx.normal.z * rec.tangent.z;
            ok = ok && nd <= 1e-4f && std::fabs(nt) < 1e-3f;
            if (!(ctx.rayFlags & RAY_SHADOW)) {
                (rec.h >= 0 ? seen.hPositive : seen.hNegative)++;
                seen.hAbsMicro += static_cast<long>(std::fabs(rec.h) * 1e6f);
            }
        }
        if (!ok) ++seen.badContext;
        if (ctx.rayFlags & RAY_SHADOW) {
            ++seen.shadowPoints;
        } else {
            ++seen.points;
            if (ctx.rayDepth > 0) {
                ++seen.continuation;
                if (!(ctx.rayFlags & RAY_GI)) ++seen.badContext;
            } else if (ctx.rayFlags != 0) {
                ++seen.badContext;
            }
        }
        int d = ctx.rayDepth;
        int m = seen.maxDepth.load();
        while (d > m && !seen.maxDepth.compare_exchange_weak(m, d)) {
        }
    }

    struct Pool {
        std::vector<std::unique_ptr<IsoSampler>> all;
        std::vector<IsoSampler*> free;
    };
    std::vector<Pool> pools_;
    int threads_ = 0;
    float albedo_, transparency_;
    bool samples_;
};

// ---------------------------------------------------------------------------------------------
// Helpers.

HairStyle smallStyle(int strands) {
    HairStyle s;
    s.strands = strands;
    s.segments = 6;
    return s;
}

RenderOptions smallOptions(int size, int spp, int threads = 1) {
    RenderOptions o;
    o.width = size;
    o.height = size;
    o.spp = spp;
    o.threads = threads;
    o.seed = 3;
    return o;
}

FrameResult renderOnce(Scene& scene, const RenderOptions& o) {
    Renderer r(scene, o);
    return r.renderFrame();
}

double meanOf(const Image& img) {
    double s = 0;
    for (float v : img.rgb)
        s += v;
    return s / img.rgb.size();
}

struct Stats {
    double mean = 0, minV = 1e30, maxV = -1e30;
    long nonFinite = 0;
};
Stats stats(const Image& img) {
    Stats s;
    double sum = 0;
    for (float v : img.rgb) {
        if (!std::isfinite(v)) {
            ++s.nonFinite;
            continue;
        }
        sum += v;
        s.minV = std::min<double>(s.minV, v);
        s.maxV = std::max<double>(s.maxV, v);
    }
    s.mean = sum / img.rgb.size();
    return s;
}

// The library's descriptors, by name, straight from getLibDesc (linked into the tests).
PluginDesc* libraryType(const std::string& name) {
    struct Finder final : PluginDescCallback {
        std::string name;
        PluginDesc* found = nullptr;
        int onPluginDesc(PluginDesc* d) override {
            if (name == d->getName()) found = d;
            return 1;
        }
    } f;
    f.name = name;
    getLibDesc()->enumPluginDescs(&f);
    return f.found;
}

// An instance of a library type with parameters set as hairlab sets them; deleted on scope exit.
class LibInstance {
  public:
    LibInstance(const std::string& type, const std::vector<std::pair<std::string, std::string>>& sets = {}) {
        desc_ = libraryType(type);
        if (!desc_) return;
        inst_ = desc_->newPlugin(nullptr);
        if (!inst_) return;
        auto* plugin = static_cast<QuorPluginInterface*>(inst_->getInterface(EXT_QUOR_PLUGIN));
        auto* qdesc = static_cast<QuorPluginDesc*>(desc_);
        for (auto& [n, v] : sets)
            hairlab::setParameter(*plugin, *qdesc->paramDesc(), n, v, true);
    }
    ~LibInstance() {
        if (inst_) desc_->deletePlugin(inst_);
    }
    PluginBase* get() const { return inst_; }

  private:
    PluginDesc* desc_ = nullptr;
    PluginBase* inst_ = nullptr;
};

const char* const kTypes[] = {"BRDFHair", "BRDFHair2", "BRDFHair3", "BRDFHair4"};

// ---------------------------------------------------------------------------------------------
// The host side, seen through the recording material.

TEST(StandInRenderer, ContextsCarryWhatAHostPromises) {
    IsoMaterial mat(0.8f, true);
    Scene scene;
    buildBall(scene, &mat, smallStyle(400));
    RenderOptions o = smallOptions(32, 4, 2);
    FrameResult f = renderOnce(scene, o);
    const Seen& s = mat.seen;
    EXPECT_EQ(s.badThread.load(), 0);
    EXPECT_EQ(s.badContext.load(), 0);
    EXPECT_GT(s.points.load(), 1000);
    EXPECT_GT(s.shadowPoints.load(), 100);
    EXPECT_GT(s.continuation.load(), 100); // sampleRay was followed
    EXPECT_GE(s.maxDepth.load(), 2);
    EXPECT_EQ(s.giCalls.load(), 0); // a sampling material gets no GI-source request
    // h spans the fibre: both sides, uniformly for a ray meeting a ribbon.
    long pos = s.hPositive.load(), neg = s.hNegative.load();
    EXPECT_GT(pos, (pos + neg) / 3);
    EXPECT_GT(neg, (pos + neg) / 3);
    double meanAbsH = s.hAbsMicro.load() * 1e-6 / (pos + neg);
    EXPECT_NEAR(meanAbsH, 0.5, 0.1);
    // Every material set-up is counted, shadow-ray ones among them.
    EXPECT_EQ(f.shadingPoints, static_cast<std::uint64_t>(s.points.load() + s.shadowPoints.load()));
    EXPECT_EQ(f.shadowPoints, static_cast<std::uint64_t>(s.shadowPoints.load()));
    EXPECT_EQ(mat.renderBegins, 1);
    EXPECT_EQ(mat.frameBegins, 1);
    EXPECT_EQ(mat.renderEnds, 1);
}

TEST(StandInRenderer, NonSamplingMaterialGetsTheGISource) {
    IsoMaterial mat(0.8f, false);
    Scene scene;
    buildBall(scene, &mat, smallStyle(400));
    RenderOptions o = smallOptions(24, 2);
    o.giDepth = 0;
    double without = meanOf(renderOnce(scene, o).image);
    EXPECT_EQ(mat.seen.continuation.load(), 0);
    o.giDepth = 2;
    double with = meanOf(renderOnce(scene, o).image);
    EXPECT_GT(mat.seen.giCalls.load(), 100);
    EXPECT_GT(mat.seen.continuation.load(), 0); // GI rays shade further strands
    EXPECT_GT(with, without * 1.02);            // interreflection adds light
    EXPECT_EQ(mat.seen.badContext.load(), 0);
}

// An isotropic lossless fibre in a white environment: the direct light sample and the sampled
// continuation share the environment through the power heuristic, so every pixel is 1.
TEST(StandInRenderer, LosslessIsotropicFurnaceIsWhite) {
    IsoMaterial mat(1.0f, true);
    Scene scene;
    buildFurnace(scene, &mat, smallStyle(1500));
    RenderOptions o = smallOptions(24, 64);
    o.maxPathDepth = 1000;
    Stats s = stats(renderOnce(scene, o).image);
    EXPECT_EQ(s.nonFinite, 0);
    EXPECT_NEAR(s.mean, 1.0, 0.01);
    // Per pixel: each bounce adds 0 or 1/2 from either strategy, about 0.08 of noise at 64
    // paths; the band is four of it.
    EXPECT_GT(s.minV, 0.68);
    EXPECT_LT(s.maxV, 1.32);
    EXPECT_GT(mat.seen.points.load(), 2 * 24 * 24 * 64);
    EXPECT_GT(mat.seen.maxDepth.load(), 3);
}

TEST(StandInRenderer, AbsorbingIsotropicFurnaceIsDarker) {
    IsoMaterial lossless(1.0f, true), absorbing(0.5f, true);
    Scene a, b;
    buildFurnace(a, &lossless, smallStyle(600));
    buildFurnace(b, &absorbing, smallStyle(600));
    RenderOptions o = smallOptions(32, 8);
    Image ia = renderOnce(a, o).image, ib = renderOnce(b, o).image;
    double darker = meanOf(ib);
    EXPECT_LT(darker, meanOf(ia) - 0.05);
    EXPECT_GT(darker, 0.5); // half of every hit's light comes back straight away, at least
    for (std::size_t i = 0; i < ia.rgb.size(); ++i)
        ASSERT_LE(ib.rgb[i], 1.0f + 1e-4f) << "pixel value " << i;
}

TEST(StandInRenderer, TransparentStrandsAreInvisible) {
    IsoMaterial mat(0.8f, true, 1.0f);
    Scene hair, empty;
    HairStyle style = smallStyle(500);
    buildSwatch(hair, &mat, style);
    buildSwatch(empty, nullptr, style);
    RenderOptions o = smallOptions(32, 2);
    Image a = renderOnce(hair, o).image, b = renderOnce(empty, o).image;
    EXPECT_GT(mat.seen.points.load(), 100); // the rays did meet the strands
    ASSERT_EQ(a.rgb.size(), b.rgb.size());
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        ASSERT_EQ(a.rgb[i], b.rgb[i]) << "at " << i;
}

TEST(StandInRenderer, HalfTransparentStrandsLetHalfTheBackgroundThrough) {
    // Black fibres in the white furnace: opaque ones show black, half-transparent ones let
    // part of the environment through (less behind several strands).
    IsoMaterial half(0.0f, true, 0.5f), opaque(0.0f, true, 0.0f);
    Scene a, b;
    buildFurnace(a, &half, smallStyle(300));
    buildFurnace(b, &opaque, smallStyle(300));
    RenderOptions o = smallOptions(32, 8);
    double mh = meanOf(renderOnce(a, o).image), mo = meanOf(renderOnce(b, o).image);
    EXPECT_GT(mh, mo + 0.05);
    EXPECT_LT(mh, 1.0);
}

TEST(StandInRenderer, SameSeedSameImageAcrossThreadCounts) {
    IsoMaterial mat(0.7f, true, 0.3f);
    Scene scene;
    buildBall(scene, &mat, smallStyle(300));
    RenderOptions o = smallOptions(32, 2, 2);
    Image a = renderOnce(scene, o).image, b = renderOnce(scene, o).image;
    EXPECT_EQ(a.rgb, b.rgb);
    o.threads = 1;
    Image c = renderOnce(scene, o).image;
    double maxDiff = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        maxDiff = std::max(maxDiff, double(std::fabs(a.rgb[i] - c.rgb[i])));
    EXPECT_LT(maxDiff, 1e-5); // pixels own their random streams: thread count does not matter
    o.seed = 99;
    Image d = renderOnce(scene, o).image;
    EXPECT_NE(a.rgb, d.rgb);
}

// ---------------------------------------------------------------------------------------------
// The library's hair models, driven by the renderer.

TEST(StandInRenderer, ProductionHairLosslessFurnaceIsWhite) {
    LibInstance inst("BRDFHair4", {{"melanin", "0"},
                                   {"pheomelanin", "0"},
                                   {"dye_color", "1,1,1"},
                                   {"diffuse_amount", "0"},
                                   {"trace_depth", "1000"}});
    ASSERT_NE(inst.get(), nullptr);
    Scene scene;
    HairStyle style = smallStyle(1500);
    style.color = {1, 1, 1};
    buildFurnace(scene, inst.get(), style);
    RenderOptions o = smallOptions(24, 32);
    o.maxPathDepth = 1000;
    FrameResult fr = renderOnce(scene, o);
    // Most camera rays meet hair and bounce several times before they leave the ball.
    EXPECT_GT(fr.shadingPoints - fr.shadowPoints, 2u * 24 * 24 * 32);
    Stats s = stats(fr.image);
    EXPECT_EQ(s.nonFinite, 0);
    EXPECT_NEAR(s.mean, 1.0, 0.02);
    // Per pixel: the noise of 32 paths, about 0.07 here, with a margin of five of it.
    EXPECT_GT(s.minV, 0.65);
    EXPECT_LT(s.maxV, 1.35);
}

TEST(StandInRenderer, ProductionHairAbsorbingIsDarkerNeverBrighter) {
    LibInstance lossless("BRDFHair4", {{"melanin", "0"}, {"trace_depth", "1000"}});
    LibInstance dark("BRDFHair4", {{"melanin", "0.6"}, {"trace_depth", "1000"}});
    ASSERT_NE(dark.get(), nullptr);
    Scene a, b;
    HairStyle style = smallStyle(1000);
    style.color = {1, 1, 1};
    buildFurnace(a, lossless.get(), style);
    buildFurnace(b, dark.get(), style);
    RenderOptions o = smallOptions(24, 8);
    o.maxPathDepth = 1000;
    Stats sa = stats(renderOnce(a, o).image), sb = stats(renderOnce(b, o).image);
    EXPECT_LT(sb.mean, sa.mean - 0.05);
    EXPECT_LT(sb.maxV, 1.3); // within the noise band of the white furnace, never above
}

TEST(StandInRenderer, EveryModelGivesFinitePixelsForExtremeParameters) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> extremes = {
        {},
        {{"melanin", "1"}, {"glossiness", "1"}, {"softness", "0"}, {"ior", "10"}, {"trace_depth", "1"}},
        {{"melanin", "0"},
         {"glossiness", "0"},
         {"softness", "1"},
         {"highlight_shift", "-40"},
         {"glint_strength", "1"},
         {"glitter_strength", "1"},
         {"random_tangent", "1"},
         {"diffuse_amount", "1"}},
        {{"specular_power", "0"}, {"specular_color_tex", "1,1,1"}},
        {{"specular_power", "10000"}},
    };
    for (const char* type : kTypes) {
        for (std::size_t e = 0; e < extremes.size(); ++e) {
            LibInstance inst(type);
            if (!inst.get()) continue; // a type this library does not build yet
            // Only the parameters the type has; unknown names are refused by setParameter.
            auto* desc = static_cast<QuorPluginDesc*>(libraryType(type))->paramDesc();
            auto* plugin = static_cast<QuorPluginInterface*>(inst.get()->getInterface(EXT_QUOR_PLUGIN));
            for (auto& [n, v] : extremes[e]) {
                bool known = false;
                for (int k = 0; k < desc->count(); ++k)
                    known = known || n == desc->param(k).name;
                if (known) hairlab::setParameter(*plugin, *desc, n, v, true);
            }
            Scene scene;
            HairStyle style = smallStyle(250);
            style.transparency = {0.2f, 0.0f, 0.6f};
            buildBall(scene, inst.get(), style);
            Stats s = stats(renderOnce(scene, smallOptions(20, 2)).image);
            EXPECT_EQ(s.nonFinite, 0) << type << " parameter set " << e;
            EXPECT_GE(s.minV, 0) << type << " parameter set " << e;
        }
    }
}

TEST(StandInRenderer, SteadyStateAllocatesNothingInTheLibrary) {
    LibInstance inst("BRDFHair4");
    ASSERT_NE(inst.get(), nullptr);
    Scene scene;
    buildSwatch(scene, inst.get(), smallStyle(300));
    Renderer r(scene, smallOptions(24, 2, 2));
    long before = vmallocCalls();
    r.renderFrame();
    long warm = vmallocCalls();
    EXPECT_GT(warm, before); // the first frame fills the pools
    r.renderFrame();
    EXPECT_EQ(vmallocCalls(), warm);
}

TEST(StandInRenderer, ChannelsAreCollectedWhenAsked) {
    LibInstance inst("BRDFHair4");
    ASSERT_NE(inst.get(), nullptr);
    Scene scene;
    buildSwatch(scene, inst.get(), smallStyle(300));
    RenderOptions o = smallOptions(24, 1);
    EXPECT_TRUE(renderOnce(scene, o).channels.empty());
    o.channels = true;
    FrameResult f = renderOnce(scene, o);
    ASSERT_EQ(f.channels.count(131), 1u); // the strand frame the model writes under flag 0x2
    const Image& ch = f.channels.at(131);
    int hair = 0;
    for (std::size_t i = 0; i < ch.rgb.size(); i += 3) {
        ASSERT_TRUE(std::isfinite(ch.rgb[i]) && std::isfinite(ch.rgb[i + 1]) && std::isfinite(ch.rgb[i + 2]));
        ASSERT_LE(std::fabs(ch.rgb[i]), 1.0f + 1e-4f);
        if (ch.rgb[i] != 0 || ch.rgb[i + 1] != 0 || ch.rgb[i + 2] != 0) ++hair;
    }
    EXPECT_GT(hair, 20);
    EXPECT_LT(hair, 24 * 24); // the background carries no channel value
}

TEST(StandInRenderer, PngIsSrgbEncodedAndWritten) {
    EXPECT_EQ(toneMap(0, 1), 0);
    EXPECT_EQ(toneMap(1, 1), 255);
    EXPECT_EQ(toneMap(7, 1), 255);
    EXPECT_EQ(toneMap(std::nanf(""), 1), 0);
    EXPECT_EQ(toneMap(0.5f, 1), 188);  // sRGB of one half
    EXPECT_EQ(toneMap(0.25f, 2), 188); // exposure first
    Image img;
    img.width = 3;
    img.height = 2;
    img.rgb.assign(18, 0.5f);
    std::string path = ::testing::TempDir() + "render_test.png";
    ASSERT_TRUE(writePng(path, img));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char sig[8] = {};
    EXPECT_EQ(std::fread(sig, 1, 8, f), 8u);
    std::fclose(f);
    EXPECT_EQ(sig[1], 'P');
    EXPECT_EQ(sig[2], 'N');
    EXPECT_EQ(sig[3], 'G');
    std::remove(path.c_str());
    EXPECT_FALSE(writePng("/nonexistent-dir/x.png", img));
}

} // namespace
} // namespace quor::render
