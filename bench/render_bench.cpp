// Rendering throughput of the stand-in path tracer per material: the sheet's lock of hair
// (2500 strands, same lights), default parameters, 128x128 at 2 samples per pixel on one render
// thread, pools warm. Counters are per CPU-second of that thread:
//   shading_points  every material set-up at a hit (shadow-ray transparency look-ups included)
//   path_points     set-ups on camera, continuation and GI-source rays only
#include <benchmark/benchmark.h>

#include <string>

#include "quor/quor.h"
#include "render/render.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace {

quor::PluginDesc* findDesc(const char* name) {
    struct Finder final : quor::PluginDescCallback {
        const char* name;
        quor::PluginDesc* found = nullptr;
        int onPluginDesc(quor::PluginDesc* d) override {
            if (std::string(name) == d->getName()) found = d;
            return 1;
        }
    } f;
    f.name = name;
    getLibDesc()->enumPluginDescs(&f);
    return f.found;
}

void BM_RenderLock(benchmark::State& state, const char* type) {
    quor::PluginDesc* desc = findDesc(type);
    quor::PluginBase* inst = desc ? desc->newPlugin(nullptr) : nullptr;
    if (!inst) {
        state.SkipWithError("no instance of this type");
        return;
    }
    {
        quor::render::Scene scene;
        quor::render::buildSwatch(scene, inst, quor::render::HairStyle{});
        quor::render::RenderOptions o;
        o.width = 128;
        o.height = 128;
        o.spp = 2;
        o.threads = 1;
        quor::render::Renderer renderer(scene, o);
        renderer.renderFrame(); // warm pools and lazily filled tables
        double points = 0, shadow = 0;
        for (auto _ : state) {
            quor::render::FrameResult f = renderer.renderFrame();
            points += static_cast<double>(f.shadingPoints);
            shadow += static_cast<double>(f.shadowPoints);
        }
        state.counters["shading_points"] = benchmark::Counter(points, benchmark::Counter::kIsRate);
        state.counters["path_points"] = benchmark::Counter(points - shadow, benchmark::Counter::kIsRate);
    }
    desc->deletePlugin(inst);
}

BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair, "BRDFHair")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair2, "BRDFHair2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair3, "BRDFHair3")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair4, "BRDFHair4")->Unit(benchmark::kMillisecond);

} // namespace
