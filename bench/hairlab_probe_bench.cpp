// hairlab's probe commands: the cost of one whole command run in-process (load, register,
// instance, one shading round, output) and the throughput of the furnace estimator.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "harness/estimators.h"
#include "harness/test_support.h"

namespace {

// Runs hairlab with the library built beside the benchmark binary.
int runHairlab(const std::vector<const char*>& args) {
    std::ostringstream out, err;
    return hairlab::run(static_cast<int>(args.size()), args.data(), out, err);
}

void BM_HairlabEvalCommand(benchmark::State& state) {
    const std::vector<const char*> args = {"hairlab",      "eval",           "--type",     "BRDFHair4",
                                           "--json",       "--light",        "0,0,1",      "--light",
                                           "0.3,0.5,0.81", "--strand-color", "0.4,0.3,0.2"};
    for (auto _ : state) {
        int status = runHairlab(args);
        if (status != 0) state.SkipWithError("hairlab eval failed");
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(BM_HairlabEvalCommand)->Unit(benchmark::kMicrosecond);

void BM_HairlabBadInput(benchmark::State& state) {
    const std::vector<const char*> args = {"hairlab", "eval", "--type", "BRDFHair4", "--light", "0,0,0"};
    for (auto _ : state)
        benchmark::DoNotOptimize(runHairlab(args));
}
BENCHMARK(BM_HairlabBadInput)->Unit(benchmark::kMicrosecond);

// One furnace estimate: samples directions through eval plus samples calls of sampleRay.
void BM_FurnaceProductionHair(benchmark::State& state) {
    harness::PointOptions o;
    o.type = "BRDFHair4";
    o.sets = {{"melanin", "0"}};
    harness::ShadingPoint point(harness::test::library(), o);
    const int samples = static_cast<int>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(harness::furnace(point, samples, 1).eval.r);
    state.SetItemsProcessed(state.iterations() * 2 * samples);
}
BENCHMARK(BM_FurnaceProductionHair)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

} // namespace
