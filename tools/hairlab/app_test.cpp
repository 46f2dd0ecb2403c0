// hairlab's handling of bad input: one line on stderr naming what was wrong, exit status 2,
// nothing on stdout, and no crash whatever the arguments; and the help of every command.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace hairlab {
namespace {

using test::Outcome;

Outcome hairlab(std::vector<std::string> args) { return test::hairlab(std::move(args)); }
Outcome hairlabWith(std::vector<std::string> args, bool plugin) { return test::hairlab(std::move(args), plugin); }
int lines(const std::string& s) { return test::lineCount(s); }

TEST(HairlabCli, BadInputIsOneLineAndStatusTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string message;  // the whole line, without "hairlab COMMAND: " and the line feed
    };
    const std::vector<std::string> e = {"eval", "--type", "BRDFHair", "--light", "0,0,1"};
    auto eval = [&](std::vector<std::string> extra) {
        std::vector<std::string> a = e;
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    };
    const Case cases[] = {
        {{"frobnicate"}, "unknown command 'frobnicate' (commands: list, eval, sample, furnace, gpu"},
        {{"Eval", "--type", "BRDFHair"}, "unknown command 'Eval'"},
        {{}, "no command given"},
        {{"--plugin"}, "--plugin: 1 required TEXT missing"},
        {{"eval", "--light", "0,0,1"}, "--type is required"},
        {{"eval", "--type", "BRDFHair"}, "--light is required"},
        {{"sample", "--type", "BRDFHair"}, "--u is required"},
        {{"eval", "--type", "NoSuchHair", "--light", "0,0,1"}, "--type: unknown type 'NoSuchHair'"},
        {eval({"--set", "no_such_param=1"}), "--set: unknown parameter 'no_such_param'"},
        {eval({"--set", "specular_power=fast"}), "--set specular_power: 'fast' is not a number"},
        {eval({"--set", "specular_power=-2"}), "--set specular_power: value -2 is outside the allowed range"},
        {eval({"--set", "diffuse_color_tex=1,x,1"}), "--set diffuse_color_tex: '1,x,1' is not a colour"},
        {eval({"--set", "diffuse_color_tex"}), "--set: 'diffuse_color_tex' is not NAME=VALUE"},
        {eval({"--dir", "0,0,0"}), "--dir: '0,0,0' is a zero vector"},
        {eval({"--dir", "1,2"}), "--dir: '1,2' is not a vector x,y,z"},
        {eval({"--light", "0,0,0"}), "--light: '0,0,0' is a zero vector"},
        {eval({"--light-color", "red"}), "--light-color: 'red' is not a colour r,g,b"},
        {eval({"--light-prob", "-1"}), "--light-prob: '-1' is negative"},
        {eval({"--flags", "0xG"}), "--flags: '0xG' is not a 32-bit hex value"},
        {eval({"--ray-flags", "0x1FFFFFFFF"}), "--ray-flags: '0x1FFFFFFFF' is not a 32-bit hex value"},
        {eval({"--context-flags", "1.5"}), "--context-flags: '1.5' is not an integer"},
        {eval({"--h", "nan"}), "--h: 'nan' is not a finite decimal number"},
        {eval({"--strand-length", "1e99"}), "--strand-length: '1e99' is not a number in single-precision range"},
        {eval({"--mis", "yes"}), "--mis: 'yes' is not an integer"},
        {eval({"--mis", "2"}), "--mis: '2' is not 0 or 1"},
        {eval({"--set", "=1"}), "--set: '=1' is not NAME=VALUE"},
        {eval({"--normal", "0,0,0"}), "--normal: '0,0,0' is a zero vector"},
        {eval({"--strand-color", "1,1,1,1"}), "--strand-color: '1,1,1,1' is not a colour r,g,b"},
        {eval({"--strand-index", "1.5"}), "--strand-index: '1.5' is not an integer"},
        {eval({"--coverage", "inf"}), "--coverage: 'inf' is not a finite decimal number"},
        {eval({"--depth", "-1"}), "--depth: '-1' is negative"},
        {eval({"--depth", "2147483647"}), "--depth: '2147483647' is above 1000000"},
        {eval({"--gi", "1,2,3,4"}), "--gi: '1,2,3,4' is not a colour r,g,b"},
        {eval({"--unit-scale", "-2"}), "--unit-scale: '-2' is not a positive scale"},
        {eval({"--coverage"}), "--coverage: 1 required TEXT missing"},
        {eval({"--bogus"}), "The following argument was not expected: --bogus"},
        {{"sample", "--type", "BRDFHair", "--u", "-0.1"}, "--u: '-0.1' is outside [0, 2]"},
        {{"sample", "--type", "BRDFHair", "--u", "0.5", "--xi", "0.5,0.5"}, "--xi: '0.5,0.5' is not three numbers"},
        {{"sample", "--type", "BRDFHair", "--u", "0.5", "--xi", "0.5,1.5,0"}, "--xi: '0.5,1.5,0' is outside [0, 1]"},
        {{"furnace", "--type", "BRDFHair", "--samples", "0"}, "--samples: '0' is outside [4, "},
        {{"furnace", "--type", "BRDFHair", "--samples", "many"}, "--samples: 'many' is not a non-negative integer"},
        {{"furnace", "--type", "BRDFHair", "--seed", "-1"}, "--seed: '-1' is not a non-negative integer"},
        {{"gpu", "--type", "BRDFHair"}, "type 'BRDFHair' has no GPU material interface"},
        {{"gpu", "--type", "BRDFHair4", "--set", "melanin=2"}, "--set melanin: value 2 is outside the allowed range"},
        {{"gpu", "--type", "BRDFHair4", "--unit-scale", "0"}, "--unit-scale: '0' is not a positive scale"},
        {{"gpu", "--type", "BRDFHair4", "--dir", "0,0,1"}, "not expected: 0,0,1 --dir"},
    };
    for (const Case& c : cases) {
        Outcome r = hairlab(c.args);
        std::string shown;
        for (auto& a : c.args) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(lines(r.err), 1) << shown << "-> " << r.err;
        EXPECT_EQ(r.err.rfind("hairlab", 0), 0u) << shown << "-> " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << "-> " << r.err;
    }
}

