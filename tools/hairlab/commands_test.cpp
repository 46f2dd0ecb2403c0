// What each command prints is what the plug-in answered: the same calls on the same shading point,
// built by the harness from the same options, give the expected text (%.9g numbers) and JSON.
#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "harness/estimators.h"
#include "harness/test_support.h"
#include "quor/gpu.h"

namespace hairlab {
namespace {

using Point = harness::ShadingPoint;
using test::with;
struct Printed {
    std::string text; // stdout and stderr
    Json json;
};
using Direct = std::function<Printed(Point&)>;

Json lanes(const quor::Color& c) { return jsonLanes({c.r, c.g, c.b, c.a}); }
std::string g9(const quor::Color& c) { return test::g9({c.r, c.g, c.b, c.a}); }

Direct eval(std::vector<quor::Vector> lights, int flags = 3, quor::Color color = {1, 1, 1, 1},
            float prob = 1) {
    return [=](Point& p) {
        Printed r{"", {{"results", Json::array()}}};
        for (const quor::Vector& l : lights) {
            quor::Color light = color, unshadowed = color;
            quor::Color v = p.brdf()->eval(p.context(), l, light, unshadowed, prob, flags);
            r.text += g9(v) + "\n";
            r.json["results"].push_back({{"light", jsonLanes({l.x, l.y, l.z})},
                                         {"color", lanes(v)},
                                         {"light_color", lanes(light)},
                                         {"unshadowed_color", lanes(unshadowed)}});
        }
        quor::Color weight{1, 1, 1, 1};
        r.json["transparency"] = lanes(p.brdf()->getTransparency());
        r.json["opacity"] = lanes(p.brdf()->getOpacity());
        r.json["light_multiplier"] = lanes(p.brdf()->getLightMultiplier(weight));
        return r;
    };
}

Direct sample(float u, float a = 0.5f, float b = 0.5f, float c = 0.5f, int mode = 0) {
    return [=](Point& p) {
        quor::QuorContext& next = p.newRayContext(a, b, c);
        float result = p.brdf()->sampleRay(p.context(), next, u, mode);
        const quor::Vector& d = next.ray->dir;
        if (result == 0)
            return Printed{
                "result 0 direction null weight null probability null\n",
                {{"result", 0.0}, {"direction", nullptr}, {"weight", nullptr}, {"probability", nullptr}}};
        return Printed{"result " + test::g9({result}) + " direction " + test::g9({d.x, d.y, d.z}) +
                           " weight " + g9(next.pathWeight) + " probability " + test::g9({next.pathProb}) +
                           "\n",
                       {{"result", jsonNumber(result)},
                        {"direction", jsonLanes({d.x, d.y, d.z})},
                        {"weight", lanes(next.pathWeight)},
                        {"probability", jsonNumber(next.pathProb)}}};
    };
}

Direct furnace(int samples, std::uint64_t seed) {
    return [=](Point& p) {
        harness::FurnaceResult r = harness::furnace(p, samples, seed);
        auto text = [](const harness::Rgb& v) { return test::g9({v.r, v.g, v.b}); };
        auto json = [](const harness::Rgb& v) { return jsonLanes({v.r, v.g, v.b}); };
        return Printed{"eval    " + text(r.eval) + "  stderr " + text(r.evalStderr) + "\nsampled " +
                           (r.sampled ? text(r.sampledMean) + "  stderr " + text(r.sampledStderr) : "null") +
                           "\n",
                       {{"eval", json(r.eval)},
                        {"eval_stderr", json(r.evalStderr)},
                        {"sampled", r.sampled ? json(r.sampledMean) : Json(nullptr)},
                        {"sampled_stderr", r.sampled ? json(r.sampledStderr) : Json(nullptr)}}};
    };
}

Direct gpu(const char* kind) {
    return [=](Point& p) {
        auto* mtl = static_cast<quor::RTMtlInterface*>(p.instance().base()->getInterface(quor::EXT_RTMTL));
        quor::ShaderSource source;
        quor::OCLData data;
        int result = mtl->getRTSource(0, 0, kind, source, &data);
        return Printed{source.text() + "result " + std::to_string(result) + "\n",
                       {{"result", result}, {"text", source.text()}}};
    };
}

struct Probe {
    test::Args args; // the command, then --type and the rest
    Direct direct;
    int base; // the row this one varies in one option, which must change the answer (-1: none)
};

test::Args eval4(const test::Args& more) {
    return with({"eval", "--type", "BRDFHair4", "--set", "diffuse_color=1,1,1", "--light", "0,0.6,0.8"},
                more);
}
test::Args sample4(const test::Args& more) { return with({"sample", "--type", "BRDFHair4", "--u"}, more); }
test::Args gpu4(const test::Args& more) { return with({"gpu", "--type", "BRDFHair4"}, more); }
const quor::Vector kL{0, 0.6f, 0.8f, 0};

// Rows of one command follow each other; base counts from the top of the table.
const Probe kProbes[] = {
    {eval4({}), eval({kL}), -1},
    {eval4({"--light", "0.6,0,0.8", "--light", "0,0,-5"}), eval({kL, {0.6f, 0, 0.8f, 0}, {0, 0, -1, 0}}), 0},
    {eval4({"--flags", "0x1"}), eval({kL}, 1), 0},
    {eval4({"--flags", "2"}), eval({kL}, 2), 2},
    {eval4({"--light-color", "2,0.5,0.25"}), eval({kL}, 3, {2, 0.5f, 0.25f, 0.25f}), 0},
    {eval4({"--mis", "1", "--light-prob", "0.25"}), eval({kL}, 3, {1, 1, 1, 1}, 0.25f), 0},
    {eval4({"--side", "1", "--set", "transparency=0.5,0.5,0.5", "--context-flags", "0"}), eval({kL}), 0},
    {sample4({"0.7", "--xi", "0.2,0.3,0.4"}), sample(0.7f, 0.2f, 0.3f, 0.4f), -1},
    {sample4({"0.05", "--xi", "0.2,0.3,0.4"}), sample(0.05f, 0.2f, 0.3f, 0.4f), 7},
    {sample4({"0.7", "--xi", "0.6,0.3,0.4"}), sample(0.7f, 0.6f, 0.3f, 0.4f), 7},
    {sample4({"0.7", "--xi", "0.2,0.7,0.4"}), sample(0.7f, 0.2f, 0.7f, 0.4f), 7},
    {sample4({"0.7", "--xi", "0.2,0.3,0.8"}), sample(0.7f, 0.2f, 0.3f, 0.8f), 7},
    {sample4({"0.7"}), sample(0.7f), 7},
    {sample4({"0.7", "--xi", "0.2,0.3,0.4", "--mode", "2"}), sample(0.7f, 0.2f, 0.3f, 0.4f, 2), 7},
    {{"sample", "--type", "BRDFHair3", "--u", "1.5", "--xi", "0,1,0.999"}, sample(1.5f, 0, 1, 0.999f), -1},
    {{"sample", "--type", "BRDFHair", "--u", "0.3"}, sample(0.3f), -1},
    {{"furnace", "--type", "BRDFHair", "--strand-color", "1,0.5,0.25"}, furnace(kFurnaceSamples, 1), -1},
    {{"furnace", "--type", "BRDFHair4", "--samples", "0x1000"}, furnace(4096, 1), -1},
    {{"furnace", "--type", "BRDFHair4", "--samples", "4096", "--seed", "18446744073709551615"},
     furnace(4096, ~std::uint64_t(0)),
     17},
    {gpu4({}), gpu("MaterialDescriptor"), -1},
    {gpu4({"--set", "trace_depth=5", "--unit-scale", "2.5"}), gpu("MaterialDescriptor"), 19},
    {gpu4({"--kind", ""}), gpu(""), 19},
    {{"gpu", "--type", "BRDFHair3", "--set", "primary_specular=0.1,0.2,0.3"}, gpu("MaterialDescriptor"), -1},
};

class CommandOutput : public testing::TestWithParam<int> {};

TEST_P(CommandOutput, IsWhatThePlugInAnswered) {
    const Probe& probe = kProbes[GetParam()];
    auto answer = [](const Probe& p) { return p.direct(*test::point({p.args.begin() + 1, p.args.end()})); };
    Printed want = answer(probe);
    test::Outcome text = test::hairlab(probe.args);
    EXPECT_EQ(text.out + text.err, want.text);
    test::Outcome json = test::hairlab(with(probe.args, {"--json"}));
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(json.status ? Json() : Json::parse(json.out), want.json);
    if (probe.base >= 0) {
        EXPECT_NE(want.text, answer(kProbes[probe.base]).text) << "the option changed nothing";
    }
}

INSTANTIATE_TEST_SUITE_P(HairlabCli, CommandOutput, testing::Range(0, int(std::size(kProbes))));

// A material made by a probe command carries its registered defaults, as an editor's does.
TEST(HairlabCli, RegisteredDefaultsAreBound) {
    for (const std::string& type : harness::test::types()) {
        test::Args explicitDefaults = {"eval", "--type", type, "--unbound", "--light", "0.3,0.4,0.866"};
        for (auto& [name, value] : harness::test::registeredDefaults(type))
            explicitDefaults.insert(explicitDefaults.end(), {std::string("--set"), name + "=" + value});
        test::Outcome bound = test::hairlab({"eval", "--type", type, "--light", "0.3,0.4,0.866"});
        EXPECT_EQ(bound.status, 0);
        EXPECT_EQ(bound.out, test::hairlab(explicitDefaults).out) << type;
    }
}

TEST(HairlabCli, ListIsTheRegistry) {
    auto text = [](const char* s) { return s ? Json(s) : Json(nullptr); };
    const char* kinds[] = {"texture", "texture_rgb", "texture_float", "float", "int", "bool"};
    quor::PluginLibDesc* lib = test::library().lib();
    quor::QuorPluginHost& host = test::library().host();
    Json want = {{"library", {{"name", lib->getLibName()}, {"description", lib->getLibDescription()}}},
                 {"plugins", Json::array()}};
    std::string headings = std::string(lib->getLibName()) + ": " + lib->getLibDescription() + "\n";
    for (int i = 0; i < host.count(); ++i) {
        quor::PluginDesc* d = host.desc(i);
        Json t = {{"name", d->getName()},
                  {"id", d->getPluginTypeId()},
                  {"description", text(d->getDescription())},
                  {"parameters", Json::array()}};
        headings += "\n" + std::string(d->getName()) + " (" + std::to_string(d->getPluginTypeId()) + ")\n";
        const quor::QuorParameterListDesc* params = host.params(d);
        for (int k = 0; k < params->count(); ++k) {
            const quor::ParamInfo& p = params->param(k);
            const quor::Color& c = p.colorDefault;
            Json value = p.kind == quor::ParamKind::Texture      ? lanes(c)
                         : p.kind == quor::ParamKind::TextureRGB ? jsonLanes({c.r, c.g, c.b})
                         : p.kind == quor::ParamKind::Int        ? Json(p.intDefault)
                         : p.kind == quor::ParamKind::Bool       ? Json(p.intDefault != 0)
                                                                 : jsonNumber(p.floatDefault);
            t["parameters"].push_back({{"name", p.name},
                                       {"kind", kinds[int(p.kind)]},
                                       {"default", value},
                                       {"description", text(p.description)},
                                       {"hints", text(p.hints)}});
        }
        want["plugins"].push_back(t);
    }
    EXPECT_EQ(nlohmann::json::parse(test::hairlab({"list", "--json"}).out),
              nlohmann::json::parse(want.dump()));
    // The text: the library line, then each type's heading after a blank line.
    std::string plain = test::hairlab({"list"}).out, seen;
    for (std::size_t at = 0; (at = plain.find("\n\n", at)) != std::string::npos; at += 2)
        seen += "\n" + plain.substr(at + 2, plain.find('\n', at + 2) - at - 1);
    EXPECT_EQ(plain.substr(0, plain.find('\n') + 1) + seen, headings);
}

} // namespace
} // namespace hairlab
