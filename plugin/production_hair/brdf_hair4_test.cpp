// BRDFHair4 as the host drives it: instance, parameter binding, frame start, flags, interfaces
// and the per-point input gathering.
#include "production_hair/brdf_hair4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "frame/descriptor.h"
#include "quor/quor.h"

namespace hair {
namespace {

quor::PluginDesc* hair4Desc() {
    for (DescRegistry::Node* n = DescRegistry::head; n; n = n->next)
        if (std::strcmp(n->desc->getName(), "BRDFHair4") == 0) return n->desc;
    return nullptr;
}

// One instance between renderBegin and renderEnd, with a context on a strand.
struct Instance {
    quor::PluginDesc* desc = hair4Desc();
    BRDFHair4* hair = nullptr;
    quor::QuorRenderer renderer;
    quor::SimpleSceneObject scene;
    quor::SimpleStrandData strand;
    quor::RenderSettings settings;
    quor::QuorContext ctx;

    Instance() {
        hair = static_cast<BRDFHair4*>(desc->newPlugin(nullptr));
        renderer.threadCount = 2;
        renderer.scene = &scene;
        hair->renderBegin(&renderer);
        hair->frameBegin(&renderer);
        strand.record.tangent = {0, 1, 0, 0};
        ctx.surfaceData = &strand;
        ctx.settings = &settings;
        ctx.rayDir = {0, 0, -1, 0};
        ctx.normal = {0, 0, 1, 0};
    }
    ~Instance() {
        hair->renderEnd(&renderer);
        desc->deletePlugin(hair);
    }
    quor::QuorParameter& param(const char* name) {
        quor::QuorParameter* p = hair->paramList()->getParam(name);
        EXPECT_NE(p, nullptr) << name;
        return *p;
    }
    Hair4BSDF& shade() {
        quor::BSDFSampler* b = hair->newBSDF(ctx, 0);
        EXPECT_NE(b, nullptr);
        Hair4BSDF* s = static_cast<Hair4BSDF*>(b);
        hair->deleteBSDF(ctx, b); // stays valid until the next newBSDF on this thread
        return *s;
    }
};

TEST(ProductionHair, InstanceAnswersItsInterfaces) {
    ASSERT_NE(hair4Desc(), nullptr);
    Instance in;
    quor::PluginBase* base = in.hair;
    auto* rt = static_cast<quor::RTMtlInterface*>(base->getInterface(quor::EXT_RTMTL));
    ASSERT_NE(rt, nullptr);
    EXPECT_EQ(rt->getInterfaceId(), static_cast<int>(0x77C0A07E));
    EXPECT_STREQ(rt->getInterfaceName(), "EXT_RTMTL");
    EXPECT_EQ(rt->getPlugin(), base);
    EXPECT_EQ(rt->reserved3(), 0xFFFFFFFFu);
    auto* bsdf = static_cast<quor::BSDFInterface*>(base->getInterface(quor::EXT_BSDF));
    ASSERT_NE(bsdf, nullptr);
    EXPECT_STREQ(bsdf->getInterfaceName(), "EXT_BSDF");
    EXPECT_EQ(bsdf->getPlugin(), base);
    auto* plug = static_cast<quor::QuorPluginInterface*>(base->getInterface(quor::EXT_QUOR_PLUGIN));
    ASSERT_NE(plug, nullptr);
    EXPECT_EQ(plug->getInterfaceId(), static_cast<int>(0x7776FFFF));
    EXPECT_EQ(plug->getPlugin(), base);
    EXPECT_EQ(base->getInterface(12345), nullptr);
}

TEST(ProductionHair, FrameBeginReadsSceneUnits) {
    Instance in;
    EXPECT_EQ(in.hair->unitScale(), 100.0f);
    in.scene.hasUnits = true;
    in.scene.scale = 0.025;
    in.hair->frameBegin(&in.renderer);
    EXPECT_FLOAT_EQ(in.hair->unitScale(), 2.5f);
    in.scene.hasUnits = false;
    in.hair->frameBegin(&in.renderer);
    EXPECT_EQ(in.hair->unitScale(), 100.0f);
    in.hair->frameBegin(nullptr);
    EXPECT_EQ(in.hair->unitScale(), 100.0f);
}

TEST(ProductionHair, BSDFFlagsFollowTransparencyRange) {
    Instance in;
    EXPECT_EQ(in.hair->getBSDFFlags(), 2);
    in.param("transparency").setConstantColor({0, 0, 0, 1});
    EXPECT_EQ(in.hair->getBSDFFlags(), 3);
    in.param("transparency").setConstantColor({0, 0, 0.01f, 1});
    EXPECT_EQ(in.hair->getBSDFFlags(), 2);
    quor::RootTipRampTexture ramp({0, 0, 0, 1}, {0.5f, 0.5f, 0.5f, 1});
    in.param("transparency").setTexture(&ramp);
    EXPECT_EQ(in.hair->getBSDFFlags(), 2);
    in.param("transparency").clearTexture();
    EXPECT_EQ(in.hair->getBSDFFlags(), 2);
}

TEST(ProductionHair, UnboundSoftnessEntersAsPointEight) {
    // No glint variation, so no floor on the random offsets: the scale follows the softness.
    auto scaleFor = [](float b) {
        return std::min(0.62665707f * ((0.265f + 1.194f * b) * b + 5.372f * std::pow(b, 22.0f)), 4.2806945f);
    };
    Instance in;
    in.param("glint_variation").setFloat(0.0f);
    EXPECT_NEAR(in.shade().lobeScale[1], scaleFor(0.8f), 1e-6f);
    in.param("softness").setConstantFloat(0.5f);
    EXPECT_NEAR(in.shade().lobeScale[1], scaleFor(0.5f), 1e-6f);
    EXPECT_EQ(in.shade().getAuxFlags(), 64);
    in.param("subdivs").setInt(5);
    EXPECT_EQ(in.shade().getAuxFlags(), 25);
    in.param("trace_depth").setInt(1);
    in.ctx.rayDepth = 1;
    EXPECT_EQ(in.shade().terminal, 1);
}

TEST(ProductionHair, CoverageAndTransparencyTexture) {
    Instance in;
    in.strand.hasCoverage = true;
    in.strand.coverage = 0.25f;
    EXPECT_FLOAT_EQ(in.shade().transparency.g(), 0.75f);
    in.strand.coverage = 1.5f;
    EXPECT_FLOAT_EQ(in.shade().transparency.g(), 0.0f);
    in.strand.coverage = 0.5f;
    in.param("transparency").setConstantColor({0.2f, 0.4f, 0.6f, 1});
    Hair4BSDF& s = in.shade();
    EXPECT_FLOAT_EQ(s.transparency.r(), 0.6f);
    EXPECT_FLOAT_EQ(s.transparency.b(), 0.8f);
}

TEST(ProductionHair, ShadowRayTakesOnlyTheShadowTransparency) {
    Instance in;
    in.strand.record.transparency[0] = 0.9f;
    in.strand.shadowTransparency = {0.1f, 0.2f, 0.3f};
    in.ctx.rayFlags = quor::RAY_SHADOW;
    Hair4BSDF& s = in.shade();
    EXPECT_EQ(s.terminal, 1);
    EXPECT_FLOAT_EQ(s.transparency.r(), 0.1f);
    EXPECT_FLOAT_EQ(s.transparency.b(), 0.3f);
    // A shadow ray without strand data sees an opaque strand.
    in.strand.hasStrandData = false;
    EXPECT_EQ(in.shade().transparency.r(), 0.0f);
}

TEST(ProductionHair, StrandRecordAndDiffuseTexture) {
    Instance in;
    in.param("diffuse_amount").setConstantFloat(0.5f);
    in.strand.record.color[0] = 0.6f, in.strand.record.color[1] = 0.4f, in.strand.record.color[2] = 0.2f;
    Hair4BSDF& s = in.shade();
    EXPECT_FLOAT_EQ(s.diffuseColor.r(), 0.3f);
    EXPECT_FLOAT_EQ(s.diffuseColor.b(), 0.1f);
    in.param("diffuse_color").setConstantColor({0.1f, 0.8f, 1.4f, 1});
    EXPECT_FLOAT_EQ(in.shade().diffuseColor.g(), 0.4f);
    EXPECT_FLOAT_EQ(in.shade().diffuseColor.b(), 0.5f); // clamped to 1 first
    // The record's tangent is the strand axis.
    in.strand.record.tangent = {0, 0, 2, 0};
    in.ctx.rayDir = {1, 0, 0, 0};
    EXPECT_NEAR(in.shade().axisT.z(), 1.0f, 1e-6f);
}

TEST(ProductionHair, WithoutStrandDataTangentComesFromNormal) {
    Instance in;
    in.strand.hasStrandData = false;
    in.ctx.normal = {0.6f, 0, 0.8f, 0};
    in.ctx.rayDir = {0, 1, 0, 0};
    in.ctx.sampleValue = 0.5f; // h = 0
    Hair4BSDF& s = in.shade();
    // (n × z) × n lies in the plane of n and z, perpendicular to n.
    EXPECT_NEAR(dot(s.axisT, Vec4(0.6f, 0, 0.8f)), 0.0f, 1e-6f);
    EXPECT_NEAR(std::fabs(s.axisT.y()), 0.0f, 1e-6f);
    EXPECT_NEAR(length(s.axisT), 1.0f, 1e-6f);
    EXPECT_EQ(s.lobeWeight[Hair4BSDF::Glint], 0.0f); // no strand patterns without strand data
    float phi0 = s.lobePhi[0];
    // h = 2x - 1 moves the primary peak by 2·asin(-h).
    in.ctx.sampleValue = 0.75f;
    EXPECT_NEAR(hair4::wrapPi(in.shade().lobePhi[0] - phi0), 2.0f * std::asin(-0.5f), 1e-5f);
    // A normal along z gives a zero tangent, kept as it is.
    in.ctx.normal = {0, 0, 1, 0};
    Hair4BSDF& z = in.shade();
    EXPECT_EQ(length(z.axisT), 0.0f);
    quor::Color light{1, 1, 1, 1}, light2{1, 1, 1, 1};
    quor::Color r = z.eval(in.ctx, {0, 0, 1, 0}, light, light2, 1.0f, 3);
    EXPECT_TRUE(std::isfinite(r.r) && std::isfinite(r.g) && std::isfinite(r.b));
}

TEST(ProductionHair, StrandPatternsUseTheUnitScale) {
    // Glint variation along the strand is set in real-world units: the same scene position
    // with another unit scale lands elsewhere in the pattern.
    Instance in;
    in.param("glint_variation").setFloat(1.0f);
    in.strand.index = 5;
    in.strand.length = 1.0f;
    float seps[2];
    int i = 0;
    for (double scale : {1.0, 0.37}) {
        in.scene.hasUnits = true;
        in.scene.scale = scale;
        in.hair->frameBegin(&in.renderer);
        float total = 0;
        for (int k = 0; k < 20; ++k) {
            in.strand.position = 0.013f * k;
            total += in.shade().glintSeparation;
        }
        seps[i++] = total;
    }
    EXPECT_NE(seps[0], seps[1]);
    // glint_scale divides the distance: scale 0.37 with glint_scale 0.37 matches scale 1.
    in.param("glint_scale").setFloat(0.37f);
    float total = 0;
    for (int k = 0; k < 20; ++k) {
        in.strand.position = 0.013f * k;
        total += in.shade().glintSeparation;
    }
    EXPECT_NEAR(total, seps[0], 1e-3f);
}

} // namespace
} // namespace hair
