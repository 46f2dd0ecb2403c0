// The stand-in renderer: what its pictures, scenes and files (EXR, .hair) must satisfy.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "harness/library.h"
#include "harness/shading_point.h"
#include "harness/test_support.h"
#include "render/render.h"
#include "render/scene_impl.h"

namespace quor::render {
namespace {

using harness::test::library;

struct Sheet {
    std::vector<std::unique_ptr<harness::Instance>> instances;
    Scene scene;
    explicit Sheet(const HairStyle& style) {
        std::vector<PluginBase*> row;
        for (const std::string& t : harness::test::types()) {
            instances.push_back(std::make_unique<harness::Instance>(library(), t));
            row.push_back(instances.back()->base());
        }
        buildSheet(scene, row, style);
    }
};

HairStyle small(int strands) {
    HairStyle s;
    s.strands = strands;
    return s;
}

FrameResult render(Scene& scene, int w, int h, int spp, int threads, std::uint64_t seed = 3) {
    frame(scene, w, h);
    RenderOptions o;
    o.width = w, o.height = h, o.spp = spp, o.threads = threads, o.seed = seed;
    return Renderer(scene, o).renderFrame();
}

// The sum of an image's colour channels (alpha left out).
double colourSum(const Image& im) {
    double sum = 0;
    for (std::size_t i = 0; i < im.data.size(); ++i)
        sum += (im.channels == 4 && i % 4 == 3) ? 0 : im.data[i];
    return sum;
}

TEST(StandInRenderer, SameSeedSameImageForAnyThreadCount) {
    Sheet sheet(small(400));
    FrameResult one = render(sheet.scene, 48, 27, 2, 1), two = render(sheet.scene, 48, 27, 2, 2);
    ASSERT_GT(two.threads, 0);
    EXPECT_EQ(one.hair.data, two.hair.data); // byte for byte: pixels own their sample points
    EXPECT_EQ(one.backdrop.data, two.backdrop.data);
    EXPECT_NE(one.hair.data, render(sheet.scene, 48, 27, 2, 2, 4).hair.data);
}

// Adaptive sampling: converged pixels (the backdrop) stop early, the picture is the same for any
// thread count, and its mean, render channels included, is that of fixed sampling.
TEST(StandInRenderer, AdaptiveSamplingStopsEarlyWithoutChangingThePicture) {
    Sheet sheet(small(400));
    frame(sheet.scene, 48, 27);
    RenderOptions o;
    o.width = 48, o.height = 27, o.spp = 32, o.threads = 1, o.channels = true;
    FrameResult fixed = Renderer(sheet.scene, o).renderFrame();
    o.adaptive = true, o.adaptiveThreshold = 0.05f;
    FrameResult one = Renderer(sheet.scene, o).renderFrame();
    o.threads = 2;
    FrameResult two = Renderer(sheet.scene, o).renderFrame();
    EXPECT_EQ(one.hair.data, two.hair.data);
    EXPECT_EQ(fixed.meanSamples, 32);
    EXPECT_GT(one.meanSamples, 8);
    EXPECT_LT(one.meanSamples, 24);
    EXPECT_NEAR(colourSum(one.hair) / colourSum(fixed.hair), 1, 0.03);
    EXPECT_NEAR(colourSum(one.backdrop) / colourSum(fixed.backdrop), 1, 0.01);
    ASSERT_EQ(one.channels.size(), fixed.channels.size());
    int filled = 0;
    for (const auto& [alias, im] : fixed.channels) {
        ASSERT_EQ(im.data.size(), 48u * 27 * 3) << channelName(alias);
        if (colourSum(im) <= 1) continue;
        ++filled;
        EXPECT_NEAR(colourSum(one.channels.at(alias)) / colourSum(im), 1, 0.05) << channelName(alias);
    }
    EXPECT_GE(filled, 6) << "the materials' render elements reach the picture";
}

// Lossless production hair in a uniform white environment: every pixel, hair over backdrop,
// converges to the environment's value once the trace depth lets light find its way out.
TEST(StandInRenderer, LosslessFurnaceConvergesToTheEnvironment) {
    harness::Instance hair(library(), "BRDFHair4",
                           {{"melanin", "0"},
                            {"pheomelanin", "0"},
                            {"dye_color", "1,1,1"},
                            {"diffuse_amount", "0"},
                            {"trace_depth", "1000"}});
    Scene scene;
    HairStyle style = small(20000);
    style.color = {1, 1, 1};
    buildFurnace(scene, hair.base(), style);
    FrameResult f = render(scene, 24, 24, 32, 2);
    double sum = 0, coverage = 0;
    for (std::size_t p = 0; p < 24 * 24; ++p) {
        for (int c = 0; c < 3; ++c) {
            float v = f.hair.data[4 * p + c] + f.backdrop.data[3 * p + c];
            ASSERT_TRUE(std::isfinite(v));
            sum += v;
        }
        coverage += f.hair.data[4 * p + 3];
    }
    EXPECT_GT(coverage, 24 * 24 / 4); // the ball fills a good part of the frame
    EXPECT_NEAR(sum / (3 * 24 * 24), 1.0, 0.02);
}

TEST(StandInRenderer, TransparentStrandsLetTheBackdropThroughUntouched) {
    for (const std::string& type : harness::test::types()) {
        harness::Instance inst(library(), type);
        HairStyle style = small(2000);
        style.transparency = {1, 1, 1};
        Scene hair, empty;
        buildSwatch(hair, inst.base(), style);
        empty.addGroup(inst.base(), {});
        empty.commit();
        empty.env = Environment::sky(0.6f);
        frame(hair, 32, 32);
        empty.camera = hair.camera;
        RenderOptions o;
        o.width = o.height = 32, o.spp = 2;
        FrameResult a = Renderer(hair, o).renderFrame(), b = Renderer(empty, o).renderFrame();
        EXPECT_GT(a.shadingPoints, 100u) << type; // the rays did meet the strands
        EXPECT_EQ(a.backdrop.data, b.backdrop.data) << type;
        for (float v : a.hair.data)
            ASSERT_EQ(v, 0.0f) << type; // no light of their own, no coverage
    }
}

// What a hit tells the material, seen on one thick strand from the front: per-point colours
// interpolated along it (a red root and blue tip bound to the dye, not their mean purple) and where
// across its width the ray met it (a round fibre's light changes from edge to edge).
TEST(StandInRenderer, HitsCarryTheStrandsColourAndWidth) {
    harness::Instance hair(library(), "BRDFHair4", {{"melanin", "0"}, {"dye_color", "strand"}});
    Strand thick;
    for (int k = 0; k < 5; ++k) {
        thick.points.insert(thick.points.end(), {0, 1 - 0.5f * k, 0, 0.3f});
        thick.colors.insert(thick.colors.end(), {1 - 0.25f * k, 0.05f, 0.25f * k});
    }
    Scene scene;
    buildGroom(scene, hair.base(), {thick});
    FrameResult f = render(scene, 64, 64, 16, 2);
    double red[2] = {}, blue[2] = {};
    std::vector<float> across; // the covered pixels of the middle row
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            if (y == 32 && f.hair.at(x, y, 3) > 0.99f) across.push_back(f.hair.at(x, y, 1));
            if (y < 22 || y >= 42) { // the middle third blends both
                red[y >= 42] += f.hair.at(x, y, 0);
                blue[y >= 42] += f.hair.at(x, y, 2);
            }
        }
    EXPECT_GT(red[0] / blue[0], 1.5 * red[1] / blue[1]); // 2.4 here; the highlights stay white
    ASSERT_GT(across.size(), 6u);
    auto [lo, hi] = std::minmax_element(across.begin(), across.end());
    EXPECT_GT(*hi, 1.3f * *lo); // 1.6 here; 1.1 with every hit on the centre line
}

// A strand's random draws follow its index in the groom, not its place in the scene's layout: the
// same strands given in the opposite order take other melanin draws, strand by strand.
TEST(StandInRenderer, StrandRandomnessFollowsTheGroomsOrder) {
    harness::Instance hair(library(), "BRDFHair4", {{"random_melanin", "1"}});
    std::vector<Strand> groom = makeLock(0, small(200));
    Scene given, reversed;
    buildGroom(given, hair.base(), groom);
    std::reverse(groom.begin(), groom.end());
    buildGroom(reversed, hair.base(), groom);
    FrameResult a = render(given, 24, 48, 2, 1), b = render(reversed, 24, 48, 2, 1);
    double moved = 0;
    for (std::size_t i = 0; i < a.hair.data.size(); ++i)
        moved += std::fabs(a.hair.data[i] - b.hair.data[i]);
    EXPECT_GT(moved, 0.1 * colourSum(a.hair));
}

// A distant light lights from its direction (a diffuse lock lit from the front is far brighter
// than lit from behind); its disc's size changes softness, not the light given (8° = 3°).
TEST(StandInRenderer, DistantLightsLightFromTheirDirectionWithTheirIrradiance) {
    for (const char* type : {"BRDFHair", "BRDFHair4"}) {
        harness::Instance inst(library(), type);
        Scene scene;
        buildSwatch(scene, inst.base(), small(600));
        frame(scene, 24, 36);
        scene.studio = false;
        scene.env = Environment::uniform({0, 0, 0});
        const Float3 toCamera = unit(scene.camera.eye - scene.camera.target);
        auto lit = [&](Float3 dir, float angle) {
            scene.lights = {{dir, {1, 1, 1}, angle}};
            return colourSum(render(scene, 24, 36, 8, 2).hair);
        };
        const double front = lit(toCamera, 3);
        if (std::string(type) == "BRDFHair") {
            EXPECT_GT(front, 3 * lit(toCamera * -1.0f, 3));
        }
        EXPECT_NEAR(lit(toCamera, 8) / front, 1, 0.1) << type;
    }
}

TEST(StandInRenderer, FramingShowsEveryLockAtAnyAspect) {
    Sheet sheet(small(200));
    for (auto [w, h] : {std::pair{300, 300}, std::pair{1600, 900}, std::pair{900, 1600}}) {
        frame(sheet.scene, w, h);
        float widest = 0;
        for (int g = 0; g < sheet.scene.groupCount(); ++g) {
            Bounds b = sheet.scene.groupBounds(g);
            for (int k = 0; k < 8; ++k) {
                Float3 p{k & 1 ? b.hi.x : b.lo.x, k & 2 ? b.hi.y : b.lo.y, k & 4 ? b.hi.z : b.lo.z};
                float x, y;
                ASSERT_TRUE(project(sheet.scene.camera, w, h, p, x, y));
                EXPECT_LE(std::fabs(x), 1.0f) << w << "x" << h << " lock " << g;
                EXPECT_LE(std::fabs(y), 1.0f) << w << "x" << h << " lock " << g;
                widest = std::max(widest, std::max(std::fabs(x), std::fabs(y)));
            }
        }
        EXPECT_GT(widest, 0.8f) << w << "x" << h; // filled, not lost in the middle
    }
}

// A contact sheet of n locks in rows: every lock in frame with its label's room, and every label
// drawn under its own lock (its plate covers pixels there and nowhere else is touched twice).
TEST(StandInRenderer, ContactSheetLabelsEveryLockUnderIt) {
    harness::Instance inst(library(), "BRDFHair4");
    for (auto [n, columns] : {std::pair{3, 3}, std::pair{5, 2}}) {
        Scene scene;
        buildContactSheet(scene, std::vector<PluginBase*>(n, inst.base()), columns, small(50));
        ASSERT_EQ(scene.groupCount(), n);
        for (int g = 1; g < n; ++g) { // left to right, then top to bottom with room for the labels
            Bounds b = scene.groupBounds(g);
            if (g % columns)
                EXPECT_GT(b.lo.x, scene.groupBounds(g - 1).hi.x) << g;
            else
                EXPECT_LT(b.hi.y, scene.groupBounds(g - columns).lo.y - scene.labelSpace) << g;
        }
        frame(scene, 480, 320);
        FrameResult f;
        f.hair = {480, 320, 4, std::vector<float>(480 * 320 * 4, 0.0f)};
        f.backdrop = {480, 320, 3, std::vector<float>(480 * 320 * 3, 1.0f)};
        std::vector<std::string> labels;
        for (int g = 0; g < n; ++g)
            labels.push_back("lock " + std::to_string(g));
        drawLabels(f, scene, labels);
        for (int g = 0; g < n; ++g) {
            Bounds b = scene.groupBounds(g);
            float x0, x1, y0, y1;
            ASSERT_TRUE(project(scene.camera, 480, 320, {b.lo.x, b.lo.y, 0}, x0, y0));
            ASSERT_TRUE(project(scene.camera, 480, 320, {b.hi.x, b.lo.y - scene.labelSpace, 0}, x1, y1));
            EXPECT_GE(y1, -1.0f) << "label room of lock " << g << " out of frame";
            int covered = 0; // plate pixels in the room under the lock
            for (int y = int((1 - y0) * 160); y < std::min(320, int((1 - y1) * 160)); ++y)
                for (int x = std::max(0, int((x0 + 1) * 240)); x < std::min(480, int((x1 + 1) * 240)); ++x)
                    covered += f.hair.at(x, y, 3) > 0.5f;
            EXPECT_GT(covered, 20) << "no label under lock " << g << " of " << n;
        }
        for (std::size_t p = 0; p < 480 * 320; ++p) // covered backdrop is what the plate took
            ASSERT_NEAR(f.backdrop.data[3 * p] + f.hair.data[4 * p + 3], 1.0f, 1e-5f);
    }
}

// Labels at 1280x720 are at least 12 px of text, wrap to their cell instead of running into the
// neighbour's, and move off hair instead of covering it.
TEST(StandInRenderer, LabelsAreReadableAndCoverNeitherHairNorEachOther) {
    harness::Instance inst(library(), "BRDFHair4");
    Scene scene;
    buildContactSheet(scene, std::vector<PluginBase*>(6, inst.base()), 6, small(50));
    const int w = 1280, h = 720;
    frame(scene, w, h);
    FrameResult f;
    f.hair = {w, h, 4, std::vector<float>(std::size_t(w) * h * 4, 0.0f)};
    f.backdrop = {w, h, 3, std::vector<float>(std::size_t(w) * h * 3, 1.0f)};
    // Hair across the top of every label's room.
    float x, yBottom;
    ASSERT_TRUE(project(scene.camera, w, h, {0, scene.groupBounds(0).lo.y, 0}, x, yBottom));
    const int hairTo = int((1 - yBottom) * 0.5f * h) + 20;
    for (int y = 0; y < hairTo; ++y)
        for (int px = 0; px < w; ++px)
            f.hair.data[(std::size_t(y) * w + px) * 4 + 3] = 1;
    const std::vector<float> before = f.hair.data;
    std::vector<std::string> labels(6, "a label long enough to run into its neighbours twice over");
    drawLabels(f, scene, labels);
    std::vector<int> rows; // rows each column of plates covers
    int plated = 0;
    for (int y = 0; y < h; ++y) {
        bool any = false;
        for (int px = 0; px < w; ++px) {
            std::size_t i = (std::size_t(y) * w + px) * 4 + 3;
            if (before[i] > 0) {
                ASSERT_EQ(f.hair.data[i], before[i]) << "a label covers hair at " << px << "," << y;
                continue;
            }
            any |= f.hair.data[i] > 0.5f;
        }
        plated += any;
    }
    EXPECT_GE(plated, 3 * 14) << "three lines of at least 12 px text";
    // Between neighbouring locks' centres there is a column no plate touches.
    for (int g = 0; g + 1 < 6; ++g) {
        float xa, xb, unused;
        ASSERT_TRUE(project(scene.camera, w, h, (scene.groupBounds(g).hi + scene.groupBounds(g).lo) * 0.5f,
                            xa, unused));
        ASSERT_TRUE(project(scene.camera, w, h,
                            (scene.groupBounds(g + 1).hi + scene.groupBounds(g + 1).lo) * 0.5f, xb, unused));
        bool gap = false;
        for (int px = int((xa + 1) * 0.5f * w); px < int((xb + 1) * 0.5f * w) && !gap; ++px) {
            bool clear = true;
            for (int y = hairTo; y < h && clear; ++y)
                clear = f.hair.data[(std::size_t(y) * w + px) * 4 + 3] == 0;
            gap = clear;
        }
        EXPECT_TRUE(gap) << "labels " << g << " and " << g + 1 << " touch";
    }
}

TEST(StandInRenderer, ExrKeepsHairBackdropAndNamedChannelLayers) {
    FrameResult f;
    f.hair = {3, 2, 4, {}};
    f.backdrop = {3, 2, 3, {}};
    for (int i = 0; i < 24; ++i)
        f.hair.data.push_back(0.125f * i);
    for (int i = 0; i < 18; ++i)
        f.backdrop.data.push_back(1 + 0.5f * i);
    f.channels[CHANNEL_SPECULAR] = {3, 2, 3, std::vector<float>(18, 0.25f)};
    f.channels[CHANNEL_STRAND_FRAME] = {3, 2, 3, std::vector<float>(18, -0.5f)};
    std::string path = ::testing::TempDir() + "render_test.exr";
    writeImage(path, f);
    auto in = OIIO::ImageInput::open(path);
    ASSERT_TRUE(in);
    const OIIO::ImageSpec& spec = in->spec();
    std::vector<std::string> names(spec.channelnames.begin(), spec.channelnames.end());
    EXPECT_EQ(names, (std::vector<std::string>{"R", "G", "B", "A", "backdrop.R", "backdrop.G", "backdrop.B",
                                               "specular.R", "specular.G", "specular.B", "strand_frame.R",
                                               "strand_frame.G", "strand_frame.B"}));
    EXPECT_EQ(spec.format, OIIO::TypeDesc::HALF);
    std::vector<float> px(6 * 13);
    ASSERT_TRUE(in->read_image(0, 0, 0, 13, OIIO::TypeDesc::FLOAT, px.data()));
    for (int p = 0; p < 6; ++p) {
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(px[13 * p + c], f.hair.data[4 * p + c], 2e-3);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(px[13 * p + 4 + c], f.backdrop.data[3 * p + c], 5e-3);
        EXPECT_EQ(px[13 * p + 7], 0.25f);
        EXPECT_EQ(px[13 * p + 10], -0.5f);
    }
    // Exposure scales the light in every layer, not the coverage.
    WriteOptions bright;
    bright.exposure = 2;
    writeImage(path, f, bright);
    in = OIIO::ImageInput::open(path);
    ASSERT_TRUE(in && in->read_image(0, 0, 0, 13, OIIO::TypeDesc::FLOAT, px.data()));
    for (int p = 0; p < 6; ++p) {
        EXPECT_NEAR(px[13 * p], 2 * f.hair.data[4 * p], 4e-3);
        EXPECT_NEAR(px[13 * p + 3], f.hair.data[4 * p + 3], 2e-3);
        EXPECT_NEAR(px[13 * p + 4], 2 * f.backdrop.data[3 * p], 1e-2);
        EXPECT_EQ(px[13 * p + 7], 0.5f);
    }
    EXPECT_THROW(writeImage("/nonexistent-folder/x.exr", f), std::runtime_error);
}

// A turned, scaled map answers what the map answers in the turned direction, times the scale,
// and its sampling density turns with it.
TEST(StandInRenderer, EnvironmentTurnsAndScales) {
    std::vector<float> rgb;
    for (int i = 0; i < 16 * 8; ++i)
        rgb.insert(rgb.end(), {float(i % 16), 1, float(i / 16)});
    Environment plain = Environment::map(16, 8, rgb), turned = Environment::map(16, 8, rgb);
    // Top row straight up, bottom row straight down; the map's centre faces -z, its 3/4 column +x.
    EXPECT_NEAR(plain.radiance({0, 1, 0}).z, 0.0f, 1e-4f);
    EXPECT_NEAR(plain.radiance({0, -1, 0}).z, 7.0f, 1e-4f);
    for (auto [d, column] : {std::pair{Float3{0, 0, -1}, 7.5f}, std::pair{Float3{1, 0, 0}, 11.5f}}) {
        Float3 r = plain.radiance(d);
        EXPECT_NEAR(r.x, column, 1e-4f);
        EXPECT_NEAR(r.z, 3.5f, 1e-4f); // the horizon, halfway down
    }
    turned.transform(90, 0.5f);
    for (Float3 d : {Float3{0, 0, -1}, Float3{1, 0, 0}, unit(Float3{0.3f, 0.5f, 0.8f})}) {
        Float3 r{-d.z, d.y, d.x}; // turned 90 degrees about y
        Float3 a = turned.radiance(d), b = plain.radiance(r);
        EXPECT_NEAR(a.x, 0.5f * b.x, 1e-4f);
        EXPECT_NEAR(a.z, 0.5f * b.z, 1e-4f);
        EXPECT_NEAR(turned.pdf(d), plain.pdf(r), 1e-4f * plain.pdf(r));
    }
    Float3 radiance;
    float pdf;
    Float3 d = turned.sample(0.3f, 0.7f, radiance, pdf);
    EXPECT_NEAR(pdf, turned.pdf(d), 1e-3f * pdf);
    EXPECT_NEAR(radiance.y, 0.5f, 1e-6f);
    d = turned.sample(1, 1, radiance, pdf); // the ends of the tables, as a rounding sampler may ask
    EXPECT_TRUE(pdf > 0 && std::isfinite(d.x + d.y + d.z) && radiance.y == 0.5f);
}

// A .hair file as the format lays it out; flags say which arrays follow the header.
std::string hairFile(const std::vector<std::uint16_t>& segments, const std::vector<float>& points,
                     const std::vector<float>& thickness, std::uint32_t strands, std::uint32_t count,
                     std::uint32_t flags) {
    std::string s(128, '\0');
    std::memcpy(&s[0], "HAIR", 4);
    float defaults[5] = {0.1f, 0.0f, 0.5f, 0.4f, 0.3f}; // thickness, transparency, colour
    std::uint32_t head[4] = {strands, count, flags, 2};
    std::memcpy(&s[4], head, 16);
    std::memcpy(&s[20], defaults, 20);
    auto put = [&](const void* p, std::size_t n) { s.append(static_cast<const char*>(p), n); };
    if (flags & 1) put(segments.data(), 2 * segments.size());
    put(points.data(), 4 * points.size());
    if (flags & 4) put(thickness.data(), 4 * thickness.size());
    return s;
}

// Written to a file of the test's own name: ctest runs the tests side by side.
std::string saved(const std::string& bytes) {
    std::string path =
        ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hair";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

const std::vector<float> kPoints = {0, 0, 0, 0, 1, 0, 0, 2, 0, 1, 0, 0, 1, 1, 0};

TEST(HairFile, ReadsWhatItsHeaderAnnounces) {
    std::vector<Strand> s = readHairFile(saved(hairFile({2, 1}, kPoints, {4, 4, 2, 6, 6}, 2, 5, 1 | 2 | 4)));
    ASSERT_EQ(s.size(), 2u);
    ASSERT_EQ(s[0].points.size(), 12u);
    ASSERT_EQ(s[1].points.size(), 8u);
    EXPECT_EQ(s[0].points[9], 2.0f);  // third point's y
    EXPECT_EQ(s[0].points[11], 1.0f); // thickness is a diameter
    EXPECT_EQ(s[1].points[3], 3.0f);
    EXPECT_NEAR(s[1].color.x, 0.5f, 1e-6); // the header's default colour
    EXPECT_NEAR(s[1].color.z, 0.3f, 1e-6);
    // Without a segment array every strand has the default two segments.
    const std::vector<float> three(kPoints.begin(), kPoints.begin() + 9);
    EXPECT_EQ(readHairFile(saved(hairFile({}, three, {}, 1, 3, 2))).size(), 1u);
}

TEST(HairFile, RefusesMalformedFilesInOneLine) {
    const std::string good = hairFile({2, 1}, kPoints, {1, 1, 1, 1, 1}, 2, 5, 1 | 2 | 4);
    std::vector<float> nan = kPoints;
    nan[4] = std::nanf("");
    std::string badMagic = good;
    badMagic[0] = 'X';
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"short header", good.substr(0, 100)},
        {"no signature", badMagic},
        {"truncated arrays", good.substr(0, good.size() - 1)},
        {"bytes beyond the arrays", good + "x"},
        {"segments that do not add up", hairFile({2, 2}, kPoints, {1, 1, 1, 1, 1}, 2, 5, 1 | 2 | 4)},
        {"no point array", hairFile({2, 1}, {}, {}, 2, 5, 1)},
        {"absurd counts", hairFile({2, 1}, kPoints, {}, 0xFFFFFFFFu, 0xFFFFFFFFu, 1 | 2)},
        {"no strands", hairFile({}, {}, {}, 0, 0, 2)},
        {"a point that is not a number", hairFile({2, 1}, nan, {}, 2, 5, 1 | 2)},
        {"negative thickness", hairFile({2, 1}, kPoints, {1, 1, -1, 1, 1}, 2, 5, 1 | 2 | 4)},
    };
    for (auto& [what, bytes] : bad) {
        try {
            readHairFile(saved(bytes));
            ADD_FAILURE() << what << " was read";
        } catch (const HairFileError& e) {
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << what;
        }
    }
    EXPECT_THROW(readHairFile(::testing::TempDir() + "no-such-file.hair"), HairFileError);
}

