// The stand-in renderer: procedural hair as Embree curves, a camera, a distant light and an
// environment light, and a path tracer that drives hair materials only through the host
// interfaces (instances, BSDF factories, samplers), exactly as a production host does.
//
// Conventions the integrator keeps with the materials:
//   - eval returns π × (BSDF × cosine) × light colour, so direct light is eval / (π·pdf);
//   - probabilities exchanged with materials (the light probability passed to eval, the
//     probability sampleRay hands back) are 2π × the solid-angle density;
//   - sampleRay's path weight is the throughput factor of the continuation ray;
//   - transparency is the shading result a sampler's traceForward writes; light and paths
//     pass through a strand with that colour.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quor/plugin.h"
#include "quor/types.h"
#include "render/vec.h"

namespace quor::render {

// One strand: control points of a round linear curve (x, y, z, radius) from root to tip.
struct Strand {
    std::vector<float> points; // 4 floats per point, at least two points
    Float3 color{0.3f, 0.2f, 0.12f};
    Float3 transparency{0, 0, 0};
};

struct Camera {
    Float3 eye{0, 0, 5}, target{0, 0, 0}, up{0, 1, 0};
    float fovY = 40; // degrees
};

struct DistantLight {
    bool on = false;
    Float3 direction{0, 1, 0}; // towards the light
    Float3 color{1, 1, 1};     // irradiance across a surface facing the light
};

// Environment radiance: a uniform colour, or a sky blending zenith, horizon and ground.
struct Environment {
    bool sky = false;
    Float3 color{1, 1, 1}; // the uniform radiance (sky: unused)
    Float3 zenith{0.5f, 0.55f, 0.65f}, horizon{0.35f, 0.33f, 0.3f}, ground{0.06f, 0.055f, 0.05f};
    Float3 radiance(const Float3& dir) const;
};

// A scene: hair geometry grouped by material, lights and camera. Materials are plug-in
// instances owned by the caller.
class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Adds strands shaded by the instance; returns the group index. Strand indices reported
    // to the material count from 0 within the group.
    int addGroup(PluginBase* instance, const std::vector<Strand>& strands);
    // Builds the acceleration structure; call once after the last group.
    void commit();

    int groupCount() const;
    PluginBase* groupInstance(int group) const;
    std::size_t segmentCount() const;

    Camera camera;
    DistantLight sun;
    Environment env;

    struct Impl;
    Impl& impl() const { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

// Procedural hair.
struct HairStyle {
    int strands = 2500;
    int segments = 12;
    std::uint64_t seed = 7;
    Float3 color{0.32f, 0.2f, 0.11f};
    Float3 transparency{0, 0, 0};
};

// A hanging lock centred at x, about 1 wide and 2.4 tall.
std::vector<Strand> makeLock(float x, const HairStyle& style);
// A ball of curly hair of the given radius at the origin (strands grow outward).
std::vector<Strand> makeCurlyBall(float radius, const HairStyle& style);

// The named scenes. Each leaves the scene committed with camera and lights set.
//   sheet:   one lock per instance, side by side, key light and sky
//   swatch:  one lock
//   ball:    a curly hair ball under key light and sky
//   furnace: a hair ball inside a uniform white environment, nothing else
void buildSheet(Scene& scene, const std::vector<PluginBase*>& instances, const HairStyle& style);
void buildSwatch(Scene& scene, PluginBase* instance, const HairStyle& style);
void buildBall(Scene& scene, PluginBase* instance, const HairStyle& style);
void buildFurnace(Scene& scene, PluginBase* instance, const HairStyle& style);

struct RenderOptions {
    int width = 320, height = 240;
    int spp = 4;
    int threads = 1;
    std::uint64_t seed = 1;
    int maxPathDepth = 1000; // continuation rays of sampling materials (a cap beyond the materials' own)
    int giDepth = 2;         // nested GI-source rays for materials that do not sample
    bool channels = false;   // collect the render channels materials write
    std::ostream* progress = nullptr; // progress bar for renders longer than a second
};

// A linear RGB image, rows top to bottom.
struct Image {
    int width = 0, height = 0;
    std::vector<float> rgb;
    Float3 at(int x, int y) const {
        const float* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return {p[0], p[1], p[2]};
    }
};

struct FrameResult {
    Image image;
    std::map<int, Image> channels;   // by channel alias, the first three values written
    double seconds = 0;              // wall clock
    double cpuSeconds = 0;           // summed over the render threads, tiles only
    std::uint64_t shadingPoints = 0; // material set-ups at hits (newBSDF calls), shadow rays included
    std::uint64_t shadowPoints = 0;  // of those, set-ups that only answered a shadow ray's transparency
    int threads = 1;                 // render threads used
};

// Drives the scene's instances through one render: renderBegin on construction (with the
// thread count), frameBegin per frame, renderEnd on destruction.
class Renderer {
  public:
    Renderer(Scene& scene, const RenderOptions& options);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    FrameResult renderFrame();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// PNG output: exposure, clipping to [0, 1] and sRGB encoding (8 bits).
// A vector channel is mapped from [-1, 1] to [0, 1] instead. Returns false on I/O failure.
bool writePng(const std::string& path, const Image& image, float exposure = 1.0f, bool vectorData = false);
std::uint8_t toneMap(float linear, float exposure);

} // namespace quor::render
