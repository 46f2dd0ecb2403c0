// hairlab render: bad input refused in one line (status 2); a render writes every file named and one
// summary line, the same file for the same seed; sweeps label each lock; --set wins over presets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "render/render.h"

namespace hairlab {
namespace {

using hairlab::test::hairlab;
using hairlab::test::Outcome;
using hairlab::test::readFile;

// Width and height from a PNG's header chunk.
std::pair<unsigned, unsigned> pngSize(const std::string& bytes) {
    auto be = [&](std::size_t at) { // big-endian 32 bits
        unsigned v = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            v = v << 8 | static_cast<unsigned char>(bytes[i]);
        return v;
    };
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    return {be(16), be(20)};
}

int lineCount(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST(HairlabRender, RefusesBadInputWithOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {"render", "--scene", "teapot"},
        {"render", "--scene", "sheet", "--type", "BRDFHair"},
        {"render", "--scene", "swatch", "--type", "NoSuchHair"},
        {"render", "--scene", "swatch", "--type", "BRDFHair4", "--set", "melanin=5"},
        {"render", "--scene", "swatch", "--type", "BRDFHair4", "--set", "no_such_parameter=1"},
        {"render", "--width", "0"},
        {"render", "--width", "8193"},
        {"render", "--spp", "many"},
        {"render", "--width", "4096", "--height", "4096", "--spp", "65"}, // the whole job is capped
        {"render", "--threads", "1024"},
        {"render", "--scene", "ball", "--strands", "1000000"},
        {"render", "--strand-color", "1,2"},
        {"render", "--scene", "swatch", "--type", ""},
        {"render", "--strands", ""},
        {"render", "--strand-color", ""},
        {"render", "-o", ""},
        {"render", "-o", "--help"},
        {"render", "-o", "/nonexistent-folder/x.png"},
        {"render", "-o", "/proc/x.png"}, // a folder nobody may create files in
        {"render", "-o", "picture.bmp"},
        {"render", "-o", "/tmp"},
        {"render", "-o", "/tmp/.png"}, // an extension without a name
        {"render", "--scene", "sweep"},
        {"render", "--scene", "sweep", "--sweep", "melanin=0:1:0"},
        {"render", "--scene", "sweep", "--sweep", "melanin=0:1"},
        {"render", "--scene", "sweep", "--sweep", "melanin=0:1:9", "--sweep", "softness=0:1:9"}, // 81 locks
        {"render", "--scene", "sweep", "--type", "BRDFHair3", "--sweep", "preset=black"},
        {"render", "--scene", "sweep", "--sweep", "melanin=0:1:3", "--set", "melanin=0.5"},
        {"render", "--preset", "purple"},
        {"render", "--scene", "swatch", "--type", "BRDFHair", "--preset", "black"},
        {"render", "--set", "no_such_parameter=1"}, // the sheet: no type has it
        {"render", "--res", "1920by1080"},
        {"render", "--res", "640x360", "--width", "640"},
        {"render", "--defaults", "--scene", "swatch"},
        {"render", "--lights", "sun"},
        {"render", "--lights", "key,key"},
        {"render", "--lights", "key=x"},
        {"render", "--lights", "rim=2000"},
        {"render", "--env-rotate", "400"},
        {"render", "--env-intensity", "-1"},
        {"render", "--scene", "furnace", "--lights", "none"},
        {"render", "--scene", "furnace", "--env-intensity", "2"},
        {"render", "--labels", "maybe"},
        {"render", "--adaptive", "sometimes"},
        {"render", "--adaptive-threshold", "0"},
        {"render", "--adaptive-threshold", "1.5"},
        {"render", "--save-groom", "groom.txt"},
        {"render", "--save-groom", "/nonexistent-folder/g.hair"},
    };
    for (auto& args : bad) {
        Outcome o = hairlab(args);
        EXPECT_EQ(o.status, 2) << args[2];
        EXPECT_EQ(lineCount(o.err), 1) << o.err; // refused before rendering: no progress, no legend
        EXPECT_TRUE(o.out.empty());
    }
    // The furnace, refused with any other light, renders with the rig it keeps.
    const std::string png = ::testing::TempDir() + "hairlab_furnace_test.png";
    Outcome furnace = hairlab(
        {"render", "--scene", "furnace", "--res", "8x8", "--spp", "1", "-q", "--strands", "500", "-o", png});
    EXPECT_EQ(furnace.status, 0) << furnace.err;
    std::remove(png.c_str());
    // A near miss is named.
    EXPECT_NE(hairlab({"render", "--set", "melanine=0.3"}).err.find("did you mean melanin?"),
              std::string::npos);
    EXPECT_NE(hairlab({"render", "--preset", "blond"}).err.find("did you mean blonde?"), std::string::npos);
    // The system's reason is in the line.
    EXPECT_NE(hairlab({"render", "-o", "/nonexistent-folder/x.png"}).err.find("No such file or directory"),
              std::string::npos);
}

TEST(HairlabRender, WritesThePictureAndOneSummaryLine) {
    std::string path = ::testing::TempDir() + "hairlab_render_test.png";
    const test::Args job = {"render", "--scene",   "swatch", "--type", "BRDFHair4", "--width",
                            "20",     "--height",  "14",     "--spp",  "1",         "--threads",
                            "1",      "--strands", "300",    "-o",     path};
    Outcome o = hairlab(job);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(lineCount(o.out), 1);
    // "<file>: 20x14, 1 spp, 1 thread, build B s, render S s, R shading points/s (C per CPU-second)"
    std::string prefix = path + ": 20x14, 1 spp, 1 thread, ";
    ASSERT_EQ(o.out.compare(0, prefix.size(), prefix), 0) << o.out;
    double build = -1, seconds = -1, rate = -1, perCpu = -1;
    char tail[64] = {};
    int got = std::sscanf(o.out.c_str() + prefix.size(),
                          "build %lf s, render %lf s, %lf shading points/s (%lf per CPU-second%63s", &build,
                          &seconds, &rate, &perCpu, tail);
    EXPECT_EQ(got, 5) << o.out;
    EXPECT_GE(build, 0);
    EXPECT_GE(seconds, 0); // printed to 0.01 s: a tiny render shows 0.00
    EXPECT_GT(rate, 0);
    EXPECT_GT(perCpu, 0);
    EXPECT_EQ(std::string(tail), ")");
    std::string first = readFile(path);
    EXPECT_EQ(pngSize(first), std::make_pair(20u, 14u));

    // Same seed and thread count: the same file; another seed: another picture.
    ASSERT_EQ(hairlab(job).status, 0);
    EXPECT_EQ(readFile(path), first);
    ASSERT_EQ(hairlab(test::with(job, {"--seed", "5"})).status, 0);
    EXPECT_NE(readFile(path), first);
    std::remove(path.c_str());
}

// Each procedural groom, saved as rendered and read back, packs like hair at every height.
TEST(HairlabRender, SavedGroomsPackLikeHair) {
    using quor::render::Growth;
    const std::string hair = ::testing::TempDir() + "hairlab_groom_test.hair";
    const std::string png = ::testing::TempDir() + "hairlab_groom_test.png";
    struct Case {
        std::vector<std::string> args;
        Growth growth;
        std::size_t strands;
    };
    const std::vector<Case> cases = {
        {{"--scene", "swatch"}, Growth::Down, 2000},
        {{"--scene", "swatch", "--lock", "wavy", "--groom-seed", "3"}, Growth::Down, 2000},
        {{"--scene", "swatch", "--strands", "20000"}, Growth::Down, 20000}, // a larger lock, as dense
        {{"--scene", "ball"}, Growth::Outward, 40000}};
    double lockDrift = 0; // the lock the groom is made for
    for (const Case& c : cases) {
        Outcome o = hairlab(test::with(
            {"render", "--res", "8x8", "--spp", "1", "-q", "-o", png, "--save-groom", hair}, c.args));
        ASSERT_EQ(o.status, 0) << o.err;
        std::vector<quor::render::Strand> strands = quor::render::readHairFile(hair);
        EXPECT_EQ(strands.size(), c.strands) << c.args[1];
        std::vector<float> f =
            quor::render::volumeFractions(strands, c.growth, 12, quor::render::densityCell(strands));
        ASSERT_EQ(f.size(), 12u);
        for (std::size_t i = 0; i < f.size(); ++i) {
            EXPECT_GE(f[i], 0.15f) << c.strands << " " << c.args[1] << " height " << i;
            EXPECT_LE(f[i], 0.5f) << c.strands << " " << c.args[1] << " height " << i;
        }
        // Clumps keep their size in a larger lock: what is left of the tips' places after the
        // best straight-line fit to the roots' (the lock's own taper) is no larger.
        double drift = 0;
        for (int axis : {0, 2}) {
            double n = 0, sr = 0, st = 0, srr = 0, srt = 0, stt = 0;
            for (const quor::render::Strand& s : strands) {
                double r = s.points[axis], t = s.points[s.points.size() - 4 + axis];
                n += 1, sr += r, st += t, srr += r * r, srt += r * t, stt += t * t;
            }
            double vr = srr - sr * sr / n, cov = srt - sr * st / n, vt = stt - st * st / n;
            drift += (vt - cov * cov / vr) / n;
        }
        drift = std::sqrt(drift);
        if (&c == &cases.front()) lockDrift = drift;
        if (c.strands == 20000) {
            EXPECT_LT(drift, 1.5 * lockDrift);
        }
    }
    // The groom goes with the picture: a sheet writes every lock, in its place.
    Outcome o = hairlab(
        {"render", "--res", "8x8", "--spp", "1", "-q", "--strands", "10", "-o", png, "--save-groom", hair});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(quor::render::readHairFile(hair).size(), 10u * 4);
    std::remove(hair.c_str());
    std::remove(png.c_str());
}

TEST(HairlabRender, OneRenderWritesEveryOutput) {
    std::string png = ::testing::TempDir() + "hairlab_outputs_test.png";
    std::string exr = ::testing::TempDir() + "hairlab_outputs_test.exr";
    std::remove(exr.c_str());
    Outcome o = hairlab({"render", "--scene", "swatch", "--width", "16", "--height", "16", "--spp", "1",
                         "--threads", "1", "--strands", "300", "-o", png, "-o", exr});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.compare(0, png.size() + exr.size() + 4, png + ", " + exr + ": "), 0) << o.out;
    EXPECT_EQ(readFile(exr).compare(0, 4, "\x76\x2f\x31\x01"), 0); // the EXR signature
    EXPECT_EQ(pngSize(readFile(png)), std::make_pair(16u, 16u));
    std::remove(png.c_str());
    std::remove(exr.c_str());
}

Outcome swatch(std::vector<std::string> extra, const std::string& path) {
    return hairlab(test::with({"render", "--scene", "swatch", "--res", "12x12", "--spp", "1", "--threads",
                               "1", "--strands", "200", "-o", path},
                              extra));
}

// A preset is a set of values: the same picture as setting them, and --set wins over it.
TEST(HairlabRender, PresetsApplyAndSetWinsOverThem) {
    std::string path = ::testing::TempDir() + "hairlab_preset_test.png";
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> same = {
        {{"--preset", "black"}, {"--set", "melanin=0.9", "--set", "pheomelanin=0"}},
        {{"--preset", "black", "--set", "melanin=0.2"}, {"--set", "melanin=0.2", "--set", "pheomelanin=0"}},
        {{"--preset", "Dark Brown"}, {"--preset", "dark-brown"}},
    };
    for (auto& [a, b] : same) {
        ASSERT_EQ(swatch(a, path).status, 0) << a[1];
        std::string first = readFile(path);
        ASSERT_EQ(swatch(b, path).status, 0) << b[1];
        EXPECT_EQ(readFile(path), first) << a[1];
    }
    ASSERT_EQ(swatch({"--preset", "black"}, path).status, 0);
    std::string black = readFile(path);
    ASSERT_EQ(swatch({"--preset", "blonde"}, path).status, 0);
    EXPECT_NE(readFile(path), black);
    std::remove(path.c_str());
}

// A lock and label per value; stderr holds just the legend off a terminal, and nothing under --quiet.
TEST(HairlabRender, SweepHasALabelledLockPerValue) {
    std::string path = ::testing::TempDir() + "hairlab_sweep_test.png";
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> sweeps = {
        {{"melanin=0:1:3"}, {"melanin 0", "melanin 0.5", "melanin 1"}},
        {{"glossiness=0.2:0.8:2", "softness=0:1:2"},
         {"glossiness 0.2, softness 0", "glossiness 0.8, softness 0", "glossiness 0.2, softness 1",
          "glossiness 0.8, softness 1"}},
        {{"preset=red,white"}, {"red", "white"}},
    };
    for (auto& [axes, labels] : sweeps) {
        std::vector<std::string> args = {"render", "--scene",   "sweep", "--res", "48x24", "--spp",
                                         "1",      "--strands", "100",   "-o",    path};
        for (const std::string& axis : axes)
            args.insert(args.end(), {"--sweep", axis});
        Outcome o = hairlab(args);
        ASSERT_EQ(o.status, 0) << o.err;
        std::string legend = std::to_string(labels.size()) + " locks, left to right and top to bottom: ";
        for (std::size_t i = 0; i < labels.size(); ++i)
            legend += (i ? " | " : "") + labels[i];
        EXPECT_EQ(o.err, legend + "\n");
        EXPECT_EQ(lineCount(o.out), 1);
        // Without labels the legend is all there is to say which lock is which.
        o = hairlab(test::with(args, {"--labels", "off"}));
        EXPECT_EQ(o.err.substr(0, o.err.find(':')), std::to_string(labels.size()) + " locks");
        args.push_back("--quiet");
        o = hairlab(args);
        EXPECT_TRUE(o.err.empty()) << o.err;
        EXPECT_EQ(lineCount(o.out), 1);
    }
    std::remove(path.c_str());
}

} // namespace
} // namespace hairlab
