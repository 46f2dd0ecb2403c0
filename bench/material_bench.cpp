// Every material's shading-point costs on one thread, a warm pool, through the host
// interfaces: set-up (newBSDF + deleteBSDF, a new strand each time), eval per light over lights
// spread on the sphere, sampleRay over a low-discrepancy walk of its numbers, and one whole
// shading vertex (set-up, four lights, one continuation). BRDFHair4 runs at its defaults
// (variant 0) and three cheaper looks: 1 no glint, glitter or variation; 2 no glitter; 3 no
// glint variation along the strand.
#include <benchmark/benchmark.h>

#include <cmath>

#include "harness/test_support.h"

namespace {

using namespace harness;

harness::PointOptions pointOf(const std::string& type, int variant) {
    PointOptions o;
    o.type = type;
    o.sets = test::registeredDefaults(type);
    if (type == "BRDFHair4") {
        if (variant == 1) o.sets.push_back({"glint_strength", "0"});
        if (variant == 1 || variant == 2) o.sets.push_back({"glitter_strength", "0"});
        if (variant == 1 || variant == 3) o.sets.push_back({"glint_variation", "0"});
    }
    o.dir = {0.1f, -0.3f, -0.95f};
    o.normal = Vec3{0, 0, 1};
    o.h = 0.3f;
    o.strandColor = {0.4f, 0.3f, 0.2f};
    o.strandIndex = 17;
    o.strandLength = 2;
    o.strandPosition = 0.4f;
    o.contextFlags = quor::CTX_SKIP_BELOW_SURFACE;
    return o;
}

struct Bench {
    ShadingPoint p;
    quor::Vector lights[64];
    Bench(const std::string& type, int variant) : p(test::library(), pointOf(type, variant)) {
        // Light directions spread over the sphere (a spherical Fibonacci set).
        for (int i = 0; i < 64; ++i) {
            float z = 1.0f - (2.0f * i + 1.0f) / 64.0f;
            float r = std::sqrt(1.0f - z * z), phi = 2.3999632f * static_cast<float>(i);
            lights[i] = {r * std::cos(phi), z, r * std::sin(phi), 0};
        }
        // Warm the pool and any lazily filled tables of this view.
        p.shade();
        for (const quor::Vector& L : lights)
            p.eval(L, 0.5f);
        for (int i = 0; i < 256; ++i)
            sample(i);
    }
    quor::BSDFInterface& factory() { return p.instance().bsdf(); }
    float eval(int i) {
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        return p.brdf()->eval(p.context(), lights[i & 63], light, unshadowed, 0.5f, quor::EVAL_ALL).g;
    }
    // A cheap low-discrepancy walk over the four random numbers.
    float sample(unsigned i) {
        quor::QuorContext& nc = p.rayContext();
        nc.dmc[1] = static_cast<float>((i * 2654435761u) >> 8) * 5.9604645e-8f;
        nc.dmc[2] = static_cast<float>((i * 2246822519u) >> 8) * 5.9604645e-8f;
        nc.dmc[3] = static_cast<float>((i * 3266489917u) >> 8) * 5.9604645e-8f;
        return p.brdf()->sampleRay(p.context(), nc, static_cast<float>((i * 668265263u) >> 8) * 5.9604645e-8f,
                                   0);
    }
};

void setup(benchmark::State& state, const char* type) {
    Bench b(type, static_cast<int>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        b.p.strand().index = i++ & 1023; // a new strand every time: no value carried over
        quor::BSDFSampler* s = b.factory().newBSDF(b.p.context(), 0);
        benchmark::DoNotOptimize(s);
        b.factory().deleteBSDF(b.p.context(), s);
    }
}

void eval(benchmark::State& state, const char* type) {
    Bench b(type, 0);
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(b.eval(i++));
}

void sampleRay(benchmark::State& state, const char* type) {
    Bench b(type, 0);
    unsigned i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(b.sample(++i));
}

void shadingVertex(benchmark::State& state, const char* type) {
    Bench b(type, 0);
    unsigned i = 0;
    for (auto _ : state) {
        ++i;
        b.p.strand().index = static_cast<int>(i & 1023);
        b.p.shade();
        for (int l = 0; l < 4; ++l)
            benchmark::DoNotOptimize(b.eval(static_cast<int>(i * 4 + l)));
        benchmark::DoNotOptimize(b.sample(i));
    }
}

// The Python module's loop in C++: per point, move it (a new view and strand offset), set it
// up and evaluate its lights (the range argument: 1 or 8). The figure to hold the binding
// against, per point.
void placeAndEval(benchmark::State& state, const char* type) {
    Bench b(type, 0);
    PointOptions o = b.p.options();
    const int lights = static_cast<int>(state.range(0));
    quor::Vector L[8]; // a spherical Fibonacci set of eight, as bench/python_eval.py uses
    for (int l = 0; l < 8; ++l) {
        float z = 1.0f - (2.0f * l + 1.0f) / 8.0f;
        float r = std::sqrt(1.0f - z * z), phi = 2.3999632f * static_cast<float>(l);
        L[l] = {r * std::cos(phi), z, r * std::sin(phi), 0};
    }
    unsigned i = 0;
    for (auto _ : state) {
        ++i;
        const float t = static_cast<float>(i & 1023) / 1024.0f;
        o.dir = {0.6f * t - 0.3f, -0.3f, -0.95f};
        o.h = 2.0f * t - 1.0f;
        b.p.place(o);
        if (!b.p.shade()) continue;
        for (int l = 0; l < lights; ++l) {
            quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
            benchmark::DoNotOptimize(
                b.p.brdf()->eval(b.p.context(), L[l], light, unshadowed, 1.0f, quor::EVAL_ALL));
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(setup, BM_Hair4Setup, "BRDFHair4")
    ->Name("BM_Hair4Setup")
    ->DenseRange(0, 3)
    ->ArgName("variant");
BENCHMARK_CAPTURE(eval, BM_Hair4Eval, "BRDFHair4")->Name("BM_Hair4Eval");
BENCHMARK_CAPTURE(sampleRay, BM_Hair4SampleRay, "BRDFHair4")->Name("BM_Hair4SampleRay");
BENCHMARK_CAPTURE(shadingVertex, BM_Hair4ShadingVertex, "BRDFHair4")->Name("BM_Hair4ShadingVertex");
BENCHMARK_CAPTURE(placeAndEval, BM_Hair4PlaceAndEval, "BRDFHair4")
    ->Name("BM_Hair4PlaceAndEval")
    ->Arg(1)
    ->Arg(8)
    ->ArgName("lights");
BENCHMARK_CAPTURE(setup, BM_Hair3Setup, "BRDFHair3")->Name("BM_Hair3Setup")->Arg(0);
BENCHMARK_CAPTURE(eval, BM_Hair3Eval, "BRDFHair3")->Name("BM_Hair3Eval");
BENCHMARK_CAPTURE(sampleRay, BM_Hair3SampleRay, "BRDFHair3")->Name("BM_Hair3SampleRay");
BENCHMARK_CAPTURE(shadingVertex, BM_Hair3ShadingVertex, "BRDFHair3")->Name("BM_Hair3ShadingVertex");
BENCHMARK_CAPTURE(setup, BM_Hair2Setup, "BRDFHair2")->Name("BM_Hair2Setup")->Arg(0);
BENCHMARK_CAPTURE(eval, BM_Hair2Eval, "BRDFHair2")->Name("BM_Hair2Eval");
BENCHMARK_CAPTURE(setup, BM_HairSetup, "BRDFHair")->Name("BM_HairSetup")->Arg(0);
BENCHMARK_CAPTURE(eval, BM_HairEval, "BRDFHair")->Name("BM_HairEval");

} // namespace
