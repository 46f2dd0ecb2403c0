// Look files: a render saved as a look file renders again to the same bytes; a file holds every
// parameter of every material; the command line overrides the file; every malformed file is one
// line naming the file and the key, with status 2, before any work.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "harness/test_support.h"
#include "lookdev/look_file.h"
#include "render/scene_impl.h"

namespace lookdev {
namespace {

using hairlab::test::Args;
using hairlab::test::hairlab;
using hairlab::test::Outcome;
using hairlab::test::readFile;
using hairlab::test::writeFile;

std::string temp(const std::string& name) { return ::testing::TempDir() + "look_file_test_" + name; }

// A small .hair groom of three straight strands.
std::string groomFile() {
    std::string path = temp("groom.hair"), bytes(128, '\0');
    auto put = [&](std::size_t at, const void* v) { bytes.replace(at, 4, static_cast<const char*>(v), 4); };
    std::uint32_t strands = 3, points = 12, flags = 2, segments = 3;
    float thickness = 0.02f;
    bytes.replace(0, 4, "HAIR");
    put(4, &strands), put(8, &points), put(12, &flags), put(16, &segments), put(20, &thickness);
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < 4; ++i)
            for (float v : {s * 0.3f, -i * 0.5f, 0.0f})
                bytes.append(reinterpret_cast<const char*>(&v), 4);
    writeFile(path, bytes);
    return path;
}

// render ... -o PNG --save-look F, then render --look F: the same picture, byte for byte.
TEST(LookFile, RenderAgainFromTheFileGivesTheSameBytes) {
    const Args small = {"--res", "48x27", "--spp", "1", "--strands", "200", "--threads", "2"};
    const std::vector<Args> shots = {
        {"--scene", "sheet", "--set", "glossiness=0.3"},
        {"--scene", "sweep", "--sweep", "melanin=0:1:3", "--sweep", "preset=red,white", "--camera-orbit",
         "20"},
        {"--scene", "groom", "--groom", groomFile(), "--type", "BRDFHair3", "--strand-color", "0.5,0.2,0.1"},
        {"--scene", "swatch", "--set", "dye_color=strand", "--lights", "key=1.5,fill", "--env-rotate", "90",
         "--env-intensity", "0.3", "--exposure", "1.7"},
    };
    for (const Args& shot : shots) {
        const std::string png = temp("round.png"), look = temp("round.json");
        Outcome first =
            hairlab(hairlab::test::with(hairlab::test::with({"render", "-q"}, shot),
                                        hairlab::test::with(small, {"-o", png, "--save-look", look})));
        ASSERT_EQ(first.status, 0) << first.err;
        const std::string picture = readFile(png);
        std::remove(png.c_str());
        Outcome again = hairlab({"render", "-q", "--look", look});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(readFile(png), picture) << shot[1];
    }
}

// Another type, preset or label on the same locks keeps the strands and their acceleration
// structure, and renders as the same shot composed afresh.
TEST(LookFile, RestyledLocksRenderAsAFreshComposition) {
    const std::string look = temp("restyle.json");
    Outcome saved = hairlab({"render", "-q", "--res", "48x27", "--spp", "1", "--strands", "200", "-o",
                             temp("restyle.png"), "--save-look", look});
    ASSERT_EQ(saved.status, 0) << saved.err;
    harness::Library& lib = harness::test::library();
    Shot shot = loadShot(lib, look);
    std::unique_ptr<Composition> c = compose(lib, shot);
    const auto* accel = c->scene.impl().scene;
    ASSERT_GE(shot.looks.size(), 2u);
    const auto at =
        std::find_if(shot.looks.begin(), shot.looks.end(), [](auto& l) { return l.type == "BRDFHair4"; });
    ASSERT_NE(at, shot.looks.end());
    at->saved.reset();
    at->preset = "red";
    Look& other = shot.looks[at == shot.looks.begin() ? 1 : 0];
    other = Look{"BRDFHair2", std::nullopt, false, false, "", {}, {{"r_mult", "3"}}, "shiny"};
    restyle(lib, *c, shot);
    EXPECT_EQ(c->scene.impl().scene, accel);
    EXPECT_EQ(c->labels[&other - &shot.looks[0]], "shiny");
    EXPECT_EQ(c->render().hair.data, compose(lib, shot)->render().hair.data);
}

// Every registered parameter is written out, so the file keeps its meaning if a default changes.
TEST(LookFile, HoldsEveryParameterOfEveryMaterial) {
    const std::string look = temp("every.json");
    ASSERT_EQ(hairlab({"render", "-q", "--res", "8x8", "--spp", "1", "--strands", "10", "-o",
                       temp("every.png"), "--save-look", look})
                  .status,
              0);
    Json j = Json::parse(readFile(look));
    EXPECT_EQ(j["format"], kLookFormat);
    harness::Library& lib = hairlab::test::library();
    ASSERT_EQ(j["looks"].size(), lib.typeNames().size());
    for (const Json& l : j["looks"]) {
        const auto* desc = lib.host().params(lib.type(l["type"].get<std::string>()));
        EXPECT_EQ(l["parameters"].size(), std::size_t(desc->count())) << l["type"];
        EXPECT_EQ(l["id"], lib.type(l["type"].get<std::string>())->getPluginTypeId());
    }
    // The probes read the material of a lock: the same answer as its values given by hand.
    Outcome fromFile = hairlab({"eval", "--look", look, "--lock", "3", "--light", "0,0.6,0.8"});
    Outcome byHand =
        hairlab({"eval", "--type", "BRDFHair4", "--set", "melanin=0.55", "--set", "pheomelanin=0.35", "--set",
                 "glint_strength=0.7", "--set", "glint_variation=0.5", "--set", "glitter_strength=0.9",
                 "--set", "random_melanin=0.05", "--set", "trace_depth=6", "--light", "0,0.6,0.8"});
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, byHand.out);
    Outcome unpicked = hairlab({"eval", "--look", look, "--light", "0,0,1"});
    EXPECT_EQ(unpicked.status, 2);
    EXPECT_NE(unpicked.err.find("holds 4 looks; pick one with --lock N (0 to 3)"), std::string::npos)
        << unpicked.err;
    // The command line wins over the file.
    Outcome over = hairlab({"render", "--look", look, "--res", "10x6", "-q"});
    EXPECT_NE(over.out.find("10x6, 1 spp"), std::string::npos) << over.out << over.err;
}

