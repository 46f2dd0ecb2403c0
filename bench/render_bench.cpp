// The stand-in renderer measured.
//
// BM_RenderLock: throughput per material on one lock of the sheet (registered defaults, the lights),
// 128x128 at 2 samples per pixel on one render thread, pools warm. Counters are per CPU-second:
//   shading_points  every material set-up at a hit (shadow-ray transparency look-ups included)
//   path_points     set-ups on camera, continuation and GI-source rays only
//   rays            rays traced (camera, shadow, continuation, GI source); rays_per_sample: per
//                   camera sample, the lock's background included
//
// BM_SheetNoise: the default sheet (each type in its curated look; /defaults: its registered
// defaults; /light: BRDFHair4 in the blonde, platinum and white presets) at 640x360 and 16
// samples per pixel (at most, adaptive; _fixed: every pixel), rendered with two seeds.
// For each material, over the pixels its lock covers (at least half of a 4x4 grid of rays through
// the pixel meets that lock), noise = RMS of the difference of the two pictures / their mean;
// cpu_s is one render's CPU time summed over its threads; efficiency = 1 / (noise² × cpu_s), the
// measure to compare at equal time (half the noise in the same time is 4×).
//
// BM_GroomBuild/N: a swatch of N strands made (groom_s: the procedural lock) and built into a
// committed scene (scene_s: pieces and Embree's structure) on every core, wall clock; bytes per
// strand the scene holds, its own arrays and what Embree allocated (peak) together.
#include <benchmark/benchmark.h>
#include <embree3/rtcore.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "harness/library.h"
#include "harness/shading_point.h"
#include "lookdev/shot.h"
#include "render/render.h"
#include "render/scene_impl.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace {

using namespace quor::render;

harness::Library& library() {
    static harness::Library lib(getLibDesc());
    return lib;
}

void BM_RenderLock(benchmark::State& state, const char* type) {
    lookdev::Shot shot;
    shot.subject = lookdev::Subject::Swatch;
    shot.looks.emplace_back().type = type;
    shot.render.width = shot.render.height = 128;
    shot.render.spp = 2;
    shot.render.threads = 1;
    std::unique_ptr<lookdev::Composition> swatch = lookdev::compose(library(), shot);
    Scene& scene = swatch->scene;
    RenderOptions o = swatch->options;
    Renderer renderer(scene, o);
    renderer.renderFrame(); // warm pools and lazily filled tables
    double points = 0, shadow = 0, cpu = 0, rays = 0;
    for (auto _ : state) {
        FrameResult f = renderer.renderFrame();
        points += static_cast<double>(f.shadingPoints);
        shadow += static_cast<double>(f.shadowPoints);
        rays += static_cast<double>(f.rays);
        cpu += f.cpuSeconds;
    }
    state.counters["shading_points"] = benchmark::Counter(points / cpu);
    state.counters["path_points"] = benchmark::Counter((points - shadow) / cpu);
    state.counters["rays"] = benchmark::Counter(rays / cpu);
    state.counters["rays_per_sample"] = benchmark::Counter(rays / (state.iterations() * 128.0 * 128 * 2));
}

// The group whose strands cover a pixel (-1: background), from a 4x4 grid of camera rays.
std::vector<int> pixelGroups(const Scene& scene, int width, int height) {
    const Camera& c = scene.camera;
    Float3 fwd = unit(c.target - c.eye), right = unit(cross(fwd, c.up)), up = cross(right, fwd);
    float halfH = std::tan(0.5f * c.fovY * 3.14159265f / 180), halfW = halfH * width / height;
    const Scene::Impl& impl = scene.impl();
    std::vector<int> out(static_cast<std::size_t>(width) * height, -1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::vector<int> hits(impl.groups.size(), 0);
            for (int k = 0; k < 16; ++k) {
                float sx = (x + (k % 4 + 0.5f) / 4) / width * 2 - 1;
                float sy = 1 - (y + (k / 4 + 0.5f) / 4) / height * 2;
                Float3 d = unit(fwd + right * (sx * halfW) + up * (sy * halfH));
                RTCIntersectContext ctx;
                rtcInitIntersectContext(&ctx);
                RTCRayHit rh{};
                rh.ray.org_x = c.eye.x, rh.ray.org_y = c.eye.y, rh.ray.org_z = c.eye.z;
                rh.ray.dir_x = d.x, rh.ray.dir_y = d.y, rh.ray.dir_z = d.z;
                rh.ray.tfar = 1e30f;
                rh.ray.mask = 0xFFFFFFFFu;
                rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
                rtcIntersect1(impl.scene, &ctx, &rh);
                if (rh.hit.geomID != RTC_INVALID_GEOMETRY_ID) ++hits[impl.geomToGroup[rh.hit.geomID]];
            }
            for (std::size_t g = 0; g < hits.size(); ++g)
                if (hits[g] >= 8) out[static_cast<std::size_t>(y) * width + x] = static_cast<int>(g);
        }
    }
    return out;
}

