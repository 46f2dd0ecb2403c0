// hairlab gpu: the description a material writes for the host's GPU renderer.
#include <memory>
#include <ostream>

#include "commands.h"
#include "errors.h"
#include "options.h"
#include "point_options.h"
#include "quor/gpu.h"

namespace hairlab {

namespace {

struct GpuArgs {
    PointArgs point;
    std::string kind = "MaterialDescriptor";
};

} // namespace

Action addGpuCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "gpu", "Print the description a material writes for the GPU renderer (getRTSource)");
    auto args = std::make_shared<GpuArgs>();
    args->point.add(*cmd, PointScope::InstanceOnly);
    addDefaulted(*cmd, "--kind", args->kind, "Kind of description asked for");
    cmd->footer("Output: exactly the text getRTSource wrote; its result goes to stderr as 'result N'. JSON: "
                "{\"result\": N, \"text\": \"...\"}.");

    return [args](Session& s) {
        PointOptions options = args->point.options(s.library);
        auto point = openPoint(s.library, options);
        auto* mtl =
            static_cast<quor::RTMtlInterface*>(point->instance().base()->getInterface(quor::EXT_RTMTL));
        if (!mtl) throw UsageError("type '" + options.type + "' has no GPU material interface (EXT_RTMTL)");
        quor::ShaderSource source;
        quor::OCLData data;
        int result = mtl->getRTSource(0, 0, args->kind.c_str(), source, &data);
        if (args->point.json()) {
            Json j = {{"result", result}, {"text", source.text()}};
            s.out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        } else {
            s.out << source.text();
            s.err << "result " << result << "\n";
        }
        return 0;
    };
}

} // namespace hairlab
