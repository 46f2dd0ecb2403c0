// The stand-in renderer: hair as smooth curves (traced as round Embree pieces that follow them
// within a tenth of their radius, shaded on the curve), a camera that frames any aspect,
// distant lights and an environment, and a path tracer that drives hair materials only through
// the host interfaces (instances, BSDF factories, samplers), exactly as a production host does.
//
// Conventions the integrator keeps with the materials:
//   - eval returns π × (BSDF × cosine) × light colour, so direct light is eval / (π·pdf);
//   - probabilities exchanged with materials (the light probability passed to eval, the
//     probability sampleRay hands back) are 2π × the solid-angle density;
//   - sampleRay's path weight is the throughput factor of the continuation ray;
//   - transparency is the shading result a sampler's traceForward writes; light and paths
//     pass through a strand with that colour.
#pragma once
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "quor/plugin.h"
#include "quor/types.h"
#include "render/vec.h"

namespace quor::render {

// One strand: control points (x, y, z, radius) from root to tip, at least two. The curve is a
// Catmull-Rom spline through them, so it passes through every point.
struct Strand {
    std::vector<float> points;       // 4 floats per point
    Float3 color{0.3f, 0.2f, 0.12f}; // the strand's mean colour
    std::vector<float> colors;       // 3 floats per point (a groom's own), or none: color everywhere
    Float3 transparency{0, 0, 0};
};

struct Bounds {
    Float3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    void add(Float3 p);
    bool empty() const { return lo.x > hi.x; }
};

struct Camera {
    Float3 eye{0, 0, 5}, target{0, 0, 0}, up{0, 1, 0};
    float fovY = 30; // degrees
};

// Where the camera looks from, relative to the front view that framing starts from.
struct CameraView {
    float azimuth = 0;   // degrees about the vertical axis through the subject, positive to the right
    float elevation = 0; // degrees above the subject's centre
    float zoom = 1;      // 2 shows half the width and height
};

// A distant light of small angular size (a disc in the sky): soft enough for multiple
// importance sampling to help narrow lobes, far enough for parallel shadows.
struct DistantLight {
    Float3 direction{0, 1, 0}; // towards the light
    Float3 color{1, 1, 1};     // irradiance across a surface facing the light
    float angle = 3;           // angular radius in degrees
};

// Environment radiance: a uniform colour or a latitude-longitude map (y up), importance-sampled
// by luminance.
class Environment {
  public:
    Environment();
    ~Environment();
    Environment(Environment&&) noexcept;
    Environment& operator=(Environment&&) noexcept;

    static Environment uniform(Float3 color);
    // The studio sky: zenith above, a soft horizon band, dark ground below.
    static Environment sky(float scale = 1);
    // Rows top (zenith) to bottom, RGB floats. Throws std::invalid_argument for an empty map.
    static Environment map(int width, int height, std::vector<float> rgb);
    // An .exr or .hdr latitude-longitude map read through OpenImageIO; throws std::runtime_error
    // with one line for a file that cannot be read.
    static Environment load(const std::string& path);

    // Turns the map about the vertical axis (degrees; 90 brings what was straight ahead of the
    // camera round to its left) and scales its radiance.
    void transform(float rotateDegrees, float intensity);

    Float3 radiance(Float3 dir) const;
    // A direction drawn in proportion to the radiance's luminance, its radiance, and its
    // solid-angle density.
    Float3 sample(float u, float v, Float3& radiance, float& pdf) const;
    float pdf(Float3 dir) const;
    bool isUniform() const;

  private:
    struct Map;
    Float3 toMap(Float3 d) const {
        return rotated_ ? Float3{cos_ * d.x - sin_ * d.z, d.y, sin_ * d.x + cos_ * d.z} : d;
    }
    Float3 fromMap(Float3 d) const {
        return rotated_ ? Float3{cos_ * d.x + sin_ * d.z, d.y, cos_ * d.z - sin_ * d.x} : d;
    }
    Float3 mapRadiance(Float3 dir) const;
    float mapPdf(Float3 dir) const;
    Float3 color_{1, 1, 1};
    float cos_ = 1, sin_ = 0, intensity_ = 1;
    bool rotated_ = false;
    std::unique_ptr<Map> map_;
};

// The studio lights' intensities, each a factor on its usual irradiance; 0 switches it off.
struct StudioRig {
    float key = 1, rim = 1, fill = 1;
};

// A scene: hair grouped by material, lights, environment and camera. Materials are plug-in
// instances owned by the caller.
class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Adds strands shaded by the instance; returns the group index. Strand indices reported
    // to the material count from 0 within the group.
    // scale: a procedural groom's groomScale; the pieces may stray from the curves in proportion,
    // as a strand's footprint shrinks in a picture that frames the whole groom.
    int addGroup(PluginBase* instance, const std::vector<Strand>& strands, float scale = 1);
    // Builds the acceleration structure; call once after the last group.
    void commit();

