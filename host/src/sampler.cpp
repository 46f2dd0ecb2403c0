// The host's own implementations behind the sampler base operations.
#include "quor/sampler.h"

namespace quor {

RenderChannelsInfo* RenderChannelsInfo::reflectChannels() {
    static RenderChannelsInfo reflect("reflect");
    return &reflect;
}

Vector BRDFSampler::getContextVector(const QuorContext& ctx) { return ctx.rayDir; }

Color BRDFSampler::getOpacity() {
    Color t = getTransparency();
    auto c = [](float x) { return 1.0f - x > 0.0f ? 1.0f - x : 0.0f; };
    return {c(t.r), c(t.g), c(t.b), c(t.a)};
}

// Without a model of its own the host reports the sampler's transparency and opacity and
// leaves GI to its own integrator.
void BRDFSampler::traceForward(QuorContext& ctx, int) {
    ctx.result.gi = {0, 0, 0, 0};
    ctx.result.transparency = getTransparency();
    ctx.result.opacity = getOpacity();
    ctx.result.transparency2 = ctx.result.transparency;
}

void BSDFSampler::traceBSDFForward(QuorContext& ctx, int arg) { getBRDF(SIDE_FRONT)->traceForward(ctx, arg); }

Color BSDFSampler::getBSDFTransparency(const QuorContext&) { return getBRDF(SIDE_FRONT)->getTransparency(); }

} // namespace quor
