// hairlab gpu: prints exactly what getRTSource wrote, with its result on stderr, and says so
// when a material has no GPU description.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "loader.h"
#include "probe.h"
#include "quor/gpu.h"

namespace hairlab {
namespace {

using test::hairlab;
using test::Outcome;

TEST(HairlabGpu, MaterialWithoutGpuDescriptionIsRefused) {
    Outcome r = hairlab({"gpu", "--type", "BRDFHair"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "hairlab gpu: type 'BRDFHair' has no GPU material interface (EXT_RTMTL)\n");
}

// For every type with the interface, the text and the result are those of a direct call on an
// instance built from the same parameters, for the answered kind and for others.
TEST(HairlabGpu, PrintsExactlyWhatGetRTSourceWrote) {
    LoadedLibrary library(BRDF_HAIR_LIB);
    int described = 0;
    for (int i = 0; i < library.host().count(); ++i) {
        quor::PluginDesc* desc = library.host().desc(i);
        std::string type = desc->getName();
        PointOptions o;
        o.type = type;
        o.unitScale = 2.5;
        std::unique_ptr<ProbePoint> point;
        try {
            point = std::make_unique<ProbePoint>(desc, library.host().params(desc), o);
        } catch (const std::exception&) {
            continue;
        }
        auto* mtl = static_cast<quor::RTMtlInterface*>(point->instance()->getInterface(quor::EXT_RTMTL));
        if (!mtl) {
            EXPECT_EQ(hairlab({"gpu", "--type", type}).status, 2) << type;
            continue;
        }
        ++described;
        for (const char* kind : {"MaterialDescriptor", "materialdescriptor", ""}) {
            quor::ShaderSource source;
            quor::OCLData data;
            int result = mtl->getRTSource(0, 0, kind, source, &data);
            Outcome text = hairlab({"gpu", "--type", type, "--unit-scale", "2.5", "--kind", kind});
            ASSERT_EQ(text.status, 0) << type << ": " << text.err;
            EXPECT_EQ(text.out, source.text()) << type << " " << kind;
            EXPECT_EQ(text.err, "result " + std::to_string(result) + "\n") << type << " " << kind;
            Outcome json = hairlab({"gpu", "--type", type, "--unit-scale", "2.5", "--kind", kind, "--json"});
            ASSERT_EQ(json.status, 0) << type << ": " << json.err;
            nlohmann::json j = nlohmann::json::parse(json.out);
            EXPECT_EQ(j["result"].get<int>(), result) << type << " " << kind;
            EXPECT_EQ(j["text"].get<std::string>(), source.text()) << type << " " << kind;
            EXPECT_EQ(json.err, "");
        }
        // The default kind is the material description.
        Outcome plain = hairlab({"gpu", "--type", type, "--unit-scale", "2.5"});
        Outcome named = hairlab({"gpu", "--type", type, "--unit-scale", "2.5", "--kind", "MaterialDescriptor"});
        EXPECT_EQ(plain.out, named.out);
        EXPECT_FALSE(plain.out.empty()) << type;
    }
    EXPECT_GE(described, 1);
}

TEST(HairlabGpu, ParametersAndUnitScaleReachTheDescription) {
    Outcome r = hairlab({"gpu", "--type", "BRDFHair4", "--set", "trace_depth=5", "--set", "melanin=0.25", "--unit-scale",
                         "2.5", "--set", "glint_variation=0", "--set", "glitter_strength=0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("brdf_hair_mtl_4\ndiffuse\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nreflection_maxdepth 5\n"), std::string::npos) << r.out;
    // A constant float texture bound by --set is described by the host, not as null.
    EXPECT_NE(r.out.find("hair_texFloatTransmissionGlossA\nfloat 0.25\n"), std::string::npos) << r.out;
    // The model keeps 100 times the scene's unit scale.
    const std::string tail = " 250.000000\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_EQ(r.err, "result 1\n");
}

} // namespace
} // namespace hairlab
