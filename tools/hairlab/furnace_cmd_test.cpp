// hairlab furnace: the albedo integrator against cases with a closed form, its error bars and
// seeds, and the identities a lossless fibre must satisfy.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "point_options.h"

namespace hairlab {
namespace {

using test::hairlab;
using test::Outcome;

nlohmann::json furnaceJson(std::vector<std::string> args) {
    args.insert(args.begin(), {"furnace", "--json"});
    Outcome r = hairlab(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return nlohmann::json::parse(r.out);
}

double lane(const nlohmann::json& j, const char* key, int i) { return j[key][i].get<double>(); }

// BRDFHair's eval is its diffuse colour d·(1 - t) on the lit hemisphere and 0 below, with no
// cosine: (1/π)·∫ over the sphere gives 2·d·(1 - t). A specular power of 0 makes the highlight
// the constant s·(1 - t) on the same hemisphere. The view is tilted so that the lit hemisphere
// does not line up with the integrator's strata.
TEST(HairlabFurnace, AnalyticAlbedoOfTheLegacyFibre) {
    const int samples = 40000;
    struct Case {
        std::vector<std::string> args;
        double albedo[3];
    };
    const Case cases[] = {
        {{"--strand-color", "0.8,0.5,0.2", "--strand-transparency", "0.25,0,0.5"}, {1.2, 1.0, 0.2}},
        {{"--strand-color", "0.5,0.5,0.5", "--set", "specular_color_tex=0.25,0.5,0", "--set", "specular_power=0"},
         {1.5, 2.0, 1.0}},
        {{"--strand-color", "1,1,1", "--side", "1", "--strand-transparency", "0.5,0.5,0.5"}, {1.0, 1.0, 1.0}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--type", "BRDFHair", "--dir", "0.6,0.3,-0.7416198", "--samples",
                                         std::to_string(samples)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        nlohmann::json j = furnaceJson(args);
        for (int i = 0; i < 3; ++i) {
            double se = lane(j, "eval_stderr", i);
            EXPECT_NEAR(lane(j, "eval", i), c.albedo[i], 3 * se + 1e-6) << c.args[1] << " lane " << i;
            // Half the directions give 2·albedo and half give 0: the spread of one sample is
            // the albedo itself, and stratification can only do better.
            EXPECT_LE(se, c.albedo[i] / std::sqrt(double(samples)) * 1.05) << c.args[1] << " lane " << i;
            if (c.albedo[i] > 0) {
                EXPECT_GT(se, 0.0) << c.args[1] << " lane " << i;
            }
        }
        EXPECT_TRUE(j["sampled"].is_null());
        EXPECT_TRUE(j["sampled_stderr"].is_null());
    }
}

TEST(HairlabFurnace, TextOutputAndSeeds) {
    const std::vector<std::string> point = {"furnace", "--type", "BRDFHair", "--strand-color", "1,0.5,0.25", "--dir",
                                            "0.6,0.3,-0.7416198", "--samples", "10000"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = point;
        args.insert(args.end(), extra.begin(), extra.end());
        Outcome r = hairlab(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    };
    std::string first = with({"--seed", "7"});
    EXPECT_EQ(first, with({"--seed", "7"}));
    EXPECT_NE(first, with({"--seed", "8"}));
    std::istringstream in(first);
    std::string word, rest;
    double v[3], e[3];
    in >> word >> v[0] >> v[1] >> v[2] >> rest >> e[0] >> e[1] >> e[2];
    EXPECT_EQ(word, "eval");
    EXPECT_EQ(rest, "stderr");
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[i], 2.0 * (i == 0 ? 1.0 : i == 1 ? 0.5 : 0.25), 3 * e[i] + 1e-6);
    in >> word >> rest;
    EXPECT_EQ(word, "sampled");
    EXPECT_EQ(rest, "null");
}

// A white production fibre without diffuse light loss reflects everything: both estimates come
// out at 1 and agree with each other within their errors.
TEST(HairlabFurnace, LosslessFibreReflectsAllLight) {
    const int samples = 65536;
    for (const char* h : {"0", "0.6"}) {
        nlohmann::json j = furnaceJson({"--type", "BRDFHair4", "--set", "melanin=0", "--set", "pheomelanin=0", "--h", h,
                                        "--dir", "0.6,0.3,-0.7416198", "--samples", std::to_string(samples)});
        ASSERT_TRUE(j["sampled"].is_array()) << j.dump();
        for (int i = 0; i < 3; ++i) {
            double ev = lane(j, "eval", i), es = lane(j, "eval_stderr", i);
            double sv = lane(j, "sampled", i), ss = lane(j, "sampled_stderr", i);
            EXPECT_NEAR(ev, 1.0, 4 * es + 0.01) << "h " << h << " lane " << i;
            EXPECT_NEAR(sv, 1.0, 4 * ss + 0.01) << "h " << h << " lane " << i;
            EXPECT_NEAR(ev, sv, 4 * std::hypot(es, ss) + 0.01) << "h " << h << " lane " << i;
            // The reported errors are real spreads, not zero placeholders, for the integral.
            EXPECT_GT(es, 0.0);
            EXPECT_LT(es, 0.05);
        }
    }
}

TEST(HairlabFurnace, DefaultSampleCountMeetsTheErrorTarget) {
    // Measure the per-direction spread of the white production fibre once, then scale it to the
    // default count: the error there must stay below 0.002.
    const int samples = 65536;
    nlohmann::json j = furnaceJson({"--type", "BRDFHair4", "--set", "melanin=0", "--set", "pheomelanin=0", "--samples",
                                    std::to_string(samples)});
    for (int i = 0; i < 3; ++i) {
        double spread = lane(j, "eval_stderr", i) * std::sqrt(double(samples));
        EXPECT_LT(spread / std::sqrt(double(kFurnaceSamples)), 0.002) << "lane " << i;
        if (j["sampled"].is_array()) {
            double sampledSpread = lane(j, "sampled_stderr", i) * std::sqrt(double(samples));
            EXPECT_LT(sampledSpread / std::sqrt(double(kFurnaceSamples)), 0.002) << "lane " << i;
        }
    }
    // The legacy fibre's spread is exactly its albedo, 2 for white.
    EXPECT_LT(2.0 / std::sqrt(double(kFurnaceSamples)), 0.002);
}

} // namespace
} // namespace hairlab
