// A shot: everything a picture is made of (the subject and its looks, the groom, the camera, the
// lighting, the render settings). Every front end fills one, validates it and composes it into a
// scene here; none composes a scene itself.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lookdev/looks.h"
#include "render/render.h"

namespace lookdev {

// Caps that keep one job within minutes and memory of a workstation.
constexpr int kMaxSide = 8192;
constexpr std::uint64_t kMaxPixels = 4096ull * 4096; // 16.7 Mpx
constexpr int kMaxSpp = 4096;
constexpr std::uint64_t kMaxCameraSamples = 1ull << 30; // width × height × spp
constexpr int kMaxStrands = 200000;
constexpr int kMaxThreads = 256;
constexpr int kMaxLocks = 64; // of a sweep
constexpr float kMinAdaptiveThreshold = 0.001f, kMaxAdaptiveThreshold = 1;
constexpr float kMaxOrbit = 360, kMaxElevation = 89, kMinZoom = 0.1f, kMaxZoom = 100;

enum class Subject { Sheet, Sweep, Swatch, Ball, Groom, Furnace };
// "sheet", "sweep", ... and back; the names the CLI and look files use.
const std::vector<std::string>& subjectNames();
std::string subjectName(Subject subject);
std::optional<Subject> subjectFromName(const std::string& name);

// One axis of a sweep: count values of a parameter from..to, or a list of colour presets.
struct SweepAxis {
    std::string name; // a parameter, or "preset"
    float from = 0, to = 0;
    int count = 0;
    std::vector<std::string> presets;
    // The values, as exact floats.
    std::vector<float> values() const;
    // The labels of its locks ("melanin 0.5", "red").
    std::vector<std::string> labels() const;
};
// "NAME=A:B:N" (N values from A to B) or "preset=NAME,NAME,..." ("preset=all": every preset).
SweepAxis parseSweep(const std::string& text);

struct Groom {
    std::optional<int> strands; // per lock or ball (default by subject)
    std::uint64_t seed = 7;     // the groom's own seed, apart from the sampling seed
    bool wavy = false;          // lock shape
    // The strand record's colour (what a texture bound to "strand" and an unconnected colour
    // slot see) and transparency; a groom file's own colours win.
    std::optional<harness::Rgb> strandColor, strandTransparency;
    std::string file; // a .hair file (subject groom)
};

struct Lighting {
    std::string environment;        // a latitude-longitude .exr or .hdr; "" for the studio sky
    quor::render::StudioRig lights; // the key, rim and fill lights' factors (0: off)
    float envRotate = 0;            // degrees about the vertical axis
    float envIntensity = 1;         // a factor on the environment's radiance
    float exposure = 1;             // a factor on every output's pixels (before tone mapping)
    bool backdrop = false;          // tone-mapped outputs over the environment, opaque
};
// "studio" (every light as it is), "none", or a list of key, rim and fill, each optionally
// NAME=FACTOR; a light left out is off. And back: the shortest text that reads as the rig.
quor::render::StudioRig parseLights(const std::string& what, const std::string& text);
std::string lightsText(const quor::render::StudioRig& rig);
constexpr float kMaxLightFactor = 1000, kMaxEnvRotate = 360;

struct RenderSettings {
    int width = 640, height = 360, spp = 16, threads = 0;
    std::uint64_t seed = 1;
    std::vector<std::string> outputs; // by extension; none: "hair.png"
    bool labels = true;               // sheet and sweep: a label under each lock
    bool adaptive = true;             // spp is the most a pixel takes; converged pixels stop early
    float adaptiveThreshold = 0.02f;  // the relative error at which a pixel stops
};

struct Shot {
    Subject subject = Subject::Sheet;
    // The locks of the picture, left to right and top to bottom (sheet: one per type; sweep: one
    // per value, laid out by the axes; the other subjects: one).
    std::vector<Look> looks;
    std::vector<SweepAxis> sweeps; // subject sweep: columns, then rows
    bool unchecked = false;        // accept parameter values outside their limits
    Groom groom;
    quor::render::CameraView camera;
    Lighting lighting;
    RenderSettings render;
};

// The sheet: one look per type of the library, oldest first, each in its curated look (or its
// registered defaults) and labelled with it.
std::vector<Look> sheetLooks(Library& library, bool curated);
// The locks of a sweep: the base look once per value (columns across, a second axis down),
// labelled with the swept values.
std::vector<Look> sweepLooks(const Look& base, const std::vector<SweepAxis>& axes);
// Lays a colour preset and explicit values over every look whose type has them (a preset only
// over its own type); checks that some look has each.
void applyToLooks(Library& library, Shot& shot, const std::string& preset, const ParamSets& values);

// A setting of a shot as the command line names it and as a look file does.
struct Field {
    const char* option;
    const char* key;
};
constexpr Field kLooks{"--type", "looks"}, kSweeps{"--sweep", "sweeps"}, kGroomFile{"--groom", "groom.file"},
    kStrands{"--strands", "groom.strands"}, kEnvironment{"--env", "lighting.environment"},
    kExposure{"--exposure", "lighting.exposure"}, kLights{"--lights", "lighting.lights"},
    kEnvRotate{"--env-rotate", "lighting.env_rotate"},
    kEnvIntensity{"--env-intensity", "lighting.env_intensity"}, kWidth{"--width", "render.width"},
    kHeight{"--height", "render.height"}, kSpp{"--spp", "render.spp"},
    kThreads{"--threads", "render.threads"}, kOutputs{"-o", "render.outputs"},
    kOrbit{"--camera-orbit", "camera.orbit"}, kElevation{"--camera-elevation", "camera.elevation"},
    kZoom{"--camera-zoom", "camera.zoom"}, kLabels{"--labels", "render.labels"},
    kAdaptiveThreshold{"--adaptive-threshold", "render.adaptive_threshold"};

// How refusals name what was wrong: by option (a shot from the command line), or by the look
// file and its key.
struct Where {
    std::string file; // "" for the command line
    std::string operator()(const Field& f) const;
    // A message that stands alone on the command line, behind the key in a file.
    std::string plain(const Field& f, const std::string& message) const;
    std::string look(std::size_t index, const std::string& key, const std::string& option) const;
};

// Every refusal a shot can meet, as one line, before any work: subject and sweeps, types,
// parameter names and values, presets, sizes and caps, camera, outputs, fonts. Files named by
// the shot are read by compose, also before any work.
void validate(Library& library, const Shot& shot, const Where& where = {});

// A shot made into a scene: its instances, the scene, the labels and the render options.
class Composition {
  public:
    quor::render::Scene scene;
    std::vector<std::unique_ptr<harness::Instance>> instances; // one per look
    std::vector<std::string> labels;                           // sheet and sweep
    quor::render::RenderOptions options;
    quor::render::WriteOptions write;
    std::vector<std::string> outputs;
    int columns = 1;

    bool labelled() const { return !labels.empty(); }
    // Renders one frame (labels drawn) with the options.
    quor::render::FrameResult render();
    // Writes the frame to every output; throws std::runtime_error when one cannot be written.
    void writeOutputs(const quor::render::FrameResult& frame) const;
};

// Validates the shot, reads the files it names, builds and frames the scene.
std::unique_ptr<Composition> compose(Library& library, const Shot& shot, const Where& where = {});

// Gives a composed scene the looks of shot (types, presets, values, labels), which must have as
// many looks as the composition: new instances on the same strands, no acceleration-structure
// build. Validates first; on a refusal nothing changes.
void restyle(Library& library, Composition& c, const Shot& shot, const Where& where = {});

// Refuses a path that cannot be written (empty, an option, no name, a missing or read-only
// folder, a folder itself), with the system's reason; leaves no file behind.
void checkWritable(const std::string& what, const std::string& path);

using quor::render::lowerExtension;

} // namespace lookdev
