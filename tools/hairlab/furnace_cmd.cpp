// hairlab furnace: the directional albedo of one shading point, by integrating eval over the
// sphere and by averaging the path weights of sampleRay.
#include <memory>
#include <ostream>

#include "commands.h"
#include "errors.h"
#include "harness/estimators.h"
#include "options.h"
#include "point_options.h"

namespace hairlab {

namespace {

// Plenty for any probe, and still well under a minute for the slowest material.
constexpr int kMaxSamples = 1 << 26;

struct FurnaceArgs {
    PointArgs point;
    std::string samples = std::to_string(kFurnaceSamples);
    std::string seed = "1";
};

Json rgb(const Rgb& c) { return jsonLanes({c.r, c.g, c.b}); }

} // namespace

Action addFurnaceCommand(CLI::App& app) {
    auto* cmd =
        app.add_subcommand("furnace", "Estimate the directional albedo of one shading point, two ways");
    auto args = std::make_shared<FurnaceArgs>();
    args->point.add(*cmd);
    addDefaulted(*cmd, "--samples", args->samples,
                 "Number of directions and of sampleRay calls, 4 to " + std::to_string(kMaxSamples));
    addDefaulted(*cmd, "--seed", args->seed, "Seed of the stratification jitter and sequence shift");
    cmd->footer("eval = (1/pi) * integral of eval over the whole sphere (stratified uniform directions, "
                "light colour 1, "
                "flags 3, light weighting neutral); sampled = mean path weight of sampleRay (a refused "
                "sample counts 0), "
                "null for a material that does not sample. Each comes with its standard error; a lossless "
                "fibre gives 1.");

    return [args](Session& s) {
        PointOptions options = args->point.options(s.library);
        std::uint64_t n = harness::parseUnsignedIn("--samples", args->samples, 4, kMaxSamples);
        std::uint64_t seed = parseUnsigned("--seed", args->seed);

        auto point = openPoint(s.library, options);
        if (!point->shade())
            throw UsageError("type '" + options.type + "' handed out no sampler for this point");
        harness::FurnaceResult r = harness::furnace(*point, static_cast<int>(n), seed);

        if (args->point.json()) {
            Json j = {{"eval", rgb(r.eval)},
                      {"eval_stderr", rgb(r.evalStderr)},
                      {"sampled", r.sampled ? rgb(r.sampledMean) : Json(nullptr)},
                      {"sampled_stderr", r.sampled ? rgb(r.sampledStderr) : Json(nullptr)}};
            s.out << j.dump() << "\n";
            return 0;
        }
        s.out << "eval    " << formatLanes({r.eval.r, r.eval.g, r.eval.b}) << "  stderr "
              << formatLanes({r.evalStderr.r, r.evalStderr.g, r.evalStderr.b}) << "\n";
        if (r.sampled)
            s.out << "sampled " << formatLanes({r.sampledMean.r, r.sampledMean.g, r.sampledMean.b})
                  << "  stderr " << formatLanes({r.sampledStderr.r, r.sampledStderr.g, r.sampledStderr.b})
                  << "\n";
        else
            s.out << "sampled null\n";
        return 0;
    };
}

} // namespace hairlab
