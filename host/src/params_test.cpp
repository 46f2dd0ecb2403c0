// Parameter lists: bound fields follow later value changes.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "quor/context.h"
#include "quor/params.h"
#include "quor/texture.h"

namespace {

struct Fixture {
    quor::QuorParameterListDesc desc;
    Fixture() {
        desc.addParamTexture("color", quor::AColor{0.5f, 0.5f, 0.5f, 1}, -1, nullptr, nullptr);
        desc.addParamTextureFloat("amount", 1.0f, -1, "Amount", "minValue=(0)");
        desc.addParamFloat("power", 2.0f, -1, nullptr, nullptr);
        desc.addParamInt("depth", 10, -1, nullptr, nullptr);
        desc.addParamBool("lock", true, -1, nullptr, nullptr);
    }
};

TEST(HostParameters, BoundFieldsFollowChanges) {
    Fixture f;
    quor::QuorParameterList* list = f.desc.newParameterList();
    quor::TextureInterface* color = reinterpret_cast<quor::TextureInterface*>(1);
    quor::TextureFloatInterface* amount = reinterpret_cast<quor::TextureFloatInterface*>(1);
    float power = 0;
    int depth = 0, lock = 0;
    EXPECT_EQ(list->setParamCache("color", &color), 1);
    EXPECT_EQ(list->setParamCache("amount", &amount), 1);
    EXPECT_EQ(list->setParamCache("power", &power), 1);
    EXPECT_EQ(list->setParamCache("depth", &depth), 1);
    EXPECT_EQ(list->setParamCache("lock", &lock), 1);
    EXPECT_EQ(list->setParamCache("missing", &power), 0);
    EXPECT_EQ(list->setParamCache("depth", &power), 0); // wrong field type
    // Unconnected textures are null; plain values start at their defaults.
    EXPECT_EQ(color, nullptr);
    EXPECT_EQ(amount, nullptr);
    EXPECT_EQ(power, 2.0f);
    EXPECT_EQ(depth, 10);
    EXPECT_EQ(lock, 1);

    quor::QuorContext none;
    list->getParam("color")->setConstantColor({0.1f, 0.2f, 0.3f, 1});
    ASSERT_NE(color, nullptr);
    EXPECT_FLOAT_EQ(color->getColor(none).g, 0.2f);
    list->getParam("amount")->setConstantFloat(0.25f);
    EXPECT_FLOAT_EQ(amount->getFloat(none), 0.25f);
    list->getParam("power")->setFloat(5.0f);
    EXPECT_EQ(power, 5.0f);
    list->getParam("color")->clearTexture();
    EXPECT_EQ(color, nullptr);
    EXPECT_EQ(list->getParam("nope"), nullptr);

    // setParameter copies a value of the same name from another list.
    quor::QuorParameterList* other = f.desc.newParameterList();
    other->getParam("depth")->setInt(3);
    EXPECT_EQ(list->setParameter(*other->getParam("depth")), 1);
    EXPECT_EQ(depth, 3);
    f.desc.deleteParameterList(other);
    f.desc.deleteParameterList(list);
}

TEST(HostParameters, GpuTextsOfTextures) {
    std::string s;
    quor::ConstantColorTexture(quor::AColor{1, 0.5f, 0.25f, 1}).describeGPU(s);
    quor::ConstantFloatTexture(0.3f).describeGPU(s);
    EXPECT_EQ(s, "color 1 0.5 0.25 1\nfloat 0.3\n");
    quor::AColor lo{0, 0, 0, 0}, hi{1, 1, 1, 1};
    quor::ConstantColorTexture(quor::AColor{0, 0, 0, 1}).getColorRange(lo, hi, 1.0f);
    EXPECT_EQ(hi.r + hi.g + hi.b, 0.0f);
}

// The ramp follows the strand in every lane, clamped to its ends, and sits at its middle where
// the host offers no strand; the strand colour texture reads the record, black without one.
TEST(HostTextures, RampAndStrandColourReadTheStrand) {
    using V = std::vector<float>;
    auto expect = [](const quor::AColor& c, const V& want) {
        const float got[4] = {c.r, c.g, c.b, c.a};
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(got[i], want[i], 1e-6f) << "lane " << i;
    };
    const quor::RootTipRampTexture ramp({0.2f, 0.4f, 0.8f, 1}, {1, 0, 0.4f, 0.5f});
    const quor::StrandColorTexture& own = quor::StrandColorTexture::shared();
    quor::SimpleStrandData strand;
    strand.record.color[0] = 0.3f, strand.record.color[1] = 0.6f, strand.record.color[2] = 0.9f;
    quor::QuorContext ctx;
    expect(ramp.getColor(ctx), {0.6f, 0.2f, 0.6f, 0.75f});
    expect(own.getColor(ctx), {0, 0, 0, 1});
    ctx.surfaceData = &strand;
    expect(own.getColor(ctx), {0.3f, 0.6f, 0.9f, 1});
    for (auto [at, want] : {std::pair{0.25f, V{0.4f, 0.3f, 0.7f, 0.875f}},
                            {-1.0f, V{0.2f, 0.4f, 0.8f, 1}},
                            {2.0f, V{1, 0, 0.4f, 0.5f}}}) {
        SCOPED_TRACE(at);
        strand.position = at;
        expect(ramp.getColor(ctx), want);
    }
    quor::AColor lo, hi;
    ramp.getColorRange(lo, hi, 1.0f);
    expect(lo, {0.2f, 0, 0.4f, 0.5f});
    expect(hi, {1, 0.4f, 0.8f, 1});
}

} // namespace
