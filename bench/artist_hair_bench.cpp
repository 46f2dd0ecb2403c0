// BRDFHair3 on a warm instance: eval for one light, sampleRay, setupSampler, instance
// construction (the three tables' rows) and the lazy normalisation of one cell.
#include <benchmark/benchmark.h>

#include <memory>

#include "artist_hair/brdf_hair3.h"
#include "probe.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace {

// The parameter table's defaults, connected as constant textures.
hairlab::PointOptions defaultPoint() {
    hairlab::PointOptions o;
    o.type = "BRDFHair3";
    o.sets = {{"overall_color", "0.9,0.9,0.9"},          {"primary_specular", "0.2,0.2,0.2"},
              {"primary_glossiness", "0.8"},             {"secondary_specular", "0.2,0.2,0.2"},
              {"secondary_glossiness", "0.5"},           {"transmission", "0.2,0.2,0.2"},
              {"transmission_glossiness_length", "0.8"}, {"transmission_glossiness_width", "0.8"},
              {"diffuse_color", "0.3,0.2,0.1"}};
    o.dir = {0.3f, 0.2f, -0.93f};
    o.contextFlags = 0x20;
    return o;
}

struct ArtistHairPoint {
    quor::QuorPluginHost host;
    std::unique_ptr<hairlab::ProbePoint> probe;
    quor::BSDFInterface* bsdf;
    ArtistHairPoint() {
        quor::PluginDesc* d = hairlab::findType(getLibDesc(), "BRDFHair3");
        d->registerPlugin(&host);
        probe = std::make_unique<hairlab::ProbePoint>(d, host.params(d), defaultPoint());
        bsdf = static_cast<quor::BSDFInterface*>(probe->instance()->getInterface(quor::EXT_BSDF));
        probe->shade();
    }
};

void BM_ArtistHairEval(benchmark::State& state) {
    ArtistHairPoint p;
    quor::QuorContext& ctx = p.probe->context();
    quor::BRDFSampler* b = p.probe->brdf();
    const quor::Vector L{0.3f, 0.5f, 0.81f, 0};
    quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
    b->eval(ctx, L, light, unshadowed, 1.0f, 3);  // warm: the cells of this view are filled
    for (auto _ : state) {
        light = unshadowed = {1, 1, 1, 1};
        benchmark::DoNotOptimize(b->eval(ctx, L, light, unshadowed, 1.0f, 3));
    }
}
BENCHMARK(BM_ArtistHairEval);

void BM_ArtistHairSampleRay(benchmark::State& state) {
    ArtistHairPoint p;
    quor::QuorContext& ctx = p.probe->context();
    quor::BRDFSampler* b = p.probe->brdf();
    quor::QuorContext& nc = p.probe->newRayContext(0.37f, 0.5f, 0.5f);
    for (float u = 0.0f; u < 1.0f; u += 0.01f) b->sampleRay(ctx, nc, u, 0);  // warm
    float u = 0.0f;
    for (auto _ : state) {
        u += 0.618034f;
        if (u >= 1.0f) u -= 1.0f;
        nc.dmc[1] = u * 0.7f + 0.1f;
        benchmark::DoNotOptimize(b->sampleRay(ctx, nc, u, 0));
    }
}
BENCHMARK(BM_ArtistHairSampleRay);

void BM_ArtistHairSetupSampler(benchmark::State& state) {
    ArtistHairPoint p;
    quor::QuorContext& ctx = p.probe->context();
    for (auto _ : state) {
        quor::BSDFSampler* s = p.bsdf->newBSDF(ctx, 0);
        benchmark::DoNotOptimize(s);
        p.bsdf->deleteBSDF(ctx, s);
    }
}
BENCHMARK(BM_ArtistHairSetupSampler);

void BM_ArtistHairConstruction(benchmark::State& state) {
    quor::PluginDesc* d = hairlab::findType(getLibDesc(), "BRDFHair3");
    for (auto _ : state) {
        quor::PluginBase* inst = d->newPlugin(nullptr);
        benchmark::DoNotOptimize(inst);
        d->deletePlugin(inst);
    }
}
BENCHMARK(BM_ArtistHairConstruction)->Unit(benchmark::kMillisecond);

void BM_ArtistHairNormaliseCell(benchmark::State& state) {
    hair::LobeTable table;
    table.build(hair::LobeTable::Kind::Transmission, 50, 50, 50);
    for (auto _ : state) benchmark::DoNotOptimize(table.computeCell(30, 20, 35));
}
BENCHMARK(BM_ArtistHairNormaliseCell)->Unit(benchmark::kMicrosecond);

} // namespace
