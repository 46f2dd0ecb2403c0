// BRDFHair3's description for the GPU renderer, byte for byte, as a host reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/test_support.h"

namespace hair {
namespace {

struct Outcome {
    int result = -1;
    std::string out;
};

// The MaterialDescriptor text (or another kind's) of an instance with these NAME=VALUE sets.
Outcome describe(const std::vector<std::string>& sets, const char* kind = "MaterialDescriptor") {
    harness::ParamSets ps;
    for (const std::string& s : sets)
        ps.emplace_back(s.substr(0, s.find('=')), s.substr(s.find('=') + 1));
    harness::Instance inst(harness::test::library(), "BRDFHair3", ps);
    Outcome r;
    EXPECT_TRUE(inst.gpuSource(kind, r.out, r.result));
    return r;
}

const char* const kSwitches[5] = {"secondary_lock_to_transmission", "opaque_for_gi", "opaque_for_shadows",
                                  "simplify_for_gi", "use_cached_gi"};
const char* const kSwitchKeys[5] = {"hair_lock_trt\n", "hair_opaque_gi\n", "hair_opaque_shadows\n",
                                    "hair_simplify_gi\n", "hair_use_cached_gi\n"};
const char* const kTextureKeys[14] = {"diffuse\n",
                                      "hair_diffuseAmount\n",
                                      "hair_overallColor\n",
                                      "hair_texColorSpec1\n",
                                      "hair_texAmount1\n",
                                      "hair_texFloatGloss1\n",
                                      "hair_texColorSpec2\n",
                                      "hair_texAmount2\n",
                                      "hair_texFloatGloss2\n",
                                      "hair_texColorTransmission\n",
                                      "hair_texTransmissionAmount\n",
                                      "hair_texFloatTransmissionGlossA\n",
                                      "hair_texFloatTransmissionGlossB\n",
                                      "opacity\n"};

TEST(ArtistHairGpu, KeysInOrderForEverySwitchCombination) {
    for (int mask = 0; mask < 32; ++mask) {
        std::vector<std::string> args;
        std::string expect = "is_hair_mtl\n";
        for (int i = 0; i < 5; ++i) {
            bool on = mask & (1 << i);
            args.push_back(std::string(kSwitches[i]) + (on ? "=true" : "=false"));
            if (on) expect += kSwitchKeys[i];
        }
        // Unconnected textures: the host writes its own text for a null texture.
        for (const char* key : kTextureKeys)
            expect += std::string(key) + "null\n";
        Outcome r = describe(args);
        EXPECT_EQ(r.result, 1) << mask;
        EXPECT_EQ(r.out, expect) << mask;
    }
}

TEST(ArtistHairGpu, TextureTextFollowsItsKey) {
    Outcome r =
        describe({"secondary_lock_to_transmission=false", "simplify_for_gi=false", "use_cached_gi=false",
                  "diffuse_color=0.5,0.25,1", "primary_glossiness=0.75", "transparency=0.125,0.125,0.125",
                  "light_multiplier=3", "transmission_in_specular=true"});
    ASSERT_EQ(r.result, 1);
    std::string expect = "is_hair_mtl\n";
    for (const char* key : kTextureKeys) {
        std::string k = key;
        std::string tex = "null\n";
        if (k == "diffuse\n") tex = "color 0.5 0.25 1 1\n";
        if (k == "hair_texFloatGloss1\n") tex = "float 0.75\n";
        if (k == "opacity\n") tex = "color 0.125 0.125 0.125 1\n";
        expect += k + tex;
    }
    // light_multiplier and transmission_in_specular are not part of the description.
    EXPECT_EQ(r.out, expect);
}

TEST(ArtistHairGpu, OtherKindsWriteNothing) {
    for (const char* kind : {"materialdescriptor", "MaterialDescriptor ", "Material", ""}) {
        Outcome r = describe({}, kind);
        EXPECT_EQ(r.out, "") << kind;
        EXPECT_EQ(r.result, 0) << kind;
    }
}

} // namespace
} // namespace hair