struct BadFile {
    std::string text;
    std::string message; // a fragment of the one line, which also names the case
};

const std::string kLook = R"({"type": "BRDFHair4", "parameters": {}})";
std::string shot(const std::string& extra, const std::string& looks = "[" + kLook + "]") {
    return R"({"format": 1, "subject": "swatch", "looks": )" + looks +
           R"(, "render": {"width": 8, "height": 8, "spp": 1})" + extra + "}";
}
std::string look(const std::string& params, const std::string& extra = "") {
    return shot(extra, R"([{"type": "BRDFHair4", "parameters": )" + params + "}]");
}

TEST(LookFile, RefusesEveryMalformedFileInOneLine) {
    const std::vector<BadFile> bad = {
        {"{\"format\": 1,", "not JSON"},
        {"[1, 2]", "expected an object, not an array"},
        {R"({"subject": "swatch", "looks": []})", "key 'format': missing"},
        {R"({"format": 2, "subject": "swatch", "looks": []})", "version 2 is newer than this build"},
        {R"({"format": "1"})", "key 'format': expected an integer, not a string"},
        {R"({"format": 1, "subject": "swatch"})", "key 'looks': missing"},
        {shot(R"(, "lookz": 1)"), "unknown key 'lookz' (did you mean looks?)"},
        {shot(R"(, "camera": {"zom": 2})"), "unknown key 'camera.zom' (did you mean zoom?)"},
        {R"({"format": 1, "subject": "teapot", "looks": []})", "'teapot' is not one of"},
        {shot("", R"([{"type": "BRDFHair9", "parameters": {}}])"), "key 'looks[0].type': unknown type"},
        {shot("", R"([{"parameters": {}}])"), "key 'looks[0].type': missing"},
        {shot("", R"([{"type": "BRDFHair4", "id": 7, "parameters": {}}])"), "key 'looks[0].id'"},
        {look(R"({"melanine": 0.5})"), "unknown parameter 'melanine' for BRDFHair4 (did you mean melanin?)"},
        {look(R"({"melanin": 5})"), "key 'looks[0].parameters.melanin': value 5 is outside"},
        {look(R"({"melanin": {"a": 1}})"), "key 'looks[0].parameters.melanin': expected"},
        {look(R"({"dye_color": [1, "x", 1]})"), "key 'looks[0].parameters.dye_color'"},
        {shot(R"(, "lighting": {"exposure": -1})"), "key 'lighting.exposure'"},
        {shot(R"(, "lighting": {"lights": "key,sun"})"),
         "key 'lighting.lights': lights: 'sun' is not a light"},
        {shot(R"(, "lighting": {"lights": "rim=-1"})"), "key 'lighting.lights'"},
        {shot(R"(, "lighting": {"env_intensity": 1e6})"), "key 'lighting.env_intensity'"},
        {shot("", "[" + kLook + R"(], "camera": {"orbit": "left"})"),
         "key 'camera.orbit': expected a number"},
        {shot(R"(, "camera": {"zoom": 1000})"), "key 'camera.zoom': 1000 is outside [0.1, 100]"},
        {shot(R"(, "groom": {"lock": "curly"})"), "key 'groom.lock': 'curly' is not straight or wavy"},
        {shot(R"(, "groom": {"strand_color": [1, 2]})"), "key 'groom.strand_color': expected a colour"},
        {shot(R"(, "groom": {"file": "missing.hair"})"), "key 'groom.file': cannot read"},
        {shot(R"(, "lighting": {"environment": "sky.exr"})"), "key 'lighting.environment': cannot read"},
        {shot("", "[" + kLook + "," + kLook + "]"), "a swatch shot has 1 look, not 2"},
        {shot(R"(, "sweeps": [{"parameter": "melanin", "from": 0, "to": 1, "count": 0}])"),
         "key 'sweeps[0].count': 0 is outside [1, 64]"},
    };
    const std::string path = temp("bad.json");
    for (const BadFile& b : bad) {
        writeFile(path, b.text);
        Outcome o = hairlab({"render", "--look", path, "-o", temp("bad.png")});
        EXPECT_EQ(o.status, 2) << b.message;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << b.message << ": " << o.err;
        EXPECT_NE(o.err.find(b.message), std::string::npos) << b.message << ": " << o.err;
        EXPECT_TRUE(o.out.empty()) << b.message;
    }
    // --unchecked lets a value past its limit through, as it does for --set, and so does a file saved so.
    writeFile(path, look(R"({"melanin": 5})"));
    EXPECT_EQ(hairlab({"render", "-q", "--unchecked", "--look", path, "-o", temp("bad.png")}).status, 0);
    writeFile(path, look(R"({"melanin": 5})", R"(, "unchecked": true)"));
    EXPECT_EQ(hairlab({"render", "-q", "--look", path, "-o", temp("bad.png")}).status, 0);
}

} // namespace
} // namespace lookdev
