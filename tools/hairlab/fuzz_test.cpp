// hairlab render against seeded hostile input (grooms, environments, outputs, numeric options).
// Each run ends as a one-line refusal (status 2) within a memory cap, a render with only finite
// pixels, or a reported write failure (status 1); a child process, so crashes, hangs and memory show.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "harness/rng.h"
#include "render/render.h"

namespace hairlab {
namespace {

using test::Args;
using test::Process;
using test::readFile;
using test::writeFile;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomCases = 6;          // per family; the tables run in full
constexpr long kRefusalKiB = 1024 << 10; // the sanitizer's shadow memory comes on top
#else
constexpr int kRandomCases = 16;
constexpr long kRefusalKiB = 256 << 10; // a refusal never takes more than 256 MiB
#endif

enum class Expect { Rendered, WriteFailed, Refused, Any }; // the first three are exit statuses

const std::string& dir() {
    static const std::string d = [] {
        std::string path = ::testing::TempDir() + "hairlab_fuzz_" + std::to_string(getpid()) + "/";
        mkdir(path.c_str(), 0755);
        return path;
    }();
    return d;
}

// Every channel finite; colour, alpha and backdrop non-negative (the strand frame may be signed).
void checkPixels(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    ASSERT_TRUE(in) << path;
    const OIIO::ImageSpec spec = in->spec();
    std::vector<float> px(static_cast<std::size_t>(spec.width) * spec.height * spec.nchannels);
    ASSERT_TRUE(in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, px.data()));
    long bad = 0;
    for (std::size_t i = 0; i < px.size(); ++i) {
        const std::string& name = spec.channelnames[i % spec.nchannels];
        const bool colour = name.size() == 1 || name.rfind("backdrop.", 0) == 0;
        bad += !std::isfinite(px[i]) || (colour && px[i] < 0);
    }
    EXPECT_EQ(bad, 0) << path << ": values not finite or negative";
}

// One hairlab render, whose outcome must be one of the three; `expect` narrows it where input decides.
void run(const std::string& what, Args args, Expect expect = Expect::Any, bool exr = true) {
    SCOPED_TRACE(what);
    const std::string image = dir() + "out.exr";
    std::remove(image.c_str());
    if (exr) args.insert(args.end(), {"-o", image});
    // Tiny renders on one thread, unless the case sets these itself.
    Args base = {"render", "-q"};
    const std::pair<const char*, const char*> defaults[] = {
        {"--res", "16x16"}, {"--spp", "1"}, {"--threads", "1"}, {"--strands", "50"}};
    for (auto [name, value] : defaults)
        if (std::find(args.begin(), args.end(), name) == args.end()) base.insert(base.end(), {name, value});
    Process p = test::hairlabProcess(test::with(base, args), 60);
    ASSERT_FALSE(p.hung) << "no answer within a minute";
    ASSERT_EQ(p.signal, 0) << p.err;
    auto oneLine = [](const std::string& s) {
        return std::count(s.begin(), s.end(), '\n') == 1 && s.back() == '\n';
    };
    EXPECT_TRUE(expect == Expect::Any || expect == Expect(p.status)) << p.err;
    switch (p.status) {
    case 2:
        EXPECT_TRUE(oneLine(p.err)) << p.err;
        EXPECT_TRUE(p.out.empty()) << p.out;
        EXPECT_LE(p.peakKiB, kRefusalKiB) << p.err;
        break;
    case 1:
        EXPECT_TRUE(oneLine(p.err)) << p.err;
        EXPECT_NE(p.err.find("hairlab render: error: cannot write '"), std::string::npos) << p.err;
        break;
    case 0:
        EXPECT_TRUE(p.err.empty()) << p.err;
        EXPECT_TRUE(oneLine(p.out)) << p.out;
        if (exr) checkPixels(image);
        break;
    default:
        ADD_FAILURE() << "status " << p.status << ": " << p.err;
    }
}

// --- grooms -----------------------------------------------------------------------------------

void put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (8 * i));
}
void putFloat(std::string& b, std::size_t at, float f) { put32(b, at, std::bit_cast<std::uint32_t>(f)); }

