// BRDFHair3's instance costs: construction (the three tables' rows) and the lazy normalisation
// of one table cell. Its shading-point costs are in material_bench.cpp.
#include <benchmark/benchmark.h>

#include "artist_hair/brdf_hair3.h"
#include "harness/test_support.h"

namespace {

void BM_ArtistHairConstruction(benchmark::State& state) {
    for (auto _ : state) {
        harness::Instance inst(harness::test::library(), "BRDFHair3");
        benchmark::DoNotOptimize(inst.base());
    }
}
BENCHMARK(BM_ArtistHairConstruction)->Unit(benchmark::kMillisecond);

void BM_ArtistHairNormaliseCell(benchmark::State& state) {
    hair::LobeTable table;
    table.build(hair::LobeTable::Kind::Transmission, 50, 50, 50);
    for (auto _ : state)
        benchmark::DoNotOptimize(table.computeCell(30, 20, 35));
}
BENCHMARK(BM_ArtistHairNormaliseCell)->Unit(benchmark::kMicrosecond);

} // namespace
