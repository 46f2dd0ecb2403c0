// hairlab eval end to end on BRDFHair: values worked out by hand from the model's formulas,
// the side weighting of getBRDF and the light colours eval leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hairlab {
namespace {

using test::hairlab;
using test::Outcome;

// eval --json on BRDFHair with the given extra arguments.
nlohmann::json evalJson(std::vector<std::string> args) {
    args.insert(args.begin(), {"eval", "--type", "BRDFHair", "--json"});
    Outcome r = hairlab(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return nlohmann::json::parse(r.out);
}

void expectLanes(const nlohmann::json& got, std::vector<double> want, double tol, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what << ": " << got.dump();
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i].get<double>(), want[i], tol) << what << " lane " << i;
}

// Specular colour (1, 0.5, 0.25), power 4, strand colour (0.2, 0.4, 0.6): with the strand along y
// the highlight factor is k = a·b + sqrt(1-a²)·sqrt(1-b²), a = L·T, b = D·T, and the result is
// diffuse + specular·k⁴ for a white light.
TEST(HairlabEval, HandComputedGeometries) {
    const std::vector<std::string> point = {"--set", "specular_color_tex=1,0.5,0.25", "--set", "specular_power=4",
                                            "--strand-color", "0.2,0.4,0.6"};
    struct Case {
        const char* dir;
        const char* light;
        double k4;
    };
    const Case cases[] = {
        {"0,0,-1", "0,0,1", 1.0},                // a = b = 0: k = 1
        {"0,0,-1", "0,0.6,0.8", 0.4096},         // a = 0.6, b = 0: k = 0.8
        {"0,0,-1", "0,-0.6,0.8", 0.4096},        // symmetric about the strand normal plane
        {"0,-0.6,-0.8", "0,-0.6,0.8", 1.0},      // a = b = -0.6: k = 0.36 + 0.64
        {"0,-0.6,-0.8", "0,0.6,0.8", 0.00614656},  // a = 0.6, b = -0.6: k = 0.28
        {"0,-0.6,-0.8", "0,3,4", 0.00614656},    // the light direction is normalised
        {"0,0,-1", "0,1,0", 0.0},                // along the strand: k = 0
        {"0.8,0,-0.6", "-0.6,0,0.8", 1.0},       // both across the strand: k = 1
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = point;
        args.insert(args.end(), {"--dir", c.dir, "--light", c.light});
        nlohmann::json j = evalJson(args);
        ASSERT_EQ(j["results"].size(), 1u);
        std::string what = std::string("dir ") + c.dir + " light " + c.light;
        expectLanes(j["results"][0]["color"], {0.2 + 1.0 * c.k4, 0.4 + 0.5 * c.k4, 0.6 + 0.25 * c.k4, 0.6 + 0.25 * c.k4},
                    2e-6, what);
    }
}

TEST(HairlabEval, TextIsOneLinePerLightWithFourLanes) {
    Outcome r = hairlab({"eval", "--type", "BRDFHair", "--strand-color", "0.1,0.25,1", "--light", "0,0,1", "--light",
                         "1,0,0", "--light", "0,0,-1"});
    ASSERT_EQ(r.status, 0) << r.err;
    // %.9g: 0.1f shows its float value; the light below the surface gives zero.
    EXPECT_EQ(r.out, "0.100000001 0.25 1 1\n0.100000001 0.25 1 1\n0 0 0 0\n");
}

