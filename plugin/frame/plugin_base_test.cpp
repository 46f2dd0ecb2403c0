#include <gtest/gtest.h>

#include "quor/plugin.h"

namespace {

struct Iface final : quor::PluginInterface {
    int id;
    int released = 0;
    explicit Iface(int i) : id(i) {}
    int getInterfaceId() override { return id; }
    quor::PluginBase* getPlugin() override { return nullptr; }
    const char* getInterfaceName() override { return "test"; }
    void release() override { ++released; }
};

TEST(PluginBase, InterfaceListFindsNewestFirstAndReleasesOwned) {
    Iface a(1), b(2), c(1), d(3);
    {
        quor::PluginBase base;
        EXPECT_EQ(base.getInterface(1), nullptr);
        EXPECT_EQ(base.addInterface(&a, 1), 1);
        EXPECT_EQ(base.addInterface(&b, 0), 1);
        EXPECT_EQ(base.addInterface(&c, 1), 1);
        EXPECT_EQ(base.addInterface(&d, 1), 1);
        EXPECT_EQ(base.getInterface(1), &c); // the newest entry with that identifier
        EXPECT_EQ(base.removeInterface(&c), 1);
        EXPECT_EQ(c.released, 0); // removing does not release
        EXPECT_EQ(base.removeInterface(&c), 0);
        EXPECT_EQ(base.getInterface(1), &a);
    }
    EXPECT_EQ(a.released, 1);
    EXPECT_EQ(b.released, 0); // not owned
    EXPECT_EQ(d.released, 1);
}

} // namespace