// A groom with every array, as hairlab writes one, and where each of its fields begins.
struct Groom {
    std::string bytes;
    std::vector<std::size_t> fields;
    std::size_t points, thickness, transparency, color; // array offsets
};

Groom makeGroom(int strands, int segments) {
    std::vector<quor::render::Strand> lock(strands);
    for (int i = 0; i < strands; ++i) {
        for (int k = 0; k <= segments; ++k)
            lock[i].points.insert(lock[i].points.end(), {0.1f * i, -0.4f * k, 0.02f * k * k, 0.004f});
        lock[i].color = {0.5f, 0.5f, 0.5f};
    }
    const std::string path = dir() + "made.hair";
    quor::render::writeHairFile(path, lock);
    Groom g;
    g.bytes = readFile(path);
    const std::size_t n = std::size_t(strands) * (segments + 1);
    g.points = 128 + 2 * strands, g.thickness = g.points + 12 * n;
    g.transparency = g.thickness + 4 * n, g.color = g.transparency + 4 * n;
    for (std::size_t at = 0; at <= 40; at += 4) // the header's words
        g.fields.push_back(at);
    for (std::size_t at = 128; at < g.points; at += 2) // segment counts
        g.fields.push_back(at);
    for (std::size_t at = g.points; at < g.bytes.size(); at += 4)
        g.fields.push_back(at);
    return g;
}

const float kExtremes[] = {NAN,    INFINITY, -INFINITY, FLT_MAX, -FLT_MAX, 1e38f, 1e20f,  1e18f,
                           -1e17f, 1e15f,    1e-45f,    -0.0f,   0.0f,     -1.0f, 65505.f};

TEST(HairlabFuzz, GroomCutAtEveryFieldIsRefused) {
    const Groom g = makeGroom(3, 3);
    const std::string path = dir() + "cut.hair";
    for (std::size_t at : g.fields)
        for (std::size_t cut : {at, at + 1}) {
            writeFile(path, g.bytes.substr(0, cut));
            try {
                quor::render::readHairFile(path);
                ADD_FAILURE() << "cut at " << cut << " of " << g.bytes.size() << " was read";
            } catch (const quor::render::HairFileError& e) {
                EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
            }
        }
    // The same through hairlab, at the header, inside the points and one byte short.
    for (std::size_t cut : {std::size_t(20), g.points + 6, g.bytes.size() - 1}) {
        writeFile(path, g.bytes.substr(0, cut));
        run("cut at " + std::to_string(cut), {"--scene", "groom", "--groom", path}, Expect::Refused);
    }
}

TEST(HairlabFuzz, GroomWithExtremeValues) {
    const std::string path = dir() + "extreme.hair";
    const Groom g = makeGroom(4, 4);
    writeFile(path, g.bytes);
    run("the unmutated groom", {"--scene", "groom", "--groom", path}, Expect::Rendered);
    // One value of each array, a header default, or every value of an array at once.
    harness::Rng rng(11);
    for (int k = 0; k < 2 * kRandomCases; ++k) {
        Groom m = g;
        const float v = kExtremes[rng.next() % std::size(kExtremes)];
        const std::size_t arrays[] = {g.points, g.thickness, g.transparency, g.color, g.bytes.size()};
        const int a = static_cast<int>(rng.next() % 5);
        const bool all = rng.uniform() < 0.3f;
        std::string what;
        if (a == 4) { // a header default: thickness, transparency or colour
            std::size_t at = 20 + 4 * (rng.next() % 5);
            putFloat(m.bytes, at, v);
            what = "header float at " + std::to_string(at);
        } else {
            const std::size_t lo = arrays[a], hi = arrays[a + 1];
            for (std::size_t at = lo; at < hi; at += 4)
                if (all || at == lo + 4 * (rng.next() % ((hi - lo) / 4))) {
                    putFloat(m.bytes, at, all && a == 0 && (at / 4) % 2 ? -v : v);
                    if (!all) break;
                }
            what = std::string(all ? "every" : "one") + " value of array " + std::to_string(a);
        }
        writeFile(path, m.bytes);
        run(what + " = " + std::to_string(v), {"--scene", "groom", "--groom", path});
    }
    // Counts and flags of the header at their ends: refused, but unknown flag bits (word 12) are
    // ignored and the default segment count (word 16) is unused beside a segment array.
    const std::pair<std::size_t, std::uint32_t> header[] = {
        {4, 0}, {4, 0xFFFFFFFF}, {8, 0}, {8, 81}, {12, 0}, {12, 2}, {12, 0xFFFFFFFF}, {16, 0xFFFFFFFF}};
    for (auto [at, v] : header) {
        const Expect expect = at >= 12 && v == 0xFFFFFFFF ? Expect::Rendered : Expect::Refused;
        Groom m = g;
        put32(m.bytes, at, v);
        writeFile(path, m.bytes);
        run("header word " + std::to_string(at) + " = " + std::to_string(v),
            {"--scene", "groom", "--groom", path}, expect);
    }
}