TEST(HairlabEval, FlagsSelectDiffuseAndSpecular) {
    const std::vector<std::string> point = {"--set", "specular_color_tex=0.5,0.5,0.5", "--strand-color", "0.25,0.25,0.25",
                                            "--light", "0,0,1"};
    auto color = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = point;
        args.insert(args.end(), extra.begin(), extra.end());
        return evalJson(args)["results"][0]["color"][0].get<double>();
    };
    EXPECT_DOUBLE_EQ(color({}), 0.75);
    EXPECT_DOUBLE_EQ(color({"--flags", "1"}), 0.25);
    EXPECT_DOUBLE_EQ(color({"--flags", "2"}), 0.5);
    EXPECT_DOUBLE_EQ(color({"--flags", "0x2"}), 0.5);
    EXPECT_DOUBLE_EQ(color({"--flags", "0"}), 0.0);
    // The host's no-specular ray flag removes the highlight only.
    EXPECT_DOUBLE_EQ(color({"--ray-flags", "0x200"}), 0.25);
    EXPECT_DOUBLE_EQ(color({"--flags", "2", "--ray-flags", "0x200"}), 0.0);
    // The light colour scales the result.
    EXPECT_DOUBLE_EQ(color({"--light-color", "2,1,1"}), 1.5);
}

// getBRDF's mode: p = 2t/(1+t) for a non-zero side, (1+t)/2 for side 0; eval multiplies both light
// colours by p, and the sampler reports p as its transparency.
TEST(HairlabEval, SideWeightingOfGetBRDF) {
    struct Case {
        const char* side;
        const char* t;
        double tr, tg, tb;  // strand transparency
    };
    const Case cases[] = {
        {"0", "0.5,0.5,0.5", 0.5, 0.5, 0.5},
        {"1", "0.5,0.5,0.5", 0.5, 0.5, 0.5},
        {"-3", "0,0.25,1", 0.0, 0.25, 1.0},
        {"0", "0,0.25,1", 0.0, 0.25, 1.0},
    };
    for (const Case& c : cases) {
        nlohmann::json j = evalJson({"--side", c.side, "--strand-transparency", c.t, "--strand-color", "1,1,1",
                                     "--set", "specular_color_tex=1,1,1", "--light", "0,0,1", "--light-color",
                                     "0.4,0.8,2"});
        std::string what = std::string("side ") + c.side + " t " + c.t;
        bool zero = std::string(c.side) == "0";
        auto p = [&](double t) { return zero ? (1 + t) * 0.5 : 2 * t / (1 + t); };
        double pr = p(c.tr), pg = p(c.tg), pb = p(c.tb);
        const nlohmann::json& res = j["results"][0];
        expectLanes(res["light_color"], {0.4 * pr, 0.8 * pg, 2 * pb, 2 * pb}, 1e-6, what + " light");
        expectLanes(res["unshadowed_color"], {0.4 * pr, 0.8 * pg, 2 * pb, 2 * pb}, 1e-6, what + " unshadowed");
        expectLanes(j["transparency"], {pr, pg, pb, pb}, 1e-6, what + " transparency");
        expectLanes(j["opacity"], {1 - pr, 1 - pg, 1 - pb, 1 - pb}, 1e-6, what + " opacity");
        // White diffuse and specular, both scaled by the opacity 1 - t; k = 1 here.
        expectLanes(res["color"], {0.8 * (1 - c.tr), 1.6 * (1 - c.tg), 4 * (1 - c.tb), 4 * (1 - c.tb)}, 1e-6,
                    what + " color");
        expectLanes(j["light_multiplier"], {2 * (1 - c.tr), 2 * (1 - c.tg), 2 * (1 - c.tb), 2 * (1 - c.tb)}, 1e-6,
                    what + " multiplier");
    }
}

TEST(HairlabEval, LightBelowTheSurfaceLeavesLightColoursAlone) {
    nlohmann::json j = evalJson({"--strand-color", "1,1,1", "--strand-transparency", "0.5,0.5,0.5", "--light", "0,0,-1",
                                 "--light", "0,0,1", "--light-color", "0.5,0.25,1"});
    ASSERT_EQ(j["results"].size(), 2u);
    expectLanes(j["results"][0]["color"], {0, 0, 0, 0}, 0, "below");
    expectLanes(j["results"][0]["light_color"], {0.5, 0.25, 1, 1}, 0, "below light");
    expectLanes(j["results"][0]["unshadowed_color"], {0.5, 0.25, 1, 1}, 0, "below unshadowed");
    expectLanes(j["results"][0]["light"], {0, 0, -1}, 0, "below direction");
    // Each light starts from the given colour, not from what the previous eval left.
    expectLanes(j["results"][1]["light_color"], {0.375, 0.1875, 0.75, 0.75}, 1e-7, "above light");
    expectLanes(j["results"][1]["color"], {0.25, 0.125, 0.5, 0.5}, 1e-7, "above color");
}

