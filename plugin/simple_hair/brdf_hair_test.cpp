// BRDFHair by hand: the highlight is the strand-cosine product raised to the power, the diffuse
// term is the strand colour, and a transparent strand passes light by its side weighting.
#include <gtest/gtest.h>

#include <cmath>

#include "harness/test_support.h"

namespace {

using namespace harness;

PointOptions strandPoint() {
    PointOptions o;
    o.type = "BRDFHair";
    o.strandColor = {0.5f, 0.25f, 1.0f};
    o.sets = {{"specular_color_tex", "1,0.5,0.25"}, {"specular_power", "8"}};
    return o;
}

TEST(SimpleHair, HighlightAndDiffuseByHand) {
    ShadingPoint p(test::library(), strandPoint());
    p.shade();
    // L at cos 0.6 to the tangent, V across it: k = sin θL = 0.8.
    const float k = 0.8f;
    quor::Color light{2, 2, 2, 2}, unshadowed{2, 2, 2, 2};
    quor::Color r =
        p.brdf()->eval(p.context(), {0, 0.6f, 0.8f, 0}, light, unshadowed, 1, quor::EVAL_SPECULAR);
    EXPECT_NEAR(r.r, 2 * std::pow(k, 8.0f), 1e-6);
    EXPECT_NEAR(r.g, 2 * 0.5f * std::pow(k, 8.0f), 1e-6);
    EXPECT_NEAR(r.b, 2 * 0.25f * std::pow(k, 8.0f), 1e-6);
    quor::Color d = p.eval({0, 0.6f, 0.8f, 0}, 1, quor::EVAL_DIFFUSE);
    EXPECT_FLOAT_EQ(d.r, 0.5f);
    EXPECT_FLOAT_EQ(d.b, 1.0f);
    // Light below the surface: black, light colours untouched.
    quor::Color below{0.7f, 0.7f, 0.7f, 0.7f};
    EXPECT_EQ(p.brdf()->eval(p.context(), {0, 0, -1, 0}, below, unshadowed, 1, quor::EVAL_ALL).r, 0.0f);
    EXPECT_EQ(below.r, 0.7f);

    // Power 0 with L along the tangent: 0^0 is 1, the full colour.
    PointOptions o = strandPoint();
    o.sets = {{"specular_color_tex", "1,1,1"}, {"specular_power", "0"}};
    ShadingPoint flat(test::library(), o);
    flat.shade();
    EXPECT_FLOAT_EQ(flat.eval({0, 1, 0, 0}, 1, quor::EVAL_SPECULAR).r, 1.0f);
}

TEST(SimpleHair, TransparentStrandsBySide) {
    struct Row {
        int side;
        float t, seen; // strand transparency, and what the side lets through
    };
    // Side 0 passes (1 + t)/2 of the light, side 1 passes 2t/(1 + t); GI and the light
    // multiplier are weighted by the strand's own opacity 1 - t.
    const Row rows[] = {{0, 0.0f, 0.5f}, {0, 0.5f, 0.75f},       {0, 1.0f, 1.0f},
                        {1, 0.0f, 0.0f}, {1, 0.5f, 2.0f / 3.0f}, {1, 1.0f, 1.0f}};
    for (const Row& row : rows) {
        PointOptions o = strandPoint();
        o.side = row.side;
        o.strandTransparency = {row.t, row.t, row.t};
        o.gi = {2, 2, 2};
        ShadingPoint p(test::library(), o);
        p.shade();
        SCOPED_TRACE(testing::Message() << "side " << row.side << " t " << row.t);
        EXPECT_FLOAT_EQ(p.brdf()->getTransparency().r, row.seen);
        EXPECT_FLOAT_EQ(p.brdf()->getOpacity().r, 1 - row.seen);
        p.brdf()->traceForward(p.context(), 1);
        EXPECT_FLOAT_EQ(p.context().result.gi.r, 0.5f * (1 - row.t) * 2);
        EXPECT_FLOAT_EQ(p.context().result.transparency.r, row.t);
        quor::Color w{1, 1, 1, 1};
        EXPECT_FLOAT_EQ(p.brdf()->getLightMultiplier(w).r,
                        1.5f * (1 - row.t)); // (specular + diffuse) × opacity
        EXPECT_FLOAT_EQ(w.r, row.seen);
    }
}

} // namespace
