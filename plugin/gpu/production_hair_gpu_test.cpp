// The description BRDFHair4 gives the GPU renderer, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "harness/test_support.h"

namespace hair {
namespace {

struct GpuInstance {
    harness::Instance inst{harness::test::library(), "BRDFHair4"};
    quor::QuorRenderer renderer;
    quor::SimpleSceneObject scene;
    void setFloat(const char* name, float v) { inst.plugin().getParameter(name)->setFloat(v); }
    void beginFrame(double scale) {
        scene.hasUnits = true;
        scene.scale = scale;
        renderer.scene = &scene;
        inst.plugin().frameBegin(&renderer);
    }
    void setInt(const char* name, int v) { inst.plugin().getParameter(name)->setInt(v); }
    std::string describe(const char* kind, int* result = nullptr) {
        std::string text;
        int r = -1;
        EXPECT_TRUE(inst.gpuSource(kind, text, r));
        if (result) *result = r;
        return text;
    }
};

const char* const kPlainFloats[] = {"random_melanin",         "random_dye_hue",    "random_dye_saturation",
                                    "random_dye_value",       "random_glossiness", "random_softness",
                                    "random_highlight_shift", "random_ior",        "random_tangent",
                                    "glint_strength",         "glint_variation",   "glitter_strength",
                                    "glitter_size",           "glint_scale"};

TEST(ProductionHairGpu, UnconnectedDescription) {
    GpuInstance g;
    for (const char* name : kPlainFloats)
        g.setFloat(name, 0.0f);
    g.setInt("trace_depth", 5);
    int result = 0;
    std::string text = g.describe("MaterialDescriptor", &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(
        text,
        "brdf_hair_mtl_4\n"
        "diffuse\nnull\n"
        "hair_diffuseAmount\nnull\n"
        "hair_overallColor\nnull\n"
        "hair_texFloatTransmissionGlossA\nnull\n"
        "hair_texFloatTransmissionGlossB\nnull\n"
        "hair_texFloatGloss1\nnull\n"
        "hair_texFloatGloss2\nnull\n"
        "hair_texAmount1\nnull\n"
        "reflection_ior\nnull\n"
        "hair_texAmount2\nnull\n"
        "hair_texTransmissionAmount\nnull\n"
        "opacity\nnull\n"
        "reflection_maxdepth 5\n"
        "hair_texColorSpec1\nnull\n"
        "hair_texColorSpec2\nnull\n"
        "hair_texColorTransmission\nnull\n"
        // The format's blank, then the value text, which begins with its own blank.
        "sss_albedo_table  0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
        "0.000000 0.000000 0.000000 0.000000 0.000000 100.000000\n");
}

TEST(ProductionHairGpu, TexturesFollowTheirKeysAndValuesInOrder) {
    GpuInstance g;
    g.inst.set("melanin", "0.75");
    g.inst.set("pheomelanin", "0.125");
    g.inst.set("transparency", "0.5,0.25,0");
    g.inst.set("secondary_tint", "1,0.5,0.25");
    for (int i = 0; i < 14; ++i)
        g.setFloat(kPlainFloats[i], 0.5f + static_cast<float>(i));
    g.beginFrame(0.01);
    std::string text = g.describe("MaterialDescriptor");
    auto after = [&](const std::string& key) {
        std::size_t at = text.find("\n" + key + "\n");
        EXPECT_NE(at, std::string::npos) << key;
        std::size_t start = at + key.size() + 2;
        return text.substr(start, text.find('\n', start) - start);
    };
    EXPECT_EQ(text.rfind("brdf_hair_mtl_4\nneeds_strand_lengths\ndiffuse\n", 0), 0u);
    EXPECT_EQ(after("hair_texFloatTransmissionGlossA"), "float 0.75");
    EXPECT_EQ(after("hair_texFloatTransmissionGlossB"), "float 0.125");
    EXPECT_EQ(after("opacity"), "color 0.5 0.25 0 1");
    EXPECT_EQ(after("hair_texColorSpec2"), "color 1 0.5 0.25 1");
    EXPECT_EQ(after("hair_texColorSpec1"), "null");
    EXPECT_EQ(after("hair_texColorTransmission").rfind("sss_albedo_table", 0), std::string::npos);
    EXPECT_NE(text.find("reflection_maxdepth 10\n"), std::string::npos);
    EXPECT_NE(text.find("sss_albedo_table  0.500000 1.500000 2.500000 3.500000 4.500000 5.500000 6.500000 "
                        "7.500000 8.500000 9.500000 10.500000 11.500000 12.500000 13.500000 1.000000\n"),
              std::string::npos);
}

TEST(ProductionHairGpu, PlainValuesAreFiniteWhateverTheHostHandsOver) {
    GpuInstance g;
    for (const char* name : kPlainFloats)
        g.setFloat(name, 0.0f);
    g.setFloat("random_melanin", std::nanf(""));
    g.setFloat("glint_scale", -INFINITY);
    g.beginFrame(3.4e38); // the unit scale times 100 is past the float range
    std::string text = g.describe("MaterialDescriptor");
    const std::string max = "340282346638528859811704183484516925440.000000";
    EXPECT_NE(text.find("sss_albedo_table  0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 "
                        "0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 -" +
                        max + " " + max + "\n"),
              std::string::npos)
        << text;
}

TEST(ProductionHairGpu, StrandLengthsOnlyForPatterns) {
    GpuInstance g;
    g.setFloat("glint_variation", 0.0f);
    g.setFloat("glitter_strength", 0.001f);
    EXPECT_NE(g.describe("MaterialDescriptor").find("needs_strand_lengths\n"), std::string::npos);
    g.setFloat("glitter_strength", 0.0f);
    EXPECT_EQ(g.describe("MaterialDescriptor").find("needs_strand_lengths"), std::string::npos);
    g.setFloat("glint_variation", -0.5f);
    EXPECT_EQ(g.describe("MaterialDescriptor").find("needs_strand_lengths"), std::string::npos);
    g.setFloat("glint_variation", 1e-6f);
    EXPECT_NE(g.describe("MaterialDescriptor").find("needs_strand_lengths\n"), std::string::npos);
}

TEST(ProductionHairGpu, OtherKindsWriteNothing) {
    GpuInstance g;
    for (const char* kind : {"materialdescriptor", ""}) {
        int result = 0;
        EXPECT_EQ(g.describe(kind, &result), "") << kind;
        EXPECT_EQ(result, 1) << kind;
    }
}

} // namespace
} // namespace hair