enum class Sheet { Curated, Defaults, Light };

void BM_SheetNoise(benchmark::State& state, Sheet which, bool adaptive) {
    lookdev::Shot shot;
    if (which == Sheet::Light) {
        for (const char* preset : {"blonde", "platinum", "white"}) {
            lookdev::Look& look = shot.looks.emplace_back();
            look.type = lookdev::kPresetType;
            look.preset = look.label = preset;
        }
    } else {
        shot.looks = lookdev::sheetLooks(library(), which == Sheet::Curated);
    }
    shot.render.adaptive = adaptive;
    std::unique_ptr<lookdev::Composition> sheet = lookdev::compose(library(), shot);
    Scene& scene = sheet->scene;
    RenderOptions o = sheet->options;
    std::vector<std::string> names;
    for (const lookdev::Look& l : shot.looks)
        names.push_back(which == Sheet::Light ? l.preset : l.type);
    const std::size_t locks = names.size();
    std::vector<int> groups = pixelGroups(scene, o.width, o.height);
    std::vector<double> noise(locks);
    double cpu = 0, rays = 0, samples = 0;
    for (auto _ : state) {
        std::vector<float> a, b; // the whole picture, hair over its backdrop
        for (auto [seed, out] : {std::pair{1, &a}, std::pair{2, &b}}) {
            o.seed = seed;
            Renderer r(scene, o);
            FrameResult f = r.renderFrame();
            cpu += f.cpuSeconds;
            rays += static_cast<double>(f.rays);
            samples += f.meanSamples;
            for (std::size_t p = 0; p < groups.size(); ++p)
                for (int i = 0; i < 3; ++i)
                    out->push_back(f.hair.data[4 * p + i] + f.backdrop.data[3 * p + i]);
        }
        for (std::size_t g = 0; g < locks; ++g) {
            double diff2 = 0, sum = 0;
            long n = 0;
            for (std::size_t p = 0; p < groups.size(); ++p) {
                if (groups[p] != static_cast<int>(g)) continue;
                for (int i = 0; i < 3; ++i) {
                    double va = a[3 * p + i], vb = b[3 * p + i];
                    diff2 += (va - vb) * (va - vb);
                    sum += 0.5 * (va + vb);
                    ++n;
                }
            }
            noise[g] = n > 0 && sum > 0 ? std::sqrt(diff2 / n) / (sum / n) : 0;
        }
    }
    for (std::size_t g = 0; g < locks; ++g) {
        state.counters["noise_" + names[g]] = noise[g];
        state.counters["efficiency_" + names[g]] = 1 / (noise[g] * noise[g] * cpu / 2);
    }
    state.counters["cpu_s"] = cpu / 2;
    state.counters["mean_spp"] = samples / 2;
    state.counters["rays_per_sample"] = rays / (2.0 * o.width * o.height * o.spp);
}

std::atomic<long long> embreeBytes{0}, embreePeak{0};
bool countEmbree(void*, ssize_t bytes, bool) {
    long long now = embreeBytes += bytes;
    for (long long peak = embreePeak.load(); now > peak && !embreePeak.compare_exchange_weak(peak, now);)
        ;
    return true;
}

void BM_GroomBuild(benchmark::State& state) {
    harness::Instance inst(library(), "BRDFHair4");
    HairStyle style;
    style.strands = static_cast<int>(state.range(0));
    double groom = 0, build = 0, bytes = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        std::vector<Strand> strands = makeLock(0, style);
        auto t1 = std::chrono::steady_clock::now();
        Scene scene;
        rtcSetDeviceMemoryMonitorFunction(scene.impl().device, countEmbree, nullptr);
        embreeBytes = 0, embreePeak = 0;
        scene.addGroup(inst.base(), strands, groomScale(style.strands, kLockStrands));
        scene.commit();
        auto t2 = std::chrono::steady_clock::now();
        groom += std::chrono::duration<double>(t1 - t0).count();
        build += std::chrono::duration<double>(t2 - t1).count();
        const auto& g = scene.impl().groups[0];
        bytes = double(g.lineVerts.size() * 4 + g.curveVerts.size() * 4 + g.curveColors.size() * 4 +
                       g.pieces.size() * sizeof(g.pieces[0]) + g.strands.size() * sizeof(g.strands[0])) +
                double(embreePeak.load());
    }
    state.counters["groom_s"] = groom / state.iterations();
    state.counters["scene_s"] = build / state.iterations();
    state.counters["bytes_per_strand"] = bytes / style.strands;
}

BENCHMARK(BM_GroomBuild)
    ->Arg(2000)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair, "BRDFHair")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair2, "BRDFHair2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair3, "BRDFHair3")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderLock, BRDFHair4, "BRDFHair4")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SheetNoise, curated, Sheet::Curated, true)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SheetNoise, curated_fixed, Sheet::Curated, false)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_SheetNoise, defaults, Sheet::Defaults, true)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SheetNoise, light, Sheet::Light, true)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SheetNoise, light_fixed, Sheet::Light, false)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
