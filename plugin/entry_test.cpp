// The library as a host sees it: loading, enumeration, registration texts and tables.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "quor/quor.h"

namespace {

struct Collect final : quor::PluginDescCallback {
    std::vector<quor::PluginDesc*> descs;
    int stopAfter = 1 << 30;
    int onPluginDesc(quor::PluginDesc* d) override {
        descs.push_back(d);
        return static_cast<int>(descs.size()) < stopAfter ? 1 : 0;
    }
};

quor::PluginLibDesc* loadLibrary() {
    static void* handle = dlopen(BRDF_HAIR_LIB, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto entry = reinterpret_cast<quor::PluginLibDesc* (*)()>(dlsym(handle, "getLibDesc"));
    return entry ? entry() : nullptr;
}

TEST(Registration, LoadsAndEnumeratesNewestFirst) {
    quor::PluginLibDesc* lib = loadLibrary();
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_STREQ(lib->getLibName(), "BRDFHair");
    EXPECT_STREQ(lib->getLibDescription(), "BRDF for shading hair, designed to be used with Maya hair.");
    EXPECT_EQ(lib->enumPluginDescs(nullptr), 4);

    Collect all;
    EXPECT_EQ(lib->enumPluginDescs(&all), 4);
    ASSERT_EQ(all.descs.size(), 4u);
    const char* names[] = {"BRDFHair4", "BRDFHair3", "BRDFHair2", "BRDFHair"};
    const int ids[] = {2017032801, 2011090401, 2011060301, 2010021201};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(all.descs[i]->getName(), names[i]);
        EXPECT_EQ(all.descs[i]->getPluginTypeId(), ids[i]);
        EXPECT_EQ(all.descs[i]->supportsInterface(quor::EXT_QUOR_PLUGIN), 1);
        EXPECT_EQ(all.descs[i]->supportsInterface(quor::EXT_BSDF), 1);
        EXPECT_EQ(all.descs[i]->supportsInterface(quor::EXT_RTMTL), 0);
    }
    EXPECT_STREQ(all.descs[3]->getName(), lib->getLibName());
    EXPECT_STREQ(
        all.descs[0]->getDescription(),
        "Artist friendly hair shader based on the Disney paper \"A Practical and Controllable Hair and "
        "Fur Model for Production Path Tracing\" [gpuSupport=(partial)]");
    EXPECT_STREQ(all.descs[2]->getDescription(), all.descs[3]->getDescription());

    Collect first;
    first.stopAfter = 1;
    EXPECT_EQ(lib->enumPluginDescs(&first), 1);
    EXPECT_STREQ(first.descs[0]->getName(), "BRDFHair4");
}

// Lines of a command's output.
std::vector<std::string> lines(const std::string& cmd) {
    std::vector<std::string> out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        out.emplace_back(line);
    pclose(p);
    return out;
}

// The library's boundary: it exports only its entry, and needs nothing but the host library and
// the C and C++ runtimes (and the sanitizers' runtimes in that build).
TEST(Registration, ExportsOnlyTheEntryAndNeedsOnlyTheHost) {
    std::vector<std::string> symbols = lines(std::string("nm -D --defined-only ") + BRDF_HAIR_LIB);
    ASSERT_EQ(symbols.size(), 1u) << (symbols.empty() ? "nm printed nothing" : symbols[0]);
    EXPECT_EQ(symbols[0].substr(symbols[0].rfind(' ') + 1), "getLibDesc\n");

    const std::set<std::string> allowed = {"libquor.so.1", "libstdc++.so.6", "libm.so.6",    "libgcc_s.so.1",
                                           "libc.so.6",    "libasan.so.8",   "libubsan.so.1"};
    int needed = 0;
    for (const std::string& l : lines(std::string("readelf -d ") + BRDF_HAIR_LIB)) {
        std::size_t open = l.find("(NEEDED)");
        if (open == std::string::npos) continue;
        std::size_t a = l.find('[') + 1, b = l.find(']');
        EXPECT_TRUE(allowed.count(l.substr(a, b - a))) << "needs " << l.substr(a, b - a);
        ++needed;
    }
    EXPECT_GE(needed, 2);
}

TEST(Registration, HostGetsEveryParameterTable) {
    quor::PluginLibDesc* lib = loadLibrary();
    ASSERT_NE(lib, nullptr);
    Collect all;
    lib->enumPluginDescs(&all);
    quor::QuorPluginHost host;
    for (auto* d : all.descs)
        d->registerPlugin(&host);
    all.descs[0]->registerPlugin(nullptr); // ignored
    ASSERT_EQ(host.count(), 4);

    struct Expect {
        const char* type;
        int count;
        const char* first;
        const char* last;
    } expect[] = {{"BRDFHair4", 31, "melanin", "subdivs"},
                  {"BRDFHair3", 21, "overall_color", "light_multiplier"},
                  {"BRDFHair2", 17, "diffuse_color_tex", "caustic_limit"},
                  {"BRDFHair", 3, "specular_color_tex", "diffuse_color_tex"}};
    for (const auto& e : expect) {
        quor::PluginDesc* d = host.find(e.type);
        ASSERT_NE(d, nullptr) << e.type;
        const quor::QuorParameterListDesc* p = host.params(d);
        ASSERT_NE(p, nullptr) << e.type;
        ASSERT_EQ(p->count(), e.count) << e.type;
        EXPECT_STREQ(p->param(0).name, e.first);
        EXPECT_STREQ(p->param(e.count - 1).name, e.last);
        for (int i = 0; i < e.count; ++i)
            EXPECT_EQ(p->param(i).count, -1);
    }

    // The irregular texts travel exactly as written.
    const quor::QuorParameterListDesc* h4 = host.params(host.find("BRDFHair4"));
    const quor::ParamInfo& glitterSize = h4->param(h4->indexOf("glitter_size"));
    EXPECT_STREQ(
        glitterSize.hints,
        "minValue=(0.001), maxValue(100000), softMinValue=(0.1), softMaxValue=(10), gpuSupport=(full)");
    const quor::ParamInfo& randomTangent = h4->param(h4->indexOf("random_tangent"));
    EXPECT_STREQ(randomTangent.hints,
                 "minValue=(0), maxValue=(100), softMinValue=(0), softMaxValue=(1),gpuSupport=(full)");
    EXPECT_EQ(h4->param(h4->indexOf("subdivs")).description, nullptr);
    EXPECT_EQ(h4->param(h4->indexOf("ior")).floatDefault, 1.55f);

    const quor::QuorParameterListDesc* h2 = host.params(host.find("BRDFHair2"));
    const quor::ParamInfo& absorption = h2->param(1);
    EXPECT_EQ(absorption.kind, quor::ParamKind::TextureRGB);
    EXPECT_EQ(absorption.colorDefault.r, 0.2f);
    EXPECT_STREQ(absorption.description, "Absorption coeficient, controls the color of the hair");
    EXPECT_EQ(absorption.hints, nullptr);

    const quor::QuorParameterListDesc* h3 = host.params(host.find("BRDFHair3"));
    EXPECT_STREQ(h3->param(19).name, "transmission_in_specular");
    EXPECT_EQ(h3->param(h3->indexOf("secondary_lock_to_transmission")).kind, quor::ParamKind::Bool);

    for (auto* d : all.descs)
        EXPECT_EQ(d->unregisterPlugin(&host), 1);
    EXPECT_EQ(host.count(), 0);
    EXPECT_EQ(all.descs[0]->unregisterPlugin(nullptr), 0);
}

} // namespace
