// Parameter lists: bound fields follow later value changes.
#include <gtest/gtest.h>

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

} // namespace