TEST(HairFile, WritesStrandsThatReadBackAsTheyWere) {
    Strand a, b;
    a.points = {0, 0, 0, 0.5f, 1, 2, 3, 0.25f, 1.5f, 2, 3.5f, 0.125f};
    a.colors = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f};
    a.transparency = {0.25f, 0.25f, 0.25f};
    b.points = {5, 5, 5, 1, 6, 6, 6, 2};
    b.color = {0.75f, 0.5f, 0.25f};
    const std::string path = ::testing::TempDir() + "render_test_written.hair";
    writeHairFile(path, {a, b, Strand{}}); // a strand of no points is left out
    std::vector<Strand> back = readHairFile(path);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].points, a.points);
    EXPECT_EQ(back[0].colors, a.colors);
    EXPECT_NEAR(back[0].color.y, 0.5f, 1e-6); // the mean of its points'
    EXPECT_EQ(back[0].transparency.x, 0.25f);
    EXPECT_EQ(back[1].points, b.points);
    EXPECT_EQ(back[1].colors, (std::vector<float>{0.75f, 0.5f, 0.25f, 0.75f, 0.5f, 0.25f}));
}

// The linear pieces follow each segment end to end within a tenth of the strand's radius (checked
// finer than the build samples); a groom grown by groomScale strays in proportion, in fewer pieces.
TEST(StandInScene, PiecesFollowTheCurvesWithinTheirTolerance) {
    harness::Instance inst(library(), "BRDFHair4");
    HairStyle style = small(60);
    style.wavy = true;
    std::size_t pieces[2] = {};
    for (float scale : {1.0f, 4.0f}) {
        Scene scene;
        scene.addGroup(inst.base(), makeLock(0, style), scale);
        const auto& g = scene.impl().groups[0];
        pieces[scale > 1] = g.pieces.size();
        float worst = 0, gap = 0;
        for (std::size_t i = 0; i < g.pieces.size(); ++i) {
            const auto& q = g.pieces[i];
            const float* seg = &g.curveVerts[4 * q.seg];
            const float* e = &g.lineVerts[4 * q.v];
            Float3 a{e[0], e[1], e[2]}, d = Float3{e[4], e[5], e[6]} - a;
            Float3 end = evalSegment(seg, q.u0 + q.du).center - a - d;
            const bool first = i == 0 || g.pieces[i - 1].seg != q.seg;
            gap = std::max({gap, first ? std::fabs(q.u0) : 0.0f, std::sqrt(dot(end, end))});
            EXPECT_GE(q.du, 1.0f / 32 - 1e-6f) << i; // no slivers
            // Along the strand: from 0 at its root to 1 at its tip, piece after piece.
            const auto& info = g.strands[q.strand];
            const float along = i == info.first ? 0.0f : g.pieces[i - 1].pos0 + g.pieces[i - 1].dpos;
            gap = std::max(
                {gap, std::fabs(q.pos0 - along), i == info.last ? std::fabs(q.pos0 + q.dpos - 1) : 0});
            for (int m = 1; m < 16; ++m) {
                const float u = q.u0 + q.du * m / 16, du = 1e-3f;
                CurvePoint c = evalSegment(seg, u); // its tangent is the derivative
                Float3 slope =
                    (evalSegment(seg, u + du).center - evalSegment(seg, u - du).center) * (0.5f / du);
                Float3 miss = slope - c.tangent;
                EXPECT_LT(dot(miss, miss), 1e-4f * dot(c.tangent, c.tangent) + 1e-8f) << i;
                float t = std::clamp(dot(c.center - a, d) / dot(d, d), 0.0f, 1.0f);
                Float3 off = c.center - a - d * t;
                float err = std::sqrt(dot(off, off)) + std::fabs(c.radius - (e[3] + (e[7] - e[3]) * t));
                worst = std::max(worst, err / (scale * std::min(e[3], e[7])));
            }
        }
        EXPECT_LT(gap, 1e-5f) << scale;         // pieces start at their segment's start and meet
        EXPECT_LT(worst, 0.1f * 1.3f) << scale; // sampled finer than the build: a little slack
        EXPECT_GT(worst, 0.02f) << scale;       // not far finer than asked either
    }
    EXPECT_LT(pieces[1], pieces[0] * 3 / 4);
}

