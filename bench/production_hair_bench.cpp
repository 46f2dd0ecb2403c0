// BRDFHair4: per-point set-up, eval per light direction, sampleRay, and one whole shading
// vertex, single-threaded on a warm pool with default parameters at depth 0 on a strand.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "frame/descriptor.h"
#include "production_hair/brdf_hair4.h"
#include "quor/quor.h"

namespace {

struct Hair4Bench {
    quor::PluginDesc* desc = nullptr;
    hair::BRDFHair4* hair = nullptr;
    quor::QuorRenderer renderer;
    quor::SimpleSceneObject scene;
    quor::SimpleStrandData strand;
    quor::RenderSettings settings;
    quor::QuorContext ctx, newCtx;
    quor::RayRecord ray;
    quor::Vector lights[64];

    // Variant 0: defaults; 1: the plain path (no glint, no glitter, no variation); 2: no glitter
    // pattern; 3: no glint variation along the strand.
    explicit Hair4Bench(int variant = 0) {
        for (hair::DescRegistry::Node* n = hair::DescRegistry::head; n; n = n->next)
            if (std::strcmp(n->desc->getName(), "BRDFHair4") == 0) desc = n->desc;
        hair = static_cast<hair::BRDFHair4*>(desc->newPlugin(nullptr));
        auto set = [&](const char* name, float v) { hair->paramList()->getParam(name)->setFloat(v); };
        if (variant == 1) set("glint_strength", 0.0f);
        if (variant == 1 || variant == 2) set("glitter_strength", 0.0f);
        if (variant == 1 || variant == 3) set("glint_variation", 0.0f);
        renderer.threadCount = 1;
        renderer.scene = &scene;
        hair->renderBegin(&renderer);
        hair->frameBegin(&renderer);
        strand.record.tangent = {0, 1, 0, 0};
        strand.record.h = 0.3f;
        strand.index = 17;
        strand.length = 2.0f;
        strand.position = 0.4f;
        ctx.surfaceData = &strand;
        ctx.settings = &settings;
        ctx.rayDir = {0.1f, -0.3f, -0.95f, 0};
        ctx.normal = {0, 0, 1, 0};
        newCtx.ray = &ray;
        // Light directions spread over the sphere (a spherical Fibonacci set).
        for (int i = 0; i < 64; ++i) {
            float z = 1.0f - (2.0f * i + 1.0f) / 64.0f;
            float r = std::sqrt(1.0f - z * z), phi = 2.3999632f * static_cast<float>(i);
            lights[i] = {r * std::cos(phi), z, r * std::sin(phi), 0};
        }
        // Warm the pool.
        hair->deleteBSDF(ctx, hair->newBSDF(ctx, 0));
    }
    ~Hair4Bench() {
        hair->renderEnd(&renderer);
        desc->deletePlugin(hair);
    }
};

void BM_Hair4Setup(benchmark::State& state) {
    Hair4Bench b(static_cast<int>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        b.strand.index = i++ & 1023; // a new strand every time: no value carried over
        quor::BSDFSampler* s = b.hair->newBSDF(b.ctx, 0);
        benchmark::DoNotOptimize(s);
        b.hair->deleteBSDF(b.ctx, s);
    }
}
BENCHMARK(BM_Hair4Setup)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->ArgName("variant");

void BM_Hair4Eval(benchmark::State& state) {
    Hair4Bench b;
    quor::BSDFSampler* s = b.hair->newBSDF(b.ctx, 0);
    quor::BRDFSampler* brdf = s->getBRDF(0);
    int i = 0;
    for (auto _ : state) {
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        benchmark::DoNotOptimize(brdf->eval(b.ctx, b.lights[i++ & 63], light, unshadowed, 0.5f, 3));
    }
    b.hair->deleteBSDF(b.ctx, s);
}
BENCHMARK(BM_Hair4Eval);

void BM_Hair4SampleRay(benchmark::State& state) {
    Hair4Bench b;
    quor::BSDFSampler* s = b.hair->newBSDF(b.ctx, 0);
    quor::BRDFSampler* brdf = s->getBRDF(0);
    unsigned i = 0;
    for (auto _ : state) {
        // A cheap low-discrepancy walk over the four random numbers.
        ++i;
        b.newCtx.dmc[1] = static_cast<float>((i * 2654435761u) >> 8) * 5.9604645e-8f;
        b.newCtx.dmc[2] = static_cast<float>((i * 2246822519u) >> 8) * 5.9604645e-8f;
        b.newCtx.dmc[3] = static_cast<float>((i * 3266489917u) >> 8) * 5.9604645e-8f;
        float u = static_cast<float>((i * 668265263u) >> 8) * 5.9604645e-8f;
        benchmark::DoNotOptimize(brdf->sampleRay(b.ctx, b.newCtx, u, 0));
    }
    b.hair->deleteBSDF(b.ctx, s);
}
BENCHMARK(BM_Hair4SampleRay);

// One shading vertex as a path tracer runs it: set-up, four light samples, one continuation.
void BM_Hair4ShadingVertex(benchmark::State& state) {
    Hair4Bench b;
    unsigned i = 0;
    for (auto _ : state) {
        ++i;
        b.strand.index = static_cast<int>(i & 1023);
        quor::BSDFSampler* s = b.hair->newBSDF(b.ctx, 0);
        quor::BRDFSampler* brdf = s->getBRDF(0);
        for (int l = 0; l < 4; ++l) {
            quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
            benchmark::DoNotOptimize(
                brdf->eval(b.ctx, b.lights[(i * 4 + l) & 63], light, unshadowed, 0.5f, 3));
        }
        b.newCtx.dmc[1] = static_cast<float>((i * 2654435761u) >> 8) * 5.9604645e-8f;
        b.newCtx.dmc[2] = static_cast<float>((i * 2246822519u) >> 8) * 5.9604645e-8f;
        b.newCtx.dmc[3] = static_cast<float>((i * 3266489917u) >> 8) * 5.9604645e-8f;
        benchmark::DoNotOptimize(
            brdf->sampleRay(b.ctx, b.newCtx, static_cast<float>((i * 668265263u) >> 8) * 5.9604645e-8f, 0));
        b.hair->deleteBSDF(b.ctx, s);
    }
}
BENCHMARK(BM_Hair4ShadingVertex);

} // namespace
