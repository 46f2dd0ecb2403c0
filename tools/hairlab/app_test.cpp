// hairlab's refusals (one clean line on stderr, status 2, nothing on stdout) and the exit status of
// the installed program, failed writes included.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "cli_test_support.h"

namespace hairlab {
namespace {

using test::Args;
using test::with;

Args eval(const Args& extra) { return with({"eval", "--type", "BRDFHair4", "--light", "0,0,1"}, extra); }
Args sample(const Args& extra) { return with({"sample", "--type", "BRDFHair4", "--u", "0.5"}, extra); }
Args furnace(const Args& extra) { return with({"furnace", "--type", "BRDFHair"}, extra); }
Args gpu(const Args& extra) { return with({"gpu", "--type", "BRDFHair4"}, extra); }

struct Refusal {
    Args args;
    std::string message; // a fragment of the line
};

const Refusal kRefusals[] = {
    {{"frobnicate"}, "hairlab: unknown command 'frobnicate' (commands: list, eval, sample, furnace, gpu"},
    {{"a\nb", "list"}, "hairlab: unknown command 'a\\nb'"},
    {{}, "hairlab: no command given"},
    {{"--plugin"}, "--plugin: 1 required TEXT missing"},
    {{"--plugin", "/nonexistent/lib.so", "list"}, "cannot load plug-in library '/nonexistent/lib.so'"},
    {{"--plugin", "", "list"}, "hairlab list: --plugin: the path is empty"},
    {{"--plugin", NULL_LIBDESC_LIB, "list"}, "getLibDesc answered no library descriptor"},
    {{"--plugin", EMPTY_LIBDESC_LIB, "list"}, "describes no plug-in type"},
    {{"list", "--bogus"}, "hairlab list: The following argument was not expected: --bogus"},
    {{"eval", "--light", "0,0,1"}, "hairlab eval: --type is required"},
    {{"eval", "--type", "BRDFHair4"}, "--light is required"},
    {{"sample", "--type", "BRDFHair4"}, "--u is required"},
    {{"eval", "--type", "No\x1b[2JHair", "--light", "0,0,1"},
     "--type: unknown type 'No\\x1b[2JHair'; this library has: "},
    {{"eval", "--type", "", "--light", "0,0,1"}, "--type: the type name is empty"},
    {eval({"--set", "no_such=1"}), "hairlab eval: --set: unknown parameter 'no_such'"},
    {eval({"--set", "melanin"}), "--set: 'melanin' is not NAME=VALUE"},
    {eval({"--set", "melanin= 0.5"}), "--set melanin: ' 0.5' is not a number (or none)"},
    {eval({"--set", "melanin=0x1p-1"}), "--set melanin: '0x1p-1' is not a number"},
    {eval({"--set", "melanin=a\tb"}), "--set melanin: 'a\\tb' is not a number"},
    {eval({"--set", "melanin=1.0000001"}),
     "value 1.0000001 is outside the allowed range [0, 1] (use --unchecked"},
    {eval({"--set", "glint_scale=0.0000999"}), "value 9.99e-05 is outside the allowed range [0.0001, inf)"},
    {eval({"--set", "trace_depth=0x100000000"}), "--set trace_depth: '0x100000000' is not an integer"},
    {eval({"--set", "trace_depth=0"}), "--set trace_depth: value 0 is outside the allowed range [1, 1000]"},
    {eval({"--set", "dye_color=1,x,1"}),
     "--set dye_color: '1,x,1' is not a colour r,g,b or r,g,b,a, strand or none"},
    {eval({"--set", "melanin=strand"}),
     "--set melanin: 'strand' (the strand record's colour) binds only colour textures"},
    {{"eval", "--type", "BRDFHair3", "--light", "0,0,1", "--set", "opaque_for_gi=2"}, "'2' is not a boolean"},
    {eval({"--dir", "0,0,0"}), "hairlab eval: --dir: '0,0,0' is a zero vector, which has no direction"},
    {eval({"--dir", "1,2"}), "--dir: '1,2' is not a vector x,y,z"},
    {eval({"--tangent", "0x1,0,0"}), "--tangent: '0x1,0,0' is not a vector x,y,z of finite numbers"},
    {eval({"--normal", "0,0,0"}), "--normal: '0,0,0' is a zero vector"},
    {eval({"--light", "0,0,0"}), "--light: '0,0,0' is a zero vector"},
    {eval({"--h", " 1"}), "--h: ' 1' is not a finite decimal number"},
    {eval({"--strand-length", "1e39"}), "--strand-length: '1e39' is not a number in single-precision range"},
    {eval({"--strand-color", "1,1,1,1"}), "--strand-color: '1,1,1,1' is not a colour r,g,b"},
    {eval({"--strand-index", "-0x10"}), "--strand-index: '-0x10' is not a 32-bit hex value"},
    {eval({"--coverage", "nan"}), "--coverage: 'nan' is not a finite decimal number"},
    {eval({"--depth", "-1"}), "--depth: '-1' is negative"},
    {eval({"--depth", "1000001"}), "--depth: '1000001' is above 1000000"},
    {eval({"--ray-flags", "0x1FFFFFFFF"}), "--ray-flags: '0x1FFFFFFFF' is not a 32-bit hex value"},
    {eval({"--context-flags", "1.5"}), "--context-flags: '1.5' is not an integer"},
    {eval({"--side", "2147483648"}), "--side: '2147483648' is not an integer in 32-bit range"},
    {eval({"--gi", "1,2,3,4"}), "--gi: '1,2,3,4' is not a colour r,g,b"},
    {eval({"--mis", "2"}), "--mis: '2' is not 0 or 1"},
    {eval({"--unit-scale", "-2"}), "--unit-scale: '-2' is not a positive scale"},
    {eval({"--flags", "0xG"}), "--flags: '0xG' is not a 32-bit hex value"},
    {eval({"--light-prob", "-1"}), "--light-prob: '-1' is negative"},
    {{"sample", "--type", "BRDFHair4", "--u", "2.0000002"},
     "hairlab sample: --u: '2.0000002' is outside [0, 2]"},
    {sample({"--xi", "0.5,0.5"}), "--xi: '0.5,0.5' is not three numbers A,B,C"},
    {sample({"--xi", "0.5,1.5,0"}), "--xi: '0.5,1.5,0' is outside [0, 1]"},
    {sample({"--mode", "x"}), "--mode: 'x' is not an integer"},
    {furnace({"--samples", "3"}), "hairlab furnace: --samples: '3' is outside [4, 67108864]"},
    {furnace({"--samples", "67108865"}), "--samples: '67108865' is outside [4, 67108864]"},
    {furnace({"--seed", "18446744073709551616"}), "--seed: '18446744073709551616' is not a non-negative"},
    {{"gpu", "--type", "BRDFHair"}, "hairlab gpu: type 'BRDFHair' has no GPU material interface (EXT_RTMTL)"},
    {gpu({"--set", "melanin=2"}), "--set melanin: value 2 is outside the allowed range"},
    {gpu({"--dir", "0,0,1"}), "not expected"},
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, OneCleanLineAndStatusTwo) {
    test::Outcome r = test::hairlab(GetParam().args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("hairlab", 0), 0u) << r.err;
    // Printable characters only, and one line feed at the end.
    auto control = std::find_if(r.err.begin(), r.err.end(), [](char c) { return c >= 0 && c < 0x20; });
    EXPECT_EQ(control - r.err.begin(), std::ptrdiff_t(r.err.size()) - 1) << r.err;
}

INSTANTIATE_TEST_SUITE_P(HairlabCli, Refusals, testing::ValuesIn(kRefusals));

// The version is the project's, printed without loading any plug-in.
TEST(HairlabCli, VersionNeedsNoPlugin) {
    test::Outcome o = test::hairlab({"--plugin", "/nonexistent/libbrdf_hair.so", "--version"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "hairlab " HAIR_VERSION "\n");
    EXPECT_EQ(o.err, "");
}

// The installed program through main(), with real file descriptors; a full disk is an error too.
TEST(HairlabCli, ExecutableExitStatus) {
    struct Case {
        std::string args;
        int status;
        std::string err; // all of stderr
    };
    const Case cases[] = {
        {"eval --type BRDFHair --light 0,0,1 >/dev/null", 0, ""},
        {"\"$(printf 'a\\nb')\" list", 2,
         "hairlab: unknown command 'a\\nb' (commands: list, eval, sample, furnace, gpu, render, presets, "
         "serve)\n"},
        {"list >/dev/full", 1, "hairlab list: error: cannot write the output\n"},
        {"--help >/dev/full", 1, "hairlab: error: cannot write the output\n"},
        {"eval --type BRDFHair --light 0,0,1 >/dev/full", 1,
         "hairlab eval: error: cannot write the output\n"},
    };
    const std::string errFile = testing::TempDir() + "hairlab_exit_err.txt";
    for (const Case& c : cases) {
        std::string cmd =
            std::string(HAIRLAB_EXE) + " --plugin " + BRDF_HAIR_LIB + " " + c.args + " 2>" + errFile;
        int raw = std::system(cmd.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.args;
        EXPECT_EQ(test::readFile(errFile), c.err) << c.args;
    }
    std::remove(errFile.c_str());
}

} // namespace
} // namespace hairlab
