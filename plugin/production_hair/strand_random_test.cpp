// StrandRandom and StrandSegments against values worked out by hand from the recurrence.
#include "production_hair/strand_random.h"

#include <gtest/gtest.h>

namespace hair {
namespace {

TEST(ProductionHair, StrandRandomFollowsRecurrence) {
    // Seed k = 0: state after seeding and its first outputs.
    StrandRandom r0(0);
    EXPECT_EQ(r0.state(), 0xc8a518b8bb941e5dull);
    EXPECT_FLOAT_EQ(r0.peek(), 0.13084253668785095f);
    EXPECT_FLOAT_EQ(r0.next(), 0.6189516186714172f);
    EXPECT_EQ(r0.state(), 0xf032aad37d4f694bull);
    EXPECT_FLOAT_EQ(r0.next(), 0.5280810594558716f);
    EXPECT_FLOAT_EQ(r0.next(), 0.1392800509929657f);

    // Strand 1 (k = 1024) and strand -1 (k = -1024, sign-extended).
    StrandRandom r1 = StrandRandom::forStrand(1);
    EXPECT_EQ(r1.state(), 0x20d3e172f65ea88dull);
    for (float draw : {0.5490981936454773f, 0.6330782771110535f, 0.17385636270046234f})
        EXPECT_FLOAT_EQ(r1.next(), draw);
    StrandRandom rm = StrandRandom::forStrand(-1);
    EXPECT_EQ(rm.state(), 0x5ba3a58a9903f230ull);
    EXPECT_FLOAT_EQ(rm.next(), 0.7974411249160767f);

    // The 32-bit product wraps before it is extended: index 2^22 + 1 seeds like index 1.
    EXPECT_EQ(StrandRandom::strandBase((1 << 22) + 1), 1024);
    EXPECT_EQ(StrandRandom::strandBase(-3), -3072);
}

TEST(ProductionHair, StrandSegmentsMatchHandComputedEvents) {
    struct Case {
        std::int64_t base;
        float d, cell, jitter, tau;
        float start, end;
        float draws[3];
    };
    const Case cases[] = {
        {768, 0.37f, 0.15f, 0.5f, 0.25f, 0.32739341f, 0.48775861f, {0.62226146f, 0.96307462f, 0.29895294f}},
        {768, 1.234f, 0.15f, 0.5f, 0.25f, 1.06380343f, 1.36023545f, {0.08062983f, 0.70801222f, 0.2584565f}},
        {768, 5.0f, 0.15f, 0.5f, 0.25f, 4.98739099f, 5.16269732f, {0.97971636f, 0.73028076f, 0.04666684f}},
        {1024, 0.0f, 0.3f, 0.85f, 0.5f, -0.28650928f, 0.14002006f, {0.38971901f, 0.5395487f, 0.37665078f}},
        {1024, 0.37f, 0.3f, 0.85f, 0.5f, 0.14002006f, 0.50981581f, {0.07580128f, 0.45783317f, 0.64792144f}},
        {1024, 5.0f, 0.3f, 0.85f, 0.5f, 4.24111319f, 5.18082666f, {0.73499632f, 0.21738979f, 0.66251528f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "base " << c.base << " d " << c.d);
        StrandSegment seg = StrandSegments::find(c.base, c.d, c.cell, c.jitter, c.tau);
        EXPECT_NEAR(seg.start, c.start, 1e-5f);
        EXPECT_NEAR(seg.end, c.end, 1e-5f);
        EXPECT_LT(seg.start, c.d);
        EXPECT_GT(seg.end, c.d);
        for (float draw : c.draws)
            EXPECT_FLOAT_EQ(seg.stream.next(), draw);
    }
}

TEST(ProductionHair, NeighbouringPointsShareTheirSegment) {
    StrandSegment a = StrandSegments::find(768, 0.40f, 0.15f, 0.5f, 0.25f);
    StrandSegment b = StrandSegments::find(768, 0.45f, 0.15f, 0.5f, 0.25f);
    EXPECT_EQ(a.end, b.end);
    EXPECT_EQ(a.stream.next(), b.stream.next());
    // Far out along a strand the search still ends, on a segment around d.
    StrandSegment far = StrandSegments::find(1024, 123456.7f, 0.3f, 0.85f, 0.5f);
    EXPECT_LE(far.start, 123456.7f);
    EXPECT_GE(far.end, 123456.7f);
}

TEST(ProductionHair, SegmentBlendFadesFromEndsToInterior) {
    StrandSegment seg;
    seg.start = 0.0f;
    seg.end = 1.0f;
    // Band w = 0.2 with fade f = 0.1: full end value up to 0.1 from either end, linear to 0.2.
    EXPECT_FLOAT_EQ(seg.blend(0.05f, 0.0f, 0.2f, 0.1f, 7.0f, 3.0f, 5.0f), 7.0f);
    EXPECT_FLOAT_EQ(seg.blend(0.95f, 1.0f, 0.2f, 0.1f, 7.0f, 3.0f, 5.0f), 7.0f);
    EXPECT_NEAR(seg.blend(0.15f, 0.0f, 0.2f, 0.1f, 7.0f, 3.0f, 5.0f), 0.5f * 7.0f + 0.5f * 3.0f, 1e-5f);
    EXPECT_NEAR(seg.blend(0.85f, 1.0f, 0.2f, 0.1f, 7.0f, 3.0f, 5.0f), 0.5f * 7.0f + 0.5f * 5.0f, 1e-5f);
    // Interior: the choice c mixes the two interior values.
    EXPECT_FLOAT_EQ(seg.blend(0.5f, 0.0f, 0.2f, 0.1f, 7.0f, 3.0f, 5.0f), 3.0f);
    EXPECT_FLOAT_EQ(seg.blend(0.5f, 1.0f, 0.2f, 0.1f, 7.0f, 3.0f, 5.0f), 5.0f);
    // End weight with w = f: 1 - e/w inside the band.
    EXPECT_NEAR(seg.endWeight(0.03f, 0.09f, 0.09f), 1.0f - 0.03f / 0.09f, 1e-6f);
    EXPECT_EQ(seg.endWeight(0.5f, 0.09f, 0.09f), 0.0f);
}

} // namespace
} // namespace hair