TEST(HairlabFuzz, GroomWithFlippedBytes) {
    const std::string path = dir() + "flipped.hair";
    const Groom g = makeGroom(4, 4);
    harness::Rng rng(12);
    for (int k = 0; k < 2 * kRandomCases; ++k) {
        Groom m = g;
        const int flips = 1 + static_cast<int>(rng.next() % 6);
        for (int f = 0; f < flips; ++f)
            m.bytes[rng.next() % m.bytes.size()] ^= static_cast<char>(1 + rng.next() % 255);
        writeFile(path, m.bytes);
        run("flips, case " + std::to_string(k), {"--scene", "groom", "--groom", path});
    }
}

// --- environments -----------------------------------------------------------------------------

// An EXR of w x h pixels of nch channels, each pixel's value from f(x, y, c).
template <class F> void writeExr(const std::string& path, int w, int h, int nch, OIIO::TypeDesc type, F f) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(w, h, nch, type);
    spec.attribute("compression", "zip");
    ASSERT_TRUE(out->open(path, spec));
    std::vector<float> row(static_cast<std::size_t>(w) * nch);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < nch; ++c)
                row[static_cast<std::size_t>(x) * nch + c] = f(x, y, c);
        ASSERT_TRUE(out->write_scanline(y, 0, OIIO::TypeDesc::FLOAT, row.data()));
    }
    ASSERT_TRUE(out->close());
}

// A Radiance .hdr that declares w x h and holds `pixels` flat RGBE pixels of one value.
void writeHdr(const std::string& path, int w, int h, std::size_t pixels, std::array<unsigned char, 4> rgbe) {
    std::string head =
        "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(h) + " +X " + std::to_string(w) + "\n";
    for (std::size_t p = 0; p < pixels; ++p)
        head.append(rgbe.begin(), rgbe.end());
    writeFile(path, head);
}

Args withEnv(const std::string& path) { return {"--scene", "swatch", "--env", path}; }

TEST(HairlabFuzz, EnvironmentShapesAndValues) {
    const std::string path = dir() + "env.exr";
    // Shapes: channel counts and sizes down to the smallest map.
    const int shapes[][3] = {{2, 1, 3}, {2, 1, 1}, {4, 2, 2}, {4, 2, 4}, {3, 5, 3}, {64, 1, 3}};
    for (auto& s : shapes) {
        writeExr(path, s[0], s[1], s[2], OIIO::TypeDesc::HALF,
                 [](int x, int, int c) { return 0.2f + 0.1f * (x + c); });
        run("shape " + std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" + std::to_string(s[2]),
            withEnv(path), Expect::Rendered);
    }
    writeExr(path, 1, 1, 3, OIIO::TypeDesc::FLOAT, [](int, int, int) { return 1.0f; });
    run("a single pixel", withEnv(path), Expect::Refused);
    // Values beyond any radiance, over the whole map or in one pixel among ordinary ones.
    for (float v : kExtremes)
        for (bool everywhere : {true, false}) {
            writeExr(path, 8, 4, 3, OIIO::TypeDesc::FLOAT,
                     [&](int x, int y, int) { return everywhere || (x == 3 && y == 1) ? v : 0.5f; });
            run(std::string(everywhere ? "every" : "one") + " pixel " + std::to_string(v), withEnv(path),
                Expect::Rendered);
        }
    // .hdr exponents at their ends.
    for (unsigned char e : {0, 1, 128, 200, 255}) {
        writeHdr(dir() + "env.hdr", 8, 4, 32, {200, 100, 50, e});
        run("hdr exponent " + std::to_string(e), withEnv(dir() + "env.hdr"), Expect::Rendered);
    }
}

