// The host's rules every material applies: texture or default, the coverage blend and the
// transparency override, each by a table of cases.
#include "frame/host_rules.h"

#include <gtest/gtest.h>

namespace hair {
namespace {

TEST(HostRules, TextureOrDefault) {
    quor::QuorContext ctx;
    quor::ConstantColorTexture colour({0.25f, 0.5f, 0.75f, 1});
    quor::ConstantFloatTexture value(0.3f);
    EXPECT_EQ(textureColor(nullptr, ctx, Color4(0.1f)).g(), 0.1f);
    Color4 c = textureColor(&colour, ctx, Color4(0.1f));
    EXPECT_EQ(c.g(), 0.5f);
    EXPECT_EQ(c[3], 0.75f); // the fourth lane repeats blue
    EXPECT_EQ(textureFloat(nullptr, ctx, 0.8f), 0.8f);
    EXPECT_EQ(textureFloat(&value, ctx, 0.8f), 0.3f);
}

TEST(HostRules, CoverageLetsTheUncoveredPartThrough) {
    quor::SimpleStrandData strand;
    quor::QuorContext ctx;
    EXPECT_EQ(coveredTransparency(ctx, Color4(0.2f)).r(), 0.2f); // no surface data at all
    ctx.surfaceData = &strand;
    EXPECT_EQ(coveredTransparency(ctx, Color4(0.2f)).r(), 0.2f); // no strand-opacity interface
    strand.hasCoverage = true;
    for (float c : {0.0f, 0.25f, 1.0f, 1.5f}) {
        strand.coverage = c;
        EXPECT_FLOAT_EQ(coveredTransparency(ctx, Color4(0.2f)).g(), c < 1 ? 0.2f * c + 1 - c : 0.2f) << c;
    }
}

TEST(HostRules, TransparencyOverride) {
    struct Row {
        int counter, flags;
        float t, override, expected;
    };
    const Row rows[] = {
        {0, 0, 0.3f, 0.6f, 0.3f},                // no counter, no flag: unchanged
        {1, 0, 0.3f, 0.6f, 0.6f},                // counter: replaced
        {1, quor::RAY_SHADOW, 0.3f, 0.6f, 0.3f}, // a flag of the first mask turns the counter path off
        {0, 0x40000, 0.3f, 0.6f, 0.6f},          // a flag of the second mask takes the path on its own
        {1, 0, 0.3f, 1.7f, 1.0f},                // the override is clamped to [0, 1]
        {1, 0, 0.3f, -2.0f, 0.0f},
    };
    for (const Row& r : rows) {
        quor::QuorContext ctx;
        ctx.hostCounter = r.counter;
        ctx.rayFlags = r.flags;
        ctx.transparencyOverride = r.override;
        EXPECT_FLOAT_EQ(overriddenTransparency(ctx, Color4(r.t)).b(), r.expected)
            << r.counter << " " << r.flags << " " << r.override;
    }
    // Only a grey transparency is replaced.
    quor::QuorContext ctx;
    ctx.hostCounter = 1;
    ctx.transparencyOverride = 0.6f;
    EXPECT_FLOAT_EQ(overriddenTransparency(ctx, Color4(0.1f, 0.3f, 0.3f)).r(), 0.1f);
}

} // namespace
} // namespace hair
