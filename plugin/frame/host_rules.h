// Rules of the host that every material applies the same way at a shading point: textures
// with a default when nothing is connected, the strand coverage blend and the host's
// transparency override.
#pragma once
#include <cmath>

#include "math/numeric.h"
#include "math/vec4.h"
#include "quor/context.h"
#include "quor/texture.h"

namespace hair {

// The texture's colour at ctx (red, green, blue; the fourth lane repeats blue), or the default
// when nothing is connected.
inline Color4 textureColor(const quor::TextureInterface* tex, const quor::QuorContext& ctx, Color4 unbound) {
    return tex ? Color4::rgb(tex->getColor(ctx)) : unbound;
}

// The float texture's value at ctx, or the default when nothing is connected.
inline float textureFloat(const quor::TextureFloatInterface* tex, const quor::QuorContext& ctx,
                          float unbound) {
    return tex ? tex->getFloat(ctx) : unbound;
}

// A strand that covers only the fraction c < 1 of its footprint lets the rest through:
// t·c + (1 - c). Without the strand-opacity interface, or at full coverage, t is unchanged.
inline Color4 coveredTransparency(const quor::QuorContext& ctx, Color4 t) {
    const quor::StrandOpacityInterface* opacity =
        ctx.surfaceData ? ctx.surfaceData->strandOpacity() : nullptr;
    if (!opacity) return t;
    const float c = opacity->getCoverage(ctx);
    return c < 1.0f ? t * c + Color4(1.0f - c) : t;
}

// The host may replace a grey transparency t in [0, 1] by its own value on the rays it marks:
// rays of a host counter of at least 1 without any flag of the first mask, or rays with a flag
// of the second. The override is clamped to [0, 1]; any other t comes back unchanged.
inline Color4 overriddenTransparency(const quor::QuorContext& ctx, Color4 t) {
    const int flags = ctx.rayFlags;
    const bool marked =
        (ctx.hostCounter >= 1 && !(flags & quor::RAY_MASK_OVERRIDE_A)) || (flags & quor::RAY_MASK_OVERRIDE_B);
    if (!marked || !(std::fabs(maxRGB(t) - 1.0f + maxRGB(complement(t))) < 1e-6f)) return t;
    return Color4(sat(ctx.getTransparencyOverride()));
}

} // namespace hair
