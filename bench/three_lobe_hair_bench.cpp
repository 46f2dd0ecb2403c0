// BRDFHair2 shading costs, with the instance driven through the library's entry like a host.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "probe.h"
#include "quor/quor.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace {

// A default BRDFHair2 instance, rendering on one thread, and a shading point on a strand
// along +y seen from +z.
struct ThreeLobeScene {
    quor::PluginDesc* desc = nullptr;
    quor::PluginBase* instance = nullptr;
    quor::QuorPluginInterface* plugin = nullptr;
    quor::BSDFInterface* bsdf = nullptr;
    quor::QuorRenderer renderer;
    quor::RenderSettings settings;
    quor::SimpleStrandData strand;
    quor::QuorContext ctx;

    ThreeLobeScene() {
        desc = hairlab::findType(getLibDesc(), "BRDFHair2");
        instance = desc->newPlugin(nullptr);
        plugin = static_cast<quor::QuorPluginInterface*>(instance->getInterface(quor::EXT_QUOR_PLUGIN));
        bsdf = static_cast<quor::BSDFInterface*>(instance->getInterface(quor::EXT_BSDF));
        renderer.threadCount = 1;
        plugin->renderBegin(&renderer);
        plugin->frameBegin(&renderer);
        strand.record.color[0] = 0.6f;
        strand.record.color[1] = 0.4f;
        strand.record.color[2] = 0.2f;
        strand.record.tangent = {0, 1, 0, 0};
        ctx.rayDir = {0, -0.2f, -0.98f, 0};
        ctx.normal = {0, 0, 1, 0};
        ctx.surfaceData = &strand;
        ctx.settings = &settings;
    }
    ~ThreeLobeScene() {
        plugin->renderEnd(&renderer);
        desc->deletePlugin(instance);
    }
};

// One light through the three lobes: up to seven exit paths and the glint's attenuation.
void BM_ThreeLobeHairEval(benchmark::State& state) {
    ThreeLobeScene scene;
    quor::BSDFSampler* s = scene.bsdf->newBSDF(scene.ctx, 0);
    quor::BRDFSampler* brdf = s->getBRDF(0);
    // Lights around the strand, so the TT and TRT root counts vary as in a render.
    quor::Vector lights[8];
    for (int i = 0; i < 8; ++i) {
        const float a = 0.4f * i, t = 0.15f * (i % 3) - 0.1f;
        lights[i] = {std::cos(t) * std::sin(a), std::sin(t), std::cos(t) * std::cos(a), 0};
    }
    int i = 0;
    for (auto _ : state) {
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        quor::Color r = brdf->eval(scene.ctx, lights[i++ & 7], light, unshadowed, 1.0f, 3);
        benchmark::DoNotOptimize(r);
    }
    scene.bsdf->deleteBSDF(scene.ctx, s);
}
BENCHMARK(BM_ThreeLobeHairEval);

// newBSDF (pooled sampler + setupSampler) and deleteBSDF on a warm pool.
void BM_ThreeLobeHairSetupSampler(benchmark::State& state) {
    ThreeLobeScene scene;
    scene.bsdf->deleteBSDF(scene.ctx, scene.bsdf->newBSDF(scene.ctx, 0));
    for (auto _ : state) {
        quor::BSDFSampler* s = scene.bsdf->newBSDF(scene.ctx, 0);
        benchmark::DoNotOptimize(s);
        scene.bsdf->deleteBSDF(scene.ctx, s);
    }
}
BENCHMARK(BM_ThreeLobeHairSetupSampler);

} // namespace
