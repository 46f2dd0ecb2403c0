// Every shading-point option, as typed, reaches the context, the strand record or the instance's
// parameters of the point the harness builds; and the JSON numbers read back as the same floats.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>

#include "cli_test_support.h"
#include "production_hair/brdf_hair4.h"
#include "quor/texture.h"

namespace hairlab {
namespace {

using Point = harness::ShadingPoint;

// A parameter's value: a plain float or int, or what its texture answers (-1 when unconnected).
double param(Point& p, const char* name, int lane = 0) {
    quor::QuorParameter* q = p.instance().plugin().getParameter(name);
    if (q->kind() == quor::ParamKind::Float) return q->getFloat();
    if (q->kind() == quor::ParamKind::Int) return q->getInt();
    if (!q->getTexture()) return -1;
    quor::AColor c = q->getTexture()->getColor(p.context());
    return lane == 0 ? c.r : lane == 1 ? c.g : lane == 2 ? c.b : c.a;
}

struct RoundTrip {
    test::Args args; // after --type BRDFHair4
    std::function<double(Point&)> field;
    double expected;
};

const RoundTrip kRoundTrips[] = {
    {{}, [](Point& p) { return p.context().rayDir.z; }, -1},
    {{"--dir", "3,0,-4"}, [](Point& p) { return p.context().rayDir.x; }, 0.6f},
    {{"--dir", "0,-1e-30,0"}, [](Point& p) { return p.context().rayDir.y; }, -1},
    {{}, [](Point& p) { return p.strand().record.tangent.y; }, 1},
    {{"--tangent", "1e-23,0,0"}, [](Point& p) { return p.strand().record.tangent.x; }, 1},
    {{"--tangent", "1e20,0,0"}, [](Point& p) { return p.strand().record.tangent.x; }, 1},
    {{"--normal", "0,3e-40,0"}, [](Point& p) { return p.context().normal.y; }, 1},
    // Without --normal: -D with its part along the tangent removed.
    {{"--dir", "0,-0.6,-0.8", "--tangent", "0,0.8,0.6"}, [](Point& p) { return p.context().normal.y; }, -0.6},
    {{"--h", "-0.5"}, [](Point& p) { return p.strand().record.h; }, -0.5},
    {{"--strand-color", "1,0.5,0.25"}, [](Point& p) { return p.strand().record.color[2]; }, 0.25},
    {{"--strand-transparency", "0.1,0.2,0.3"},
     [](Point& p) { return p.strand().record.transparency[1]; },
     0.2f},
    {{"--strand-transparency", "0.1,0.2,0.3"},
     [](Point& p) { return p.strand().shadowTransparency.b; },
     0.3f},
    {{"--strand-index", "+010"}, [](Point& p) { return p.strand().index; }, 10}, // decimal, not octal
    {{"--strand-length", "3.4e38"}, [](Point& p) { return p.strand().length; }, 3.4e38f},
    {{"--strand-position", "0.75"}, [](Point& p) { return p.strand().position; }, 0.75},
    {{}, [](Point& p) { return p.strand().hasStrandData; }, 1},
    {{"--no-strand-data"}, [](Point& p) { return p.strand().hasStrandData; }, 0},
    {{}, [](Point& p) { return p.strand().hasCoverage; }, 0},
    {{"--coverage", "0.4"}, [](Point& p) { return p.strand().hasCoverage * p.strand().coverage; }, 0.4f},
    {{"--depth", "1000000"}, [](Point& p) { return p.context().rayDepth; }, 1000000},
    {{"--ray-flags", "0X210"},
     [](Point& p) { return p.context().rayFlags; },
     quor::RAY_GI | quor::RAY_NO_SPECULAR},
    {{"--ray-flags", "0xFFFFFFFF"}, [](Point& p) { return p.context().rayFlags; }, -1},
    {{"--context-flags", "33"}, [](Point& p) { return p.context().contextFlags; }, 33},
    {{"--side", "-2147483648"}, [](Point& p) { return p.options().side; }, INT_MIN},
    {{"--unit-scale", "0.5"}, // as the material read it from the scene's units
     [](Point& p) { return dynamic_cast<hair::BRDFHair4&>(p.instance().plugin()).unitScale(); },
     50},
    {{"--gi", "0.5,0.6,0.7"}, [](Point& p) { return p.context().gi.g; }, 0.6f},
    {{"--mis", "1"}, [](Point& p) { return p.context().lightMIS; }, 1},
    {{}, [](Point& p) { return param(p, "melanin"); }, 0.3f},          // bound to its registered default
    {{"--unbound"}, [](Point& p) { return param(p, "melanin"); }, -1}, // a bare instance
    {{"--set", "melanin=none"}, [](Point& p) { return param(p, "melanin"); }, -1},
    // A renderer's hair hit.
    {{}, [](Point& p) { return p.context().contextFlags; }, quor::CTX_SKIP_BELOW_SURFACE},
    {{"--set", "melanin=1e-45"}, [](Point& p) { return param(p, "melanin"); }, 1e-45f},
    {{"--set", "melanin=1"}, [](Point& p) { return param(p, "melanin"); }, 1},
    {{"--set", "melanin=2", "--unchecked"}, [](Point& p) { return param(p, "melanin"); }, 2},
    {{"--set", "melanin=inf", "--unchecked"}, [](Point& p) { return param(p, "melanin"); }, INFINITY},
    {{"--set", "glint_scale=0.0001"}, [](Point& p) { return param(p, "glint_scale"); }, 0.0001f},
    {{"--set", "glitter_size=1e6"}, [](Point& p) { return param(p, "glitter_size"); }, 1e6},
    {{"--set", "trace_depth=0x3E8"}, [](Point& p) { return param(p, "trace_depth"); }, 1000},
    {{"--set", "dye_color=0.1,0.2,0.3"}, [](Point& p) { return param(p, "dye_color", 2); }, 0.3f},
    {{"--set", "dye_color=0.1,0.2,0.3,0.5"}, [](Point& p) { return param(p, "dye_color", 3); }, 0.5},
    {{"--set", "dye_color=1,1,1", "--set", "dye_color=none"},
     [](Point& p) { return param(p, "dye_color"); },
     -1},
};

class OptionRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(OptionRoundTrip, ReachesThePoint) {
    double got = GetParam().field(*test::point(test::with({"--type", "BRDFHair4"}, GetParam().args), false));
    double want = GetParam().expected;
    EXPECT_TRUE(got == want || std::fabs(got - want) <= 1e-6 * std::fabs(want)) << got << " != " << want;
}

INSTANTIATE_TEST_SUITE_P(HairlabCli, OptionRoundTrip, testing::ValuesIn(kRoundTrips));

TEST(HairlabCli, JsonNumbersReadBackAsTheSameFloat) {
    for (float f : {0.1f, 1.0f / 3.0f, 1e-45f, 1e-38f, 3.4028235e38f})
        EXPECT_EQ(static_cast<float>(jsonNumber(f).get<double>()), f) << f;
    EXPECT_EQ(jsonNumber(0.1f).dump(), "0.1"); // the shortest decimal, not 0.10000000149011612
    EXPECT_TRUE(jsonNumber(NAN).is_null());
    EXPECT_TRUE(jsonNumber(-INFINITY).is_null());
}

} // namespace
} // namespace hairlab