    int groupCount() const;
    PluginBase* groupInstance(int group) const;
    // Shades a group with another instance (no render may be running).
    void setGroupInstance(int group, PluginBase* instance);
    std::size_t segmentCount() const;
    // Bounds of a group's control points, widened by their radii; of every group.
    Bounds groupBounds(int group) const;
    // A group's strands as they are traced: control points, radii, colours and transparency.
    std::vector<Strand> groupStrands(int group) const;
    Bounds bounds() const;

    Camera camera;
    std::vector<DistantLight> lights;
    Environment env;
    bool studio = false;  // lights follow the camera (set by studioLights)
    StudioRig rig;        // which studio lights shine, and how strongly
    float labelSpace = 0; // room kept under every group for its label, in scene units (framing)

    struct Impl;
    Impl& impl() const { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

// Procedural hair. A scene unit is 1 cm: a lock is a swatch about 2.3 cm long, 0.9 wide and a
// quarter deep, of 2,000 strands 70 µm thick, thinning in their last fifth. That packs them as a
// loose lock of real hair does (a hair volume fraction of 0.3 to 0.45 at every height; see
// volumeFractions), so light enters the lock and scatters between its fibres. At that scale a
// strand is about two pixels wide in a 1280-pixel picture of the sheet.
constexpr int kLockStrands = 2000;
struct HairStyle {
    int strands = kLockStrands;
    std::uint64_t seed = 7; // the groom's own seed, not the sampling seed
    bool wavy = false;
    Float3 color{0.32f, 0.2f, 0.11f};
    Float3 transparency{0, 0, 0};
    float rootRadius = 0.0035f;
};

// How a procedural groom grows with its strand count: past the count it is made for (a lock's
// 2,000, a ball's 40,000) every length grows as the square root of the excess, strand widths
// kept, so that more strands make a larger groom packed as hair is rather than one denser than
// solid.
float groomScale(int strands, int packed);
// A hanging lock centred at x, about 0.9 wide and 2.3 tall (times groomScale).
std::vector<Strand> makeLock(float x, const HairStyle& style);
// A ball of curly hair of the given radius at the origin (strands grow outward from a scalp at
// 0.7 of it, their curls opening towards the tips); 40,000 strands pack it as densely as the lock
// (more make it larger, by groomScale).
constexpr int kBallStrands = 40000;
std::vector<Strand> makeCurlyBall(float radius, const HairStyle& style);

// The binary .hair format: a 128-byte header ("HAIR", strand and point counts, array flags,
// defaults) and the arrays it announces. Anything malformed throws HairFileError with one line.
struct HairFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
std::vector<Strand> readHairFile(const std::string& path);
// Writes strands in that format (points, thickness, transparency and colour per point) with the
// given free text; throws std::runtime_error with the system's reason when it cannot.
void writeHairFile(const std::string& path, const std::vector<Strand>& strands, const std::string& info = "");

// How densely a groom packs hair. Space is cut into cubic cells; each cell a strand passes
// through holds its share of the strand's volume (cross-section × length). The hair volume
// fraction at a height is the volume in the occupied cells there over their volume, so the
// gaps around a lock do not count but the gaps between its strands do. Heights run along the
// growth: down a hanging lock (-y), away from the centre of a ball (distance to the origin),
// in equal slabs from the last root to the first tip (where every strand is present).
enum class Growth { Down, Outward };
std::vector<float> volumeFractions(const std::vector<Strand>& strands, Growth growth, int slabs, float cell);
// The cell the fractions are measured on: four diameters of the thickest strand.
float densityCell(const std::vector<Strand>& strands);

// The size of an input file, or a one-line reason it is not one: only a regular file is read,
// so a FIFO or a device can neither hang the reader nor be read twice.
std::uint64_t inputFileSize(const std::string& path, std::string& why);

// The named scenes. Each leaves the scene committed with its lights set; frame() then places
// the camera for the picture's aspect.
//   sheet:   one lock per instance, side by side, studio lights, room for a label under each
//   contact sheet: the same in rows of a given number of columns
//   swatch:  one lock, studio lights
//   ball:    a curly hair ball, studio lights
//   groom:   the given strands, studio lights
//   furnace: a hair ball inside a uniform white environment, nothing else
void buildSheet(Scene& scene, const std::vector<PluginBase*>& instances, const HairStyle& style);
void buildContactSheet(Scene& scene, const std::vector<PluginBase*>& instances, int columns,
                       const HairStyle& style);
void buildSwatch(Scene& scene, PluginBase* instance, const HairStyle& style);
void buildBall(Scene& scene, PluginBase* instance, const HairStyle& style);
void buildGroom(Scene& scene, PluginBase* instance, const std::vector<Strand>& strands);
void buildFurnace(Scene& scene, PluginBase* instance, const HairStyle& style);

// Places the camera so that every group's bounds lie inside a width:height picture, seen from
// the view; studio lights turn with the camera.
void frame(Scene& scene, int width, int height, const CameraView& view = {});
// Where a point lands in a width:height picture of the camera, in [-1, 1] on both axes inside it
// (x to the right, y up); false for a point behind the camera.
bool project(const Camera& camera, int width, int height, Float3 p, float& x, float& y);

// The sample count at which adaptive sampling first looks at a pixel.
constexpr int kFirstCheckpoint = 8;

struct RenderOptions {
    int width = 320, height = 240;
    int spp = 4;
    int threads = 1;         // 0: all cores; never more than the cores there are
    std::uint64_t seed = 1;  // sampling seed
    int maxPathDepth = 1000; // continuation rays of sampling materials (a cap beyond the materials' own)
    int giDepth = 1;         // nested GI-source rays for materials that do not sample
    bool channels = false;   // collect the render channels materials write
    // Adaptive sampling (renderFrame only): spp becomes the most a pixel takes. After 8, 12, 16,
    // 24, 32, 48, ... samples a pixel stops once the estimated relative error of its mean
    // luminance (over max(mean, 0.02), so that near-black pixels need not be exact) is at most
    // the threshold. The estimate comes from the pixel's own samples, so the picture is the same
    // for any thread count.
    bool adaptive = false;
    float adaptiveThreshold = 0.02f;

    std::ostream* progress = nullptr; // progress bar for renders longer than a second
};

// A linear image, rows top to bottom, `channels` floats per pixel.
struct Image {
    int width = 0, height = 0, channels = 3;
    std::vector<float> data;
    float at(int x, int y, int c) const {
        return data[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
};

struct FrameResult {
    // RGBA, premultiplied: the light the hair sends to the camera, and its coverage.
    Image hair;
    // RGB: the environment seen behind (and through) the hair; hair + backdrop is the picture.
    Image backdrop;
    std::map<int, Image> channels;   // by alias, RGB (the first three values written), filled ones only
    double seconds = 0;              // wall clock
    double cpuSeconds = 0;           // summed over the render threads, tiles only
    std::uint64_t shadingPoints = 0; // material set-ups at hits (newBSDF calls), shadow rays included
    std::uint64_t shadowPoints = 0;  // of those, set-ups that only answered a shadow ray's transparency
    std::uint64_t rays = 0;          // traced: camera, shadow, continuation and GI-source rays
    double meanSamples = 0;          // camera samples per pixel, on average
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
    int threads() const;

    // Progressive rendering: passes that each add samples to every pixel from the same sample
    // points a frame uses, so that after N samples the picture is renderFrame's at spp N (within
    // the rounding of summing in another order). beginPasses starts a frame (frameBegin) and
    // forgets what earlier passes added; it also takes a moved camera.
    void beginPasses();
    // Adds samples per pixel. A cancel flag set meanwhile stops the pass within a row of a tile
    // and returns false; the passes must then begin again.
    bool renderPass(int samples, const std::atomic<bool>* cancel = nullptr);
    int passSamples() const;
    // The picture the passes have made so far (seconds: the passes' wall clock).
    FrameResult passResult();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// Output through OpenImageIO, by the extension of the path:
//   .exr            half-float RGBA (premultiplied hair and coverage), the backdrop, and every
//                   channel the materials filled, each as a named layer
//   .png .tif .tiff tone-mapped sRGB with alpha = coverage (backdrop: over the environment, opaque)
//   .jpg .jpeg      tone-mapped sRGB over the environment
const std::vector<std::string>& imageExtensions();
// The lower-case extension of a path with its dot (".png"), "" for none (a dot before the last
// slash belongs to a folder).
std::string lowerExtension(const std::string& path);
// A readable layer name for a render channel alias ("specular", "lighting", ...).
std::string channelName(int alias);
struct WriteOptions {
    float exposure = 1;
    bool backdrop = false; // tone-mapped formats: composite over the environment, opaque
};
// Throws std::runtime_error with the library's reason when the file cannot be written.
void writeImage(const std::string& path, const FrameResult& frame, const WriteOptions& options = {});
// The bytes writeImage would write to path (the format by its extension), in memory.
std::vector<unsigned char> encodeImage(const std::string& path, const FrameResult& frame,
                                       const WriteOptions& options = {});
// Writes labels[g] centred under group g's lock with DejaVu Sans through OpenImageIO, 15 px at
// 1280x720 and in proportion at other sizes, its words wrapped to the lock's cell: light text on a
// dark plate over the hair and backdrop layers (the EXR and PNG both carry it). A label is moved
// down (or up) from the room framing kept under its lock until it covers no hair and no other
// label, and left out where no such place is in the picture. Throws std::runtime_error when the
// font cannot be loaded.
void drawLabels(FrameResult& frame, const Scene& scene, const std::vector<std::string>& labels);
// Throws std::runtime_error with one line when no label font can be loaded (checked before a
// long render rather than after it).
void checkLabelFont();
// Exposure, a soft shoulder above 0.8 instead of a hard clip, and the sRGB curve; in [0, 1].
float toneMap(float linear, float exposure);

} // namespace quor::render
