// hairlab eval: the light one shading point reflects towards the viewer, one light at a time.
#include <memory>
#include <ostream>

#include "commands.h"
#include "errors.h"
#include "options.h"
#include "point_options.h"

namespace hairlab {

namespace {

struct EvalArgs {
    PointArgs point;
    std::vector<std::string> lights;
    std::string flags = "3";
    std::string lightColor = "1,1,1";
    std::string lightProb = "1";
};

} // namespace

Action addEvalCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("eval", "Evaluate one shading point for one or more light directions");
    auto args = std::make_shared<EvalArgs>();
    args->point.add(*cmd);
    cmd->add_option("--light", args->lights,
                    "Light direction x,y,z (towards the light), normalised; repeatable")
        ->required()
        ->allow_extra_args(false);
    addDefaulted(*cmd, "--flags", args->flags, "Evaluation flags: 1 diffuse, 2 specular (decimal or 0x hex)");
    addDefaulted(*cmd, "--light-color", args->lightColor, "Light colour r,g,b");
    addDefaulted(*cmd, "--light-prob", args->lightProb, "Light-selection probability handed to eval");
    cmd->footer(
        "Text output: one line per light, the four lanes of the result (%.9g). JSON: results (light, color, "
        "light_color and unshadowed_color as eval left them), then the sampler's transparency, opacity and "
        "light multiplier for weight 1.");

    return [args](Session& s) {
        PointOptions options = args->point.options(s.library);
        std::vector<Vec3> lights;
        for (const std::string& l : args->lights)
            lights.push_back(parseDirection("--light", l));
        int flags = parseInt("--flags", args->flags);
        Rgb lc = parseRgb("--light-color", args->lightColor);
        float prob = parseFloat("--light-prob", args->lightProb);
        if (prob < 0) throw UsageError("--light-prob: '" + args->lightProb + "' is negative");

        auto point = openPoint(s.library, options);
        quor::BRDFSampler* brdf = point->shade();
        if (!brdf) throw UsageError("type '" + options.type + "' handed out no sampler for this point");

        Json results = Json::array();
        for (const Vec3& l : lights) {
            quor::Vector L{l.x, l.y, l.z, 0};
            // The fourth lane of a colour repeats blue.
            quor::Color light{lc.r, lc.g, lc.b, lc.b}, unshadowed = light;
            quor::Color c = brdf->eval(point->context(), L, light, unshadowed, prob, flags);
            if (!args->point.json()) {
                s.out << formatLanes({c.r, c.g, c.b, c.a}) << "\n";
                continue;
            }
            results.push_back(
                {{"light", jsonLanes({l.x, l.y, l.z})},
                 {"color", jsonLanes({c.r, c.g, c.b, c.a})},
                 {"light_color", jsonLanes({light.r, light.g, light.b, light.a})},
                 {"unshadowed_color", jsonLanes({unshadowed.r, unshadowed.g, unshadowed.b, unshadowed.a})}});
        }
        if (args->point.json()) {
            quor::Color t = brdf->getTransparency();
            quor::Color o = brdf->getOpacity();
            quor::Color weight{1, 1, 1, 1};
            quor::Color m = brdf->getLightMultiplier(weight);
            Json j = {{"results", results},
                      {"transparency", jsonLanes({t.r, t.g, t.b, t.a})},
                      {"opacity", jsonLanes({o.r, o.g, o.b, o.a})},
                      {"light_multiplier", jsonLanes({m.r, m.g, m.b, m.a})}};
            s.out << j.dump() << "\n";
        }
        return 0;
    };
}

} // namespace hairlab
