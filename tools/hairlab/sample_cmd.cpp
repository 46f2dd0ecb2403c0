// hairlab sample: one continuation ray from one shading point, as the host asks for it.
#include <memory>
#include <ostream>

#include "commands.h"
#include "errors.h"
#include "options.h"
#include "point_options.h"

namespace hairlab {

namespace {

struct SampleArgs {
    PointArgs point;
    std::string u;
    std::string xi = "0.5,0.5,0.5";
    std::string mode = "0";
};

} // namespace

Action addSampleCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("sample", "Ask one shading point for a continuation ray (sampleRay)");
    auto args = std::make_shared<SampleArgs>();
    args->point.add(*cmd);
    cmd->add_option("--u", args->u,
                    "Lobe-selection number handed to sampleRay, in [0, 2] (a sampler may fold u >= 1)")
        ->required();
    addDefaulted(*cmd, "--xi", args->xi,
                 "The host's random numbers A,B,C for getDMCParam dimensions 1, 2, 3, each in [0, 1]");
    addDefaulted(*cmd, "--mode", args->mode, "The mode argument of sampleRay");
    cmd->footer(
        "Output: the value sampleRay returned, then the new ray's direction, path weight (four lanes) and "
        "probability; the last three are null when no ray was set up.");

    return [args](Session& s) {
        PointOptions options = args->point.options(s.library);
        // The host's random numbers live in [0, 1]; outside it a sampler may index past its tables.
        float u = harness::parseFloatIn("--u", args->u, 0, 2);
        std::vector<float> xi = parseFloats("--xi", args->xi, 3, "three numbers A,B,C");
        for (float v : xi)
            if (!(v >= 0 && v <= 1))
                throw UsageError("--xi: '" + args->xi + "' is outside " + harness::rangeText(0, 1));
        int mode = parseInt("--mode", args->mode);

        auto point = openPoint(s.library, options);
        quor::BRDFSampler* brdf = point->shade();
        if (!brdf) throw UsageError("type '" + options.type + "' handed out no sampler for this point");
        quor::QuorContext& next = point->newRayContext(xi[0], xi[1], xi[2]);
        float result = brdf->sampleRay(point->context(), next, u, mode);
        bool ray = result != 0.0f;
        // The sampler writes the direction into the ray record when the context has one.
        quor::Vector d = next.ray ? next.ray->dir : next.rayDir;
        const quor::Color& w = next.pathWeight;

        if (args->point.json()) {
            Json j = {{"result", jsonNumber(result)},
                      {"direction", ray ? jsonLanes({d.x, d.y, d.z}) : Json(nullptr)},
                      {"weight", ray ? jsonLanes({w.r, w.g, w.b, w.a}) : Json(nullptr)},
                      {"probability", ray ? jsonNumber(next.pathProb) : Json(nullptr)}};
            s.out << j.dump() << "\n";
        } else if (ray) {
            s.out << "result " << formatLanes({result}) << " direction " << formatLanes({d.x, d.y, d.z})
                  << " weight " << formatLanes({w.r, w.g, w.b, w.a}) << " probability "
                  << formatLanes({next.pathProb}) << "\n";
        } else {
            s.out << "result " << formatLanes({result}) << " direction null weight null probability null\n";
        }
        return 0;
    };
}

} // namespace hairlab