TEST(HairlabFuzz, EnvironmentDeclaredSizesAndNonFiles) {
    const std::string hdr = dir() + "declared.hdr";
    // Sizes the data cannot back, or past the caps: refused before the pixels are allocated.
    const int declared[][3] = {{8000, 8000, 0}, {67108864, 1, 0}, {1, 67108864, 0}, {4096, 4096, 4},
                               {64, 32, 1000},  {32768, 512, 64}, {2, 0, 0}};
    for (auto& d : declared) {
        writeHdr(hdr, d[0], d[1], d[2], {128, 128, 128, 129});
        run("hdr declares " + std::to_string(d[0]) + "x" + std::to_string(d[1]), withEnv(hdr),
            Expect::Refused);
    }
    // An EXR cut short: after its header, and halfway through its rows.
    const std::string full = dir() + "full.exr", cut = dir() + "cut.exr";
    writeExr(full, 2048, 1024, 3, OIIO::TypeDesc::HALF, [](int x, int y, int) { return float((x ^ y) & 7); });
    const std::string bytes = readFile(full);
    for (std::size_t keep : {std::size_t(400), bytes.size() / 2, bytes.size() - 1}) {
        writeFile(cut, bytes.substr(0, keep));
        run("exr cut at " + std::to_string(keep), withEnv(cut), Expect::Refused);
    }
    // Files that are not maps, and paths that are not files; a FIFO must not hang the reader.
    const std::string fifo = dir() + "env_fifo.exr", empty = dir() + "empty.exr", junk = dir() + "junk.hdr";
    mkfifo(fifo.c_str(), 0644);
    writeFile(empty, "");
    harness::Rng rng(13);
    std::string noise(4096, '\0');
    for (char& b : noise)
        b = static_cast<char>(rng.next());
    writeFile(junk, noise);
    for (const std::string& p : {fifo, empty, junk, dir(), dir() + "missing.exr", std::string("/dev/zero"),
                                 std::string("/dev/null")})
        run("env " + p, withEnv(p), Expect::Refused);
    // Flipped bytes of a valid EXR.
    writeExr(full, 16, 8, 3, OIIO::TypeDesc::HALF, [](int x, int, int) { return 0.1f * x; });
    const std::string small = readFile(full);
    for (int k = 0; k < kRandomCases; ++k) {
        std::string m = small;
        for (int f = 0; f < 3; ++f)
            m[rng.next() % m.size()] ^= static_cast<char>(1 + rng.next() % 255);
        writeFile(cut, m);
        run("exr flips, case " + std::to_string(k), withEnv(cut));
    }
}

// --- outputs ----------------------------------------------------------------------------------

TEST(HairlabFuzz, OutputPathsAndDevices) {
    const Args swatch = {"--scene", "swatch"};
    auto output = [&](const std::string& what, const std::vector<std::string>& outputs, Expect expect) {
        Args args = swatch;
        for (const std::string& o : outputs)
            args.insert(args.end(), {"-o", o});
        run(what, args, expect, false);
    };
    for (const char* ext : {".png", ".exr", ".jpg", ".tif"}) {
        const std::string full = dir() + "full" + ext;
        std::remove(full.c_str());
        ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
        for (const Args& outputs :
             {Args{full}, Args{dir() + "good.png", full}}) // alone, and after a good file
            output(std::string("a full device as ") + ext, outputs, Expect::WriteFailed);
    }
    const std::string folder = dir() + "folder.png", fifo = dir() + "out_fifo.png";
    mkdir(folder.c_str(), 0755);
    mkfifo(fifo.c_str(), 0644);
    // Also a folder named .png, a FIFO nobody reads, and a folder named as the file's folder.
    for (const std::string& p :
         {std::string("/dev/full"), std::string("/nonexistent-folder/x.png"), dir() + ".png",
          std::string("-x.png"), std::string(), folder, fifo, dir() + "folder.png/.exr"})
        output("output '" + p + "'", {p}, Expect::Refused);
    // Control characters in a name: written, and the summary stays one line.
    for (const char* name : {"new\nline.png", "tab\there.exr", "esc\x1b[2J.png"})
        output("a name with a control character", {dir() + name}, Expect::Rendered);
}

