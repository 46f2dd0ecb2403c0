// One shading point of any material, driven exactly as a host drives it: an instance from the
// descriptor, parameters set, renderBegin/frameBegin, one context, newBSDF -> getBRDF -> ... ->
// deleteBSDF. Shared by the probe commands and by the model tests.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quor/quor.h"

namespace hairlab {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};
struct Rgb {
    float r = 0, g = 0, b = 0;
};

// The shading-point options of the probe commands, with their defaults.
struct PointOptions {
    std::string type;                                        // plug-in type name
    std::vector<std::pair<std::string, std::string>> sets;   // NAME=VALUE as given ("none" unbinds)
    bool unchecked = false;                                  // skip minValue/maxValue checks
    Vec3 dir{0, 0, -1};                                      // ray direction D (normalised)
    Vec3 tangent{0, 1, 0};                                   // strand tangent in the record
    std::optional<Vec3> normal;                              // default: -D without its tangent part
    float h = 0;
    Rgb strandColor, strandTransparency;
    int strandIndex = 0;
    float strandLength = 1, strandPosition = 0.5f;
    bool noStrandData = false;
    std::optional<float> coverage;                           // offer strand opacity with this coverage
    int depth = 0, rayFlags = 0, contextFlags = 0;
    int side = 0;                                            // mode passed to getBRDF
    std::optional<double> unitScale;                         // offer the scene units interface
    Rgb gi;                                                  // colour of the host's GI source
    int mis = 0;                                             // the host's multiple-importance answer
};

// Parses NAME=VALUE for a parameter of the instance's type and sets it. Throws UsageError
// naming the parameter for an unknown name, a malformed value, or a value outside the hints'
// minValue/maxValue (unless unchecked).
void setParameter(quor::QuorPluginInterface& plugin, const quor::QuorParameterListDesc& desc,
                  const std::string& name, const std::string& value, bool unchecked);

class ProbePoint {
  public:
    // Creates the instance and the shading context; throws UsageError on bad options.
    ProbePoint(quor::PluginDesc* desc, quor::QuorParameterListDesc* params, const PointOptions& options);
    ~ProbePoint();
    ProbePoint(const ProbePoint&) = delete;
    ProbePoint& operator=(const ProbePoint&) = delete;

    // A fresh sampler for the point (newBSDF + getBRDF(side)); the previous one is given back.
    quor::BRDFSampler* shade();
    quor::BSDFSampler* bsdf() const { return bsdf_; }
    quor::BRDFSampler* brdf() const { return brdf_; }
    quor::QuorContext& context() { return ctx_; }
    quor::SimpleStrandData& strand() { return strand_; }
    quor::PluginBase* instance() const { return instance_; }
    quor::QuorPluginInterface& plugin() const { return *plugin_; }
    const PointOptions& options() const { return options_; }

    // A new context for sampleRay, set up as the host sets one for a continuation ray, with the
    // host's random numbers for dimensions 1, 2, 3.
    quor::QuorContext& newRayContext(float xi1, float xi2, float xi3);
    quor::RayRecord& newRay() { return ray_; }

  private:
    struct Context;
    PointOptions options_;
    quor::PluginDesc* desc_;
    quor::PluginBase* instance_ = nullptr;
    quor::QuorPluginInterface* plugin_ = nullptr;
    quor::BSDFInterface* bsdfIface_ = nullptr;
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

// The descriptor of a type in a library, or null.
quor::PluginDesc* findType(quor::PluginLibDesc* lib, const char* name);

// A shaded ProbePoint of a named type, registered with a plug-in host of its own: what tests
// and benchmarks start from. Throws UsageError for a type the library does not have.
struct TypedPoint {
    quor::QuorPluginHost host;
    quor::PluginDesc* desc;
    std::unique_ptr<ProbePoint> probe;
    TypedPoint(quor::PluginLibDesc* lib, const char* type, PointOptions options);
};

// Directional albedo of a point two ways (see hairlab furnace).
struct FurnaceResult {
    Rgb eval, evalStderr;
    bool sampled = false;  // false for a material that does not sample
    Rgb sampledMean, sampledStderr;
};
FurnaceResult furnace(ProbePoint& point, int samples, std::uint64_t seed);

} // namespace hairlab