TEST(HairlabCli, UncheckedAdmitsValuesOutsideTheHints) {
    Outcome refused = hairlab({"eval", "--type", "BRDFHair", "--light", "0,0,1", "--set", "specular_power=-2"});
    EXPECT_EQ(refused.status, 2);
    Outcome admitted = hairlab({"eval", "--type", "BRDFHair", "--light", "0,0,1", "--set", "specular_power=-2",
                                "--unchecked", "--strand-color", "0.5,0.5,0.5"});
    EXPECT_EQ(admitted.status, 0) << admitted.err;
    EXPECT_EQ(admitted.out, "0.5 0.5 0.5 0.5\n");
}

TEST(HairlabCli, AMissingLibraryIsNamed) {
    Outcome r = hairlabWith({"--plugin", "/nonexistent/libnothing.so", "list"}, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(lines(r.err), 1);
    EXPECT_NE(r.err.find("/nonexistent/libnothing.so"), std::string::npos) << r.err;
    // The library may also be named after the command.
    Outcome after = hairlabWith({"eval", "--type", "BRDFHair", "--light", "0,0,1", "--plugin", BRDF_HAIR_LIB}, false);
    EXPECT_EQ(after.status, 0) << after.err;
}

// Hostile values where the options admit anything: every run ends with status 0 or 2, never a
// crash, and output is either numbers or one line of complaint.
TEST(HairlabCli, NothingCrashesOnExtremeValues) {
    const std::vector<std::vector<std::string>> runs = {
        {"eval", "--type", "BRDFHair4", "--light", "0,0,1", "--set", "melanin=1e30", "--unchecked"},
        {"eval", "--type", "BRDFHair4", "--light", "1e-38,0,0", "--set", "ior=-5", "--unchecked", "--h", "1e30"},
        {"eval", "--type", "BRDFHair4", "--light", "0,0,1", "--set", "ior=nan", "--unchecked"},
        {"eval", "--type", "BRDFHair4", "--light", "0,0,1", "--tangent", "0,0,0", "--depth", "1000000"},
        {"sample", "--type", "BRDFHair4", "--u", "0.5", "--depth", "1000000", "--h", "-1e30"},
        {"eval", "--type", "BRDFHair4", "--light", "0,0,1", "--tangent", "1e30,1e30,0", "--strand-length", "-1e30",
         "--strand-index", "-2147483648", "--strand-position", "1e30", "--coverage", "-3"},
        {"eval", "--type", "BRDFHair", "--light", "0,0,1", "--set", "specular_power=inf", "--unchecked", "--side",
         "-2147483648", "--ray-flags", "0xFFFFFFFF", "--context-flags", "0xFFFFFFFF"},
        {"sample", "--type", "BRDFHair4", "--u", "2", "--xi", "1,1,1", "--dir", "0,1,0", "--tangent", "0,1,0"},
        {"sample", "--type", "BRDFHair4", "--u", "0", "--xi", "0,0,0", "--set", "trace_depth=0", "--depth", "100"},
        {"sample", "--type", "BRDFHair4", "--u", "0.9", "--mode", "-2147483648", "--set", "softness=1e9", "--unchecked"},
        {"furnace", "--type", "BRDFHair4", "--samples", "4", "--seed", "18446744073709551615"},
        {"furnace", "--type", "BRDFHair", "--samples", "4", "--set", "diffuse_color_tex=1e38,1e38,1e38", "--unchecked"},
        {"gpu", "--type", "BRDFHair4", "--kind", "", "--unit-scale", "3e38"},
        {"list", "--json"},
    };
    for (const auto& args : runs) {
        Outcome r = hairlab(args);
        std::string shown;
        for (auto& a : args) shown += a + " ";
        EXPECT_TRUE(r.status == 0 || r.status == 2) << shown << "-> " << r.status << " " << r.err;
        if (r.status == 2) {
            EXPECT_EQ(lines(r.err), 1) << shown;
        } else if (args[0] != "gpu") {  // an unknown kind is answered with no text
            EXPECT_FALSE(r.out.empty()) << shown;
        }
    }
}

TEST(HairlabCli, HelpDescribesEveryOption) {
    Outcome top = hairlabWith({"--help"}, false);
    EXPECT_EQ(top.status, 0);
    for (const char* cmd : {"list", "eval", "sample", "furnace", "gpu", "--plugin"})
        EXPECT_NE(top.out.find(cmd), std::string::npos) << cmd;

    const std::vector<std::string> point = {"--type",          "--set",        "--unchecked",     "--dir",
                                            "--tangent",       "--normal",     "--h ",            "--strand-color",
                                            "--strand-transparency", "--strand-index", "--strand-length",
                                            "--strand-position", "--no-strand-data", "--coverage", "--depth",
                                            "--ray-flags",     "--context-flags", "--side",       "--unit-scale",
                                            "--gi",            "--mis",        "--json"};
    struct Command {
        const char* name;
        std::vector<std::string> own;
        bool shading;
    };
    const Command commands[] = {
        {"eval", {"--light ", "--flags", "--light-color", "--light-prob"}, true},
        {"sample", {"--u ", "--xi", "--mode"}, true},
        {"furnace", {"--samples", "--seed"}, true},
        {"gpu", {"--type", "--set", "--unchecked", "--kind", "--unit-scale", "--json"}, false},
    };
    for (const Command& c : commands) {
        Outcome r = hairlabWith({c.name, "--help"}, false);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, "");
        // The command's own help, not the top-level one.
        EXPECT_NE(r.out.find(std::string("hairlab ") + c.name), std::string::npos) << r.out;
        std::vector<std::string> names = c.own;
        if (c.shading) names.insert(names.end(), point.begin(), point.end());
        for (const std::string& n : names) EXPECT_NE(r.out.find(n), std::string::npos) << c.name << " lacks " << n;
    }
}

