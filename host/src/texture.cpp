#include "quor/texture.h"

#include <cstdio>

#include "quor/context.h"

namespace quor {

namespace {
void appendf(std::string& out, const char* fmt, double a, double b = 0, double c = 0, double d = 0) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b, c, d);
    out += buf;
}
Color lerp(const Color& a, const Color& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}
} // namespace

void ConstantColorTexture::getColorRange(AColor& lower, AColor& upper, float) const {
    lower = upper = color_;
}
void ConstantColorTexture::describeGPU(std::string& out) const {
    appendf(out, "color %g %g %g %g\n", color_.r, color_.g, color_.b, color_.a);
}

void ConstantFloatTexture::getColorRange(AColor& lower, AColor& upper, float) const {
    lower = upper = {value_, value_, value_, 1.0f};
}
void ConstantFloatTexture::describeGPU(std::string& out) const { appendf(out, "float %g\n", value_); }

AColor RootTipRampTexture::getColor(const QuorContext& ctx) const {
    float t = 0.5f;
    if (ctx.surfaceData)
        if (const StrandDataInterface* s = ctx.surfaceData->strandData()) t = s->getStrandPosition(ctx);
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return lerp(root_, tip_, t);
}

void RootTipRampTexture::getColorRange(AColor& lower, AColor& upper, float) const {
    auto mn = [](float a, float b) { return a < b ? a : b; };
    auto mx = [](float a, float b) { return a > b ? a : b; };
    lower = {mn(root_.r, tip_.r), mn(root_.g, tip_.g), mn(root_.b, tip_.b), mn(root_.a, tip_.a)};
    upper = {mx(root_.r, tip_.r), mx(root_.g, tip_.g), mx(root_.b, tip_.b), mx(root_.a, tip_.a)};
}

void RootTipRampTexture::describeGPU(std::string& out) const {
    appendf(out, "ramp %g %g %g", root_.r, root_.g, root_.b);
    appendf(out, " %g %g %g\n", tip_.r, tip_.g, tip_.b);
}

AColor StrandColorTexture::getColor(const QuorContext& ctx) const {
    const StrandDataInterface* s = ctx.surfaceData ? ctx.surfaceData->strandData() : nullptr;
    if (!s) return {0, 0, 0, 1};
    StrandRecord rec;
    s->getStrandRecord(ctx, rec);
    return {rec.color[0], rec.color[1], rec.color[2], 1};
}

// The range of colours a groom is meant to hold; a host hands them on unclamped.
void StrandColorTexture::getColorRange(AColor& lower, AColor& upper, float) const {
    lower = {0, 0, 0, 1};
    upper = {1, 1, 1, 1};
}

StrandColorTexture& StrandColorTexture::shared() {
    static StrandColorTexture texture;
    return texture;
}

} // namespace quor
