// Parsing of the shading-point options: numbers, flags, vectors and colours, and the defaults.
#include "point_options.h"

#include <gtest/gtest.h>

#include <cmath>

#include "errors.h"

namespace hairlab {
namespace {

// The message of the UsageError that parsing text for option raises ("" when none is raised).
template <class F>
std::string refusal(F&& parse) {
    try {
        parse();
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(PointOptions, IntegersInDecimalAndHex) {
    EXPECT_EQ(parseInt("--depth", "0"), 0);
    EXPECT_EQ(parseInt("--depth", "17"), 17);
    EXPECT_EQ(parseInt("--side", "-1"), -1);
    EXPECT_EQ(parseInt("--side", "+3"), 3);
    EXPECT_EQ(parseInt("--ray-flags", "0x200"), 0x200);
    EXPECT_EQ(parseInt("--ray-flags", "0X1000000"), 0x1000000);
    // Flags are bit patterns: the full 32 bits are accepted in hex.
    EXPECT_EQ(parseInt("--ray-flags", "0xFFFFFFFF"), -1);
    EXPECT_EQ(parseInt("--ray-flags", "0x80000000"), std::numeric_limits<int>::min());
    EXPECT_EQ(parseInt("--depth", "2147483647"), std::numeric_limits<int>::max());
    EXPECT_EQ(parseInt("--depth", "-2147483648"), std::numeric_limits<int>::min());
    // A leading zero is decimal, not octal.
    EXPECT_EQ(parseInt("--depth", "010"), 10);
}

TEST(PointOptions, MalformedIntegersNameTheOption) {
    for (const char* bad : {"", "x", "1.5", "0x", "0x1G", "0x100000000", "2147483648", "-2147483649", "1 ", " 1",
                            "-0x1", "1e3", "--1"}) {
        std::string msg = refusal([&] { parseInt("--ray-flags", bad); });
        EXPECT_EQ(msg.rfind("--ray-flags: '" + std::string(bad) + "'", 0), 0u) << bad << " -> " << msg;
    }
}

TEST(PointOptions, FloatsAreFiniteDecimals) {
    EXPECT_FLOAT_EQ(parseFloat("--h", "0.25"), 0.25f);
    EXPECT_FLOAT_EQ(parseFloat("--h", "-1e-3"), -1e-3f);
    EXPECT_FLOAT_EQ(parseFloat("--h", "+2"), 2.0f);
    EXPECT_FLOAT_EQ(parseFloat("--h", "3.4e38"), 3.4e38f);
    for (const char* bad : {"", " 1", "1 ", "nan", "inf", "-inf", "0x1p3", "1e39", "-1e39", "1,2", "abc", "1..2"}) {
        std::string msg = refusal([&] { parseFloat("--h", bad); });
        EXPECT_EQ(msg.rfind("--h: '" + std::string(bad) + "'", 0), 0u) << bad << " -> " << msg;
    }
}

TEST(PointOptions, UnsignedCounts) {
    EXPECT_EQ(parseUnsigned("--seed", "0"), 0u);
    EXPECT_EQ(parseUnsigned("--seed", "18446744073709551615"), ~std::uint64_t(0));
    EXPECT_EQ(parseUnsigned("--seed", "0xff"), 255u);
    for (const char* bad : {"", "-1", "+1", "18446744073709551616", "1.0", "0x"})
        EXPECT_NE(refusal([&] { parseUnsigned("--seed", bad); }), "") << bad;
}

TEST(PointOptions, VectorsDirectionsAndColours) {
    Vec3 v = parseVector("--tangent", "0,2,-3.5");
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(v.y, 2.0f);
    EXPECT_EQ(v.z, -3.5f);

    Vec3 d = parseDirection("--light", "3,0,-4");
    EXPECT_FLOAT_EQ(d.x, 0.6f);
    EXPECT_FLOAT_EQ(d.y, 0.0f);
    EXPECT_FLOAT_EQ(d.z, -0.8f);
    // Tiny but non-zero vectors still have a direction.
    Vec3 tiny = parseDirection("--dir", "1e-30,0,0");
    EXPECT_FLOAT_EQ(tiny.x, 1.0f);

    Rgb c = parseRgb("--gi", "0.1,0.2,0.3");
    EXPECT_FLOAT_EQ(c.r, 0.1f);
    EXPECT_FLOAT_EQ(c.g, 0.2f);
    EXPECT_FLOAT_EQ(c.b, 0.3f);

    EXPECT_EQ(refusal([] { parseDirection("--dir", "0,0,0"); }), "--dir: '0,0,0' is a zero vector, which has no direction");
    for (const char* bad : {"1,2", "1,2,3,4", "1,,3", ",1,2", "1,2,", "a,b,c", "1;2;3", "", "1,2,nan"})
        EXPECT_EQ(refusal([&] { parseVector("--normal", bad); }).rfind("--normal: '" + std::string(bad) + "'", 0), 0u)
            << bad;
    EXPECT_NE(refusal([] { parseRgb("--strand-color", "1,1"); }).find("r,g,b"), std::string::npos);
}

// Parses the given subcommand arguments into PointOptions through a real CLI11 command.
PointOptions parsePoint(std::vector<std::string> args, PointScope scope = PointScope::Shading) {
    CLI::App app;
    auto* cmd = app.add_subcommand("probe");
    PointArgs point;
    point.add(*cmd, scope);
    args.insert(args.begin(), {"app", "probe"});
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    app.parse(static_cast<int>(argv.size()), argv.data());
    return point.options();
}

TEST(PointOptions, EveryOptionReachesThePoint) {
    PointOptions o = parsePoint({"--type", "BRDFHair4", "--set", "melanin=0.5", "--set", "dye_color=none", "--set",
                                 "ior=a=b", "--unchecked", "--dir", "0,0,2", "--tangent", "1,0,0", "--normal", "0,3,0",
                                 "--h", "-0.5", "--strand-color", "1,0.5,0.25", "--strand-transparency", "0.1,0.2,0.3",
                                 "--strand-index", "7", "--strand-length", "2.5", "--strand-position", "0.75",
                                 "--no-strand-data", "--coverage", "0.4", "--depth", "3", "--ray-flags", "0x210",
                                 "--context-flags", "0x21", "--side", "1", "--unit-scale", "100", "--gi", "0.5,0.6,0.7",
                                 "--mis", "1"});
    ASSERT_EQ(o.sets.size(), 3u);
    EXPECT_EQ(o.sets[0], (std::pair<std::string, std::string>{"melanin", "0.5"}));
    EXPECT_EQ(o.sets[1], (std::pair<std::string, std::string>{"dye_color", "none"}));
    // Only the first '=' separates the name from the value.
    EXPECT_EQ(o.sets[2], (std::pair<std::string, std::string>{"ior", "a=b"}));
    EXPECT_TRUE(o.unchecked);
    EXPECT_EQ(o.dir.z, 1.0f);
    EXPECT_EQ(o.tangent.x, 1.0f);
    ASSERT_TRUE(o.normal.has_value());
    EXPECT_EQ(o.normal->y, 1.0f);
    EXPECT_EQ(o.h, -0.5f);
    EXPECT_EQ(o.strandColor.b, 0.25f);
    EXPECT_FLOAT_EQ(o.strandTransparency.g, 0.2f);
    EXPECT_EQ(o.strandIndex, 7);
    EXPECT_EQ(o.strandLength, 2.5f);
    EXPECT_EQ(o.strandPosition, 0.75f);
    EXPECT_TRUE(o.noStrandData);
    ASSERT_TRUE(o.coverage.has_value());
    EXPECT_FLOAT_EQ(*o.coverage, 0.4f);
    EXPECT_EQ(o.depth, 3);
    EXPECT_EQ(o.rayFlags, 0x210);
    EXPECT_EQ(o.contextFlags, 0x21);
    EXPECT_EQ(o.side, 1);
    ASSERT_TRUE(o.unitScale.has_value());
    EXPECT_EQ(*o.unitScale, 100.0);
    EXPECT_FLOAT_EQ(o.gi.g, 0.6f);
    EXPECT_EQ(o.mis, 1);
}

TEST(PointOptions, InstanceOnlyScopeHasNoGeometry) {
    PointOptions o = parsePoint({"--type", "BRDFHair3", "--unit-scale", "2"}, PointScope::InstanceOnly);
    EXPECT_EQ(o.type, "BRDFHair3");
    EXPECT_EQ(*o.unitScale, 2.0);
    EXPECT_THROW(parsePoint({"--type", "BRDFHair3", "--dir", "1,0,0"}, PointScope::InstanceOnly), CLI::ParseError);
}

TEST(PointOptions, OutputNumbers) {
    EXPECT_EQ(formatLanes({0.1f, 1.0f, -2.5f, 1e-10f}), "0.100000001 1 -2.5 1.00000001e-10");
    EXPECT_EQ(formatLanes({}), "");
    // JSON numbers read back as the same float, and non-finite values become null.
    for (float f : {0.1f, 1.0f / 3.0f, 1e-30f, 3.4e38f, -0.0f}) {
        Json j = jsonNumber(f);
        ASSERT_TRUE(j.is_number_float());
        EXPECT_EQ(static_cast<float>(j.get<double>()), f);
    }
    EXPECT_EQ(jsonNumber(0.1f).dump(), "0.1");
    EXPECT_TRUE(jsonNumber(std::nanf("")).is_null());
    EXPECT_TRUE(jsonNumber(INFINITY).is_null());
    EXPECT_EQ(jsonLanes({1, 2}).dump(), "[1.0,2.0]");
}

} // namespace
} // namespace hairlab