// Strands are laid out by where their roots are, yet a scene hands them back in the groom's order.
TEST(StandInScene, GivesItsStrandsBackInTheGroomsOrder) {
    harness::Instance inst(library(), "BRDFHair4");
    std::vector<Strand> groom(3);
    for (int i = 0; i < 3; ++i) { // the last root comes first along the layout
        const float x = float(2 - i);
        groom[i].points = {x, 0, 0, 0.01f, x, 1, 0, 0.01f, x + 0.5f, 2, 0, 0.005f};
        groom[i].color = {0.1f * float(i), 0, 0};
    }
    Scene scene;
    scene.addGroup(inst.base(), groom, 1);
    const auto& laid = scene.impl().groups[0].strands;
    EXPECT_EQ(laid[0].source, 2u);
    std::vector<Strand> back = scene.groupStrands(0);
    ASSERT_EQ(back.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back[i].points, groom[i].points) << i;
        EXPECT_EQ(back[i].color.x, groom[i].color.x) << i;
    }
}

// Straight strands on a square lattice fill a known fraction of every cell column; radial
// strands thin out as the surface they cross grows.
TEST(HairDensity, VolumeFractionIsCrossSectionsOverOccupiedCells) {
    const float r = 0.0035f, cell = 0.028f, spacing = cell / 2;
    std::vector<Strand> lattice;
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 8; ++j) {
            Strand s;
            for (int k = 0; k < 5; ++k)
                s.points.insert(s.points.end(),
                                {(i + 0.5f) * spacing, 1 - 0.5f * k, (j + 0.5f) * spacing, r});
            lattice.push_back(s);
        }
    EXPECT_FLOAT_EQ(densityCell(lattice), cell);
    std::vector<float> f = volumeFractions(lattice, Growth::Down, 6, cell);
    ASSERT_EQ(f.size(), 6u);
    for (float v : f)
        EXPECT_NEAR(v, 4 * kPi * r * r / (cell * cell), 0.01f); // four strands a cell
    // Radial strands from r = 0.1 to 0.2: the surface grows fourfold, the fraction falls.
    std::vector<Strand> ball;
    for (int i = 0; i < 4000; ++i) {
        float z = 1 - 2 * (i + 0.5f) / 4000, phi = 2.39996f * i, rho = std::sqrt(1 - z * z);
        Float3 n{rho * std::cos(phi), rho * std::sin(phi), z};
        Strand s;
        for (float t : {0.1f, 0.15f, 0.2f})
            s.points.insert(s.points.end(), {n.x * t, n.y * t, n.z * t, r});
        ball.push_back(s);
    }
    f = volumeFractions(ball, Growth::Outward, 4, cell);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_GT(f.front(), 2 * f.back());
    EXPECT_TRUE(volumeFractions({}, Growth::Down, 4, cell).empty());
}

} // namespace
} // namespace quor::render
