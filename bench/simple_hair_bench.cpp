// BRDFHair: one host shading round on a warm pool, and eval alone.
#include <benchmark/benchmark.h>

#include <memory>

#include "probe.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace {

hairlab::PointOptions options() {
    hairlab::PointOptions o;
    o.strandColor = {0.4f, 0.3f, 0.2f};
    o.sets = {{"specular_color_tex", "1,1,1"}, {"specular_power", "20"}};
    return o;
}

struct SimpleHairPoint : hairlab::TypedPoint {
    quor::BSDFInterface* bsdf;
    SimpleHairPoint() : TypedPoint(getLibDesc(), "BRDFHair", options()) {
        bsdf = static_cast<quor::BSDFInterface*>(probe->instance()->getInterface(quor::EXT_BSDF));
    }
};

void BM_SimpleHairShadingRound(benchmark::State& state) {
    SimpleHairPoint p;
    quor::QuorContext& ctx = p.probe->context();
    const quor::Vector L{0.3f, 0.5f, 0.81f, 0};
    for (auto _ : state) {
        quor::BSDFSampler* s = p.bsdf->newBSDF(ctx, 0);
        quor::BRDFSampler* b = s->getBRDF(0);
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        benchmark::DoNotOptimize(b->eval(ctx, L, light, unshadowed, 1.0f, 3));
        p.bsdf->deleteBSDF(ctx, s);
    }
}
BENCHMARK(BM_SimpleHairShadingRound);

void BM_SimpleHairEval(benchmark::State& state) {
    SimpleHairPoint p;
    quor::QuorContext& ctx = p.probe->context();
    quor::BRDFSampler* b = p.probe->brdf();
    const quor::Vector L{0.3f, 0.5f, 0.81f, 0};
    for (auto _ : state) {
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        benchmark::DoNotOptimize(b->eval(ctx, L, light, unshadowed, 1.0f, 3));
    }
}
BENCHMARK(BM_SimpleHairEval);

} // namespace
