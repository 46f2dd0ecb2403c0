// One material instance and one shading point of it, driven exactly as a host drives them: an
// instance from the descriptor, parameters set, renderBegin/frameBegin, one context and strand
// record, newBSDF -> getBRDF -> ... -> deleteBSDF. Shared by hairlab, the renderer, the tests
// and the benchmarks.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness/library.h"
#include "quor/quor.h"

namespace harness {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};
struct Rgb {
    float r = 0, g = 0, b = 0;
};

// Scales to unit length in double precision (so tiny and huge vectors keep their direction);
// a zero vector stays zero.
Vec3 normalized(const Vec3& v);
inline quor::Vector toVector(const Vec3& v) { return {v.x, v.y, v.z, 0}; }

// A numeric limit from a parameter's hints, such as "minValue=(0)"; false when the hint is missing
// or written without "=".
bool hintLimit(const char* hints, const char* key, double& out);

using ParamSets = std::vector<std::pair<std::string, std::string>>; // NAME=VALUE ("none" unbinds)

// Every texture parameter of a type bound to a constant of its registered default, as a host's
// editor creates a material (plain parameters hold their defaults anyway).
ParamSets registeredDefaults(Library& library, const std::string& type);

// The name a parameter kind goes by in listings ("texture", "texture_rgb", "float", ...).
const char* kindName(quor::ParamKind kind);

// Parses NAME=VALUE for a parameter of the instance's type and sets it. Throws InputError
// naming the parameter for an unknown name, a malformed value, or a value outside the hints'
// minValue/maxValue (unless unchecked).
void setParameter(quor::QuorPluginInterface& plugin, const quor::QuorParameterListDesc& desc,
                  const std::string& name, const std::string& value, bool unchecked);

// A plug-in instance of a material type with its parameters set; deleted through its
// descriptor. Throws InputError for a type that cannot be instantiated or is no material.
class Instance {
  public:
    Instance(Library& library, const std::string& type, const ParamSets& sets = {}, bool unchecked = false);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    quor::PluginBase* base() const { return base_; }
    quor::QuorPluginInterface& plugin() const { return *plugin_; }
    quor::BSDFInterface& bsdf() const { return *bsdf_; }
    quor::PluginDesc* desc() const { return desc_; }
    const quor::QuorParameterListDesc* params() const { return params_; }
    // Sets one more parameter (as --set does).
    void set(const std::string& name, const std::string& value, bool unchecked = false);
    // The text getRTSource writes for a kind into text, and its answer; false for a material
    // with no GPU description.
    bool gpuSource(const char* kind, std::string& text, int& result) const;

  private:
    quor::PluginDesc* desc_;
    const quor::QuorParameterListDesc* params_;
    quor::PluginBase* base_ = nullptr;
    quor::QuorPluginInterface* plugin_ = nullptr;
    quor::BSDFInterface* bsdf_ = nullptr;
};

// The shading point options, with their defaults.
struct PointOptions {
    std::string type;           // plug-in type name
    ParamSets sets;             // parameter values
    bool bindDefaults = false;  // first bind every texture parameter to its registered default
    bool unchecked = false;     // skip minValue/maxValue checks
    Vec3 dir{0, 0, -1};         // ray direction D
    Vec3 tangent{0, 1, 0};      // strand tangent in the record
    std::optional<Vec3> normal; // default: -D without its tangent part
    float h = 0;
    Rgb strandColor, strandTransparency;
    int strandIndex = 0;
    float strandLength = 1, strandPosition = 0.5f;
    bool noStrandData = false;
    std::optional<float> coverage; // offer strand opacity with this coverage
    int depth = 0, rayFlags = 0, contextFlags = 0;
    int side = 0;                    // mode passed to getBRDF
    std::optional<double> unitScale; // offer the scene units interface
    Rgb gi;                          // colour of the host's GI source
    int mis = 0;                     // the host's multiple-importance answer
};

class ShadingPoint {
  public:
    // Makes the instance (registered defaults first when asked, then the sets), starts a render
    // and frame with one thread, and makes the context; throws InputError on bad options.
    ShadingPoint(Library& library, const PointOptions& options);
    // A point of an instance that exists already (its parameter options are not applied); the
    // point starts and ends its own render of it.
    ShadingPoint(Instance& instance, const PointOptions& options);
    ~ShadingPoint();
    ShadingPoint(const ShadingPoint&) = delete;
    ShadingPoint& operator=(const ShadingPoint&) = delete;

    // Moves the point within the same render: the context and strand record are set afresh from
    // the geometry, strand, ray and host-answer fields of options, as the constructor sets them
    // (its type, sets and unit scale are not read: the instance and the render keep theirs; pass
    // options without sets to keep the move cheap). The sampler is given back; shade() makes a
    // new one.
    void place(const PointOptions& options);
    // A fresh sampler for the point (newBSDF + getBRDF(side)); the previous one is given back.
    quor::BRDFSampler* shade();
    quor::BSDFSampler* bsdf() const { return bsdf_; }
    quor::BRDFSampler* brdf() const { return brdf_; }
    // The sampler as the model's own class (for unit tests linking the plug-in's core).
    template <class T> T& sampler() const { return *static_cast<T*>(bsdf_); }
    quor::QuorContext& context() { return ctx_; }
    quor::SimpleStrandData& strand() { return strand_; }
    quor::RenderSettings& settings() { return settings_; }
    Instance& instance() { return instance_; }
    const PointOptions& options() const { return options_; }

    // A new context for sampleRay, set up as the host sets one for a continuation ray, with the
    // host's random numbers for dimensions 1, 2, 3.
    quor::QuorContext& newRayContext(float xi1, float xi2, float xi3);
    quor::QuorContext& rayContext() { return newCtx_; }
    quor::RayRecord& newRay() { return ray_; }
    // One light: eval with light colour 1 (unshadowed too), returns the result.
    quor::Color eval(const quor::Vector& light, float lightProb = 1.0f, int flags = 3);
    // One continuation: sampleRay's result; the ray's direction, weight and probability are in
    // newRayContext() and newRay().
    float sample(float u, float xi1, float xi2, float xi3);

  private:
    void start();
    PointOptions options_;
    std::unique_ptr<Instance> owned_;
    Instance& instance_;
    quor::QuorRenderer renderer_;
    quor::SimpleSceneObject scene_;
    quor::RenderSettings settings_;
    quor::SimpleStrandData strand_;
    quor::QuorContext ctx_;
    quor::QuorContext newCtx_;
    quor::RayRecord ray_;
    quor::BSDFSampler* bsdf_ = nullptr;
    quor::BRDFSampler* brdf_ = nullptr;
};

} // namespace harness