// The installed program: same messages, same status, through main().
TEST(HairlabCli, ExecutableReportsStatus) {
    auto shell = [](const std::string& args, std::string& err) {
        std::string errFile = ::testing::TempDir() + "hairlab_cli_err.txt";
        std::string cmd = std::string(HAIRLAB_EXE) + " --plugin " + BRDF_HAIR_LIB + " " + args + " >/dev/null 2>" + errFile;
        int raw = std::system(cmd.c_str());
        std::ifstream in(errFile);
        std::stringstream ss;
        ss << in.rdbuf();
        err = ss.str();
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    std::string err;
    EXPECT_EQ(shell("frobnicate", err), 2);
    EXPECT_EQ(err, "hairlab: unknown command 'frobnicate' (commands: list, eval, sample, furnace, gpu" +
                       std::string(err.find(", render") != std::string::npos ? ", render" : "") + ")\n");
    EXPECT_EQ(shell("eval --type BRDFHair --light 0,0,1 --dir 0,0,0", err), 2);
    EXPECT_EQ(err, "hairlab eval: --dir: '0,0,0' is a zero vector, which has no direction\n");
    EXPECT_EQ(shell("eval --type BRDFHair --light 0,0,1", err), 0);
    EXPECT_EQ(err, "");
}

} // namespace
} // namespace hairlab