// --- numeric options --------------------------------------------------------------------------

TEST(HairlabFuzz, NumericOptionsAtTheirBounds) {
    const Args swatch = {"--scene", "swatch"};
    // Cases apart at semicolons, words at blanks: the bounds themselves render, one step past is refused.
    const std::string rendered =
        "--res 1x1; --res 8192x1; --threads 0; --threads 256; --seed 18446744073709551615; "
        "--groom-seed 0xFFFFFFFFFFFFFFFF; --exposure 1e-45; --exposure 3.4028234e38; --camera-zoom 0.1; "
        "--camera-zoom 100; --camera-orbit -360; --camera-elevation 89; --strands 1; "
        "--strand-color 3.4028234e38,0,1; --strand-color -3.4028234e38,-1,1e-45; "
        "--strand-transparency 1,1,1; --strand-transparency 3.4e38,-3.4e38,0.5; "
        "--unchecked --set melanin=nan --set random_tangent=inf; "
        "--unchecked --set glitter_size=-inf --set ior=3.4028234e38; "
        "--type BRDFHair2 --set absorption=-1e30,0,0; "
        "--type BRDFHair2 --set r_mult=3.4028234e38 --set tt_mult=-3.4028234e38; "
        "--type BRDFHair --unchecked --set specular_power=nan; "
        "--type BRDFHair3 --unchecked --set overall_color=inf,nan,-inf; "
        "--scene sweep --res 48x16 --strands 20 --sweep glitter_size=0.001:3.4028e38:3; "
        "--scene sweep --res 64x16 --strands 5 --sweep melanin=0:1:64";
    const std::string refused =
        "--res 8193x1; --res 0x16; --res 4097x4097; --spp 0; --spp 4097; --threads 257; "
        "--seed 18446744073709551616; --exposure 0; --exposure inf; --camera-zoom 0.09; "
        "--camera-orbit 360.01; --camera-elevation -89.5; --strands 0; --strands 200001; "
        "--scene sweep --strands 5 --sweep melanin=0:1:65";
    for (auto [cases, expect] :
         {std::pair{rendered, Expect::Rendered}, std::pair{refused, Expect::Refused}}) {
        std::istringstream all(cases);
        for (std::string text; std::getline(all, text, ';');) {
            std::istringstream in(text);
            Args args = text.find("--scene") == std::string::npos ? swatch : Args{};
            for (std::string w; in >> w;)
                args.push_back(w);
            run(text, args, expect);
        }
    }
    // Random pairs of options, each value at a bound, past it or malformed.
    const std::pair<const char*, std::vector<const char*>> options[] = {
        {"--res", {"1x1", "16x1", "1x8192", "16x", "x16", "16X16", "1e1x16"}},
        {"--spp", {"1", "2", "0", "-1", "0x10", " 1"}},
        {"--exposure", {"1e-38", "1e38", "-0", "nan", "1e39", "0x1p3"}},
        {"--camera-zoom", {"0.1", "100", "1e-45", "-1"}},
        {"--camera-orbit", {"360", "-360", "1e10", "-0"}},
        {"--camera-elevation", {"89", "-89", "90"}},
        {"--strands", {"1", "2", "0", "4294967297"}},
        {"--seed", {"0", "0xFFFFFFFFFFFFFFFF", "-1"}},
        {"--strand-color", {"0,0,0", "1e38,1e38,1e38", "nan,0,0", "1,2"}},
    };
    harness::Rng rng(14);
    for (int k = 0; k < kRandomCases; ++k) {
        Args args = swatch;
        std::string what;
        for (int i = 0; i < 2; ++i) {
            auto& [name, values] = options[rng.next() % std::size(options)];
            const char* v = values[rng.next() % values.size()];
            args.insert(args.end(), {name, v});
            what += std::string(name) + " " + v + " ";
        }
        run(what, args);
    }
}

} // namespace
} // namespace hairlab