TEST(HairlabEval, NormalAndStrandOptionsReachTheSampler) {
    // An explicit normal decides which side is lit.
    nlohmann::json flipped = evalJson({"--strand-color", "1,1,1", "--normal", "0,0,-5", "--light", "0,0,1"});
    expectLanes(flipped["results"][0]["color"], {0, 0, 0, 0}, 0, "flipped normal");
    // Without strand data the diffuse colour is white even with a connected texture, and the
    // normal stands in for the tangent: with L = n, a = 1 and b = D·n = -1, so k = 0 and the
    // highlight vanishes.
    nlohmann::json bare = evalJson({"--no-strand-data", "--set", "diffuse_color_tex=0.3,0.3,0.3", "--set",
                                    "specular_color_tex=1,1,1", "--light", "0,0,1"});
    expectLanes(bare["results"][0]["color"], {1, 1, 1, 1}, 1e-7, "no strand data");
    // With strand data, the texture replaces the strand colour.
    nlohmann::json tex = evalJson({"--strand-color", "1,1,1", "--set", "diffuse_color_tex=0.3,0.2,0.1", "--light",
                                   "0,0,1"});
    expectLanes(tex["results"][0]["color"], {0.3, 0.2, 0.1, 0.1}, 1e-7, "texture");
    // "none" leaves the texture unconnected again: the strand colour is back.
    nlohmann::json unbound = evalJson({"--strand-color", "1,1,1", "--set", "diffuse_color_tex=0.3,0.2,0.1", "--set",
                                       "diffuse_color_tex=none", "--light", "0,0,1"});
    expectLanes(unbound["results"][0]["color"], {1, 1, 1, 1}, 1e-7, "unbound");
    // The tangent given is the strand: along x, a light along x sees no highlight.
    nlohmann::json tangent = evalJson({"--set", "specular_color_tex=1,1,1", "--tangent", "1,0,0", "--light", "1,0,0"});
    expectLanes(tangent["results"][0]["color"], {0, 0, 0, 0}, 1e-7, "tangent");
}

TEST(HairlabEval, EveryTypeEvaluatesOrSaysItCannot) {
    // Each registered type either shades (finite numbers for lights around the sphere) or is
    // refused in one line with status 2.
    Outcome list = hairlab({"list", "--json"});
    ASSERT_EQ(list.status, 0);
    int shaded = 0;
    const nlohmann::json types = nlohmann::json::parse(list.out);
    for (auto& t : types["plugins"]) {
        std::string type = t["name"];
        Outcome r = hairlab({"eval", "--type", type, "--json", "--strand-color", "0.5,0.4,0.3", "--h", "0.3", "--light",
                             "0,0,1", "--light", "0,1,0", "--light", "0.3,-0.4,-0.2", "--light", "-1,0,0.01"});
        if (r.status == 2) {
            EXPECT_NE(r.err.find("cannot be instantiated"), std::string::npos) << type << ": " << r.err;
            continue;
        }
        ASSERT_EQ(r.status, 0) << type << ": " << r.err;
        ++shaded;
        nlohmann::json j = nlohmann::json::parse(r.out);
        ASSERT_EQ(j["results"].size(), 4u) << type;
        for (auto& res : j["results"])
            for (const char* key : {"color", "light_color", "unshadowed_color"})
                for (auto& v : res[key]) EXPECT_TRUE(v.is_number()) << type << " " << key << ": " << res.dump();
        for (const char* key : {"transparency", "opacity", "light_multiplier"})
            for (auto& v : j[key]) EXPECT_TRUE(v.is_number()) << type << " " << key;
    }
    EXPECT_GE(shaded, 1);
}

} // namespace
} // namespace hairlab
