#include "frame/sampler_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "frame/instance.h"
#include "harness/test_support.h"
#include "quor/memory.h"

namespace hair {
namespace {

struct CountingSampler {
    static std::atomic<int> constructed, destroyed; // threads construct samplers at once
    CountingSampler() { ++constructed; }
    virtual ~CountingSampler() { ++destroyed; }
    int value = 0;
};
std::atomic<int> CountingSampler::constructed = 0;
std::atomic<int> CountingSampler::destroyed = 0;

TEST(SamplerPool, BlocksOfTenLinkedInOrder) {
    SamplerPool<CountingSampler> pool;
    pool.create(1);
    CountingSampler::constructed = CountingSampler::destroyed = 0;
    std::vector<CountingSampler*> taken;
    for (int i = 0; i < 10; ++i)
        taken.push_back(pool.take(0));
    const auto& e = pool.entry(0);
    ASSERT_NE(e.first, nullptr);
    EXPECT_EQ(e.first->next, nullptr);
    EXPECT_EQ(e.first->used, 10);
    EXPECT_EQ(CountingSampler::constructed, 10); // constructed once per block, not per take

    taken.push_back(pool.take(0));
    ASSERT_NE(e.first->next, nullptr);
    EXPECT_EQ(e.first->next->prev, e.first);
    EXPECT_EQ(e.current, e.first->next);
    EXPECT_EQ(e.first->next->used, 1);
    EXPECT_EQ(CountingSampler::constructed, 20);
    std::set<CountingSampler*> distinct(taken.begin(), taken.end());
    EXPECT_EQ(distinct.size(), 11u);

    // Given back, the same element comes out again; nothing new is built.
    pool.give(0, taken[3]);
    EXPECT_EQ(pool.take(0), taken[3]);
    EXPECT_EQ(CountingSampler::constructed, 20);

    pool.destroy();
    EXPECT_EQ(CountingSampler::destroyed, 20); // handed-out elements are destroyed too
    EXPECT_FALSE(pool.active());
}

TEST(SamplerPoolConcurrency, ThreadsNeverShareEntries) {
    SamplerPool<CountingSampler> pool;
    pool.create(2);
    std::vector<CountingSampler*> got[2];
    auto work = [&](int t) {
        for (int round = 0; round < 200; ++round) {
            std::vector<CountingSampler*> held;
            for (int i = 0; i < 13; ++i)
                held.push_back(pool.take(t));
            for (auto* s : held)
                s->value = t;
            for (auto* s : held) {
                got[t].push_back(s);
                pool.give(t, s);
            }
        }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    const std::set<CountingSampler*> seen[2] = {{got[0].begin(), got[0].end()},
                                                {got[1].begin(), got[1].end()}};
    for (int t : {0, 1}) {
        EXPECT_EQ(seen[t].size(), 13u) << t;
        for (auto* p : seen[t])
            EXPECT_EQ(p->value, t); // held by no other thread in between
    }
    for (auto* p : seen[0])
        EXPECT_EQ(seen[1].count(p), 0u);
}

TEST(SamplerPool, RecreateLeavesOneArrayAndARefusedOneNone) {
    SamplerPool<CountingSampler> pool, refused;
    EXPECT_FALSE(pool.active());
    pool.create(4);
    pool.take(3);
    pool.create(2);
    EXPECT_EQ(pool.threadCount(), 2);
    EXPECT_EQ(pool.entry(0).first, nullptr);
    EXPECT_EQ(pool.entry(1).first, nullptr);
    quor::vmallocFailNext(1);
    refused.create(2);
    quor::vmallocFailNext(0);
    EXPECT_FALSE(refused.active());
    EXPECT_EQ(refused.threadCount(), 0);
}

TEST(SamplerPool, SteadyStateAllocatesNothing) {
    SamplerPool<CountingSampler> pool;
    pool.create(1);
    for (int i = 0; i < 5; ++i)
        pool.give(0, pool.take(0));
    long before = quor::vmallocCalls();
    for (int i = 0; i < 1000; ++i) {
        CountingSampler* a = pool.take(0);
        CountingSampler* b = pool.take(0);
        pool.give(0, a);
        pool.give(0, b);
    }
    EXPECT_EQ(quor::vmallocCalls(), before);
}

// A refused block header raises the generic report, a refused element array the block's own
// text; nothing leaks either way (the sanitizer build checks).
TEST(SamplerPool, RefusedBlockRaises) {
    SamplerPool<CountingSampler> pool;
    pool.create(1);
    quor::setDebugCapture([](const std::u16string&) {});
    auto raised = [&](const char* what) -> std::string {
        try {
            pool.take(0);
        } catch (const ExceptionMsg& e) {
            return e.text();
        }
        ADD_FAILURE() << what << " did not raise";
        return "";
    };
    quor::vmallocFailNext(1);
    EXPECT_NE(raised("refused header").find("Memory allocation failure;"), std::string::npos);
    quor::vmallocFailNext(1, 1);
    EXPECT_EQ(raised("refused element array"), "[_SequenceBlock] Could not allocate memory");
    quor::setDebugCapture(nullptr);
    EXPECT_NE(pool.take(0), nullptr); // the pool still works afterwards
}

// A pool refuses, at the cost of a comparison, every hand-back it cannot take safely.
TEST(SamplerPool, RefusesIndicesAndSamplersNotItsOwn) {
    SamplerPool<CountingSampler> pool, other;
    EXPECT_EQ(pool.take(0), nullptr); // before create
    pool.create(2);
    other.create(2);
    for (int bad : {-1, 2, 1 << 30})
        EXPECT_EQ(pool.take(bad), nullptr) << bad;
    CountingSampler* mine = pool.take(0);
    CountingSampler* foreign = other.take(0);
    for (int bad : {-1, 2, 1}) // 1: another thread's entry
        EXPECT_FALSE(pool.give(bad, mine)) << bad;
    EXPECT_FALSE(pool.give(0, foreign)); // another pool's sampler
    EXPECT_EQ(pool.entry(0).freeList, nullptr);
    EXPECT_EQ(pool.entry(1).freeList, nullptr);
    EXPECT_NE(pool.take(0), mine); // still handed out: never given twice
    EXPECT_TRUE(pool.give(0, mine));
    EXPECT_EQ(pool.take(0), mine);
}

// The same mistakes through each material type's interfaces: nothing crashes or lands on a
// foreign free list, and correct use goes on as before.
class HostMistakes : public ::testing::TestWithParam<std::string> {
  protected:
    harness::Instance inst{harness::test::library(), GetParam(),
                           harness::test::registeredDefaults(GetParam())};
    quor::SimpleStrandData strand;
    quor::RenderSettings settings;
    quor::QuorRenderer renderer;
    quor::SimpleSceneObject scene;
    quor::QuorContext ctx;
    void SetUp() override {
        strand.record.tangent = {0, 1, 0, 0};
        ctx.surfaceData = &strand;
        ctx.settings = &settings;
        ctx.contextFlags = quor::CTX_SKIP_BELOW_SURFACE;
        renderer.threadCount = 2;
        renderer.scene = &scene;
    }
    quor::BSDFSampler* take(int thread) {
        ctx.threadIndex = thread;
        return inst.bsdf().newBSDF(ctx, 0);
    }
    void giveBack(int thread, quor::BSDFSampler* s) {
        ctx.threadIndex = thread;
        inst.bsdf().deleteBSDF(ctx, s);
    }
};

TEST_P(HostMistakes, FrameAndRenderEndBeforeRenderBegin) {
    inst.plugin().renderEnd(&renderer);
    inst.plugin().frameBegin(&renderer);
    inst.plugin().frameBegin(nullptr);
    EXPECT_EQ(take(0), nullptr);
    inst.plugin().renderBegin(&renderer);
    inst.plugin().frameBegin(&renderer);
    quor::BSDFSampler* s = take(0);
    ASSERT_NE(s, nullptr);
    giveBack(0, s);
    inst.plugin().renderEnd(&renderer);
    inst.plugin().renderEnd(&renderer); // twice: the second finds nothing to destroy
    EXPECT_EQ(take(0), nullptr);
}

TEST_P(HostMistakes, ThreadIndexOutsideThePool) {
    inst.plugin().renderBegin(&renderer);
    for (int bad : {-1, 2, 1 << 30})
        EXPECT_EQ(take(bad), nullptr) << bad;
    quor::BSDFSampler* s = take(0);
    ASSERT_NE(s, nullptr);
    for (int bad : {-1, 2, 1 << 30})
        giveBack(bad, s);
    EXPECT_NE(take(0), s); // not given back: the next take is another element
    giveBack(0, s);
    EXPECT_EQ(take(0), s);
    inst.plugin().renderEnd(&renderer);
}

TEST_P(HostMistakes, SamplerGivenBackWhereItDidNotComeFrom) {
    harness::Instance same{harness::test::library(), GetParam()};
    harness::Instance otherType{harness::test::library(),
                                GetParam() == "BRDFHair4" ? "BRDFHair" : "BRDFHair4"};
    for (auto* p : {&inst.plugin(), &same.plugin(), &otherType.plugin()})
        p->renderBegin(&renderer);
    quor::BSDFSampler* s = take(0);
    ctx.threadIndex = 0;
    quor::BSDFSampler* sameType = same.bsdf().newBSDF(ctx, 0);
    quor::BSDFSampler* otherKind = otherType.bsdf().newBSDF(ctx, 0);
    ASSERT_TRUE(s && sameType && otherKind);
    giveBack(1, s);         // another thread's entry
    giveBack(0, sameType);  // another instance of the same type
    giveBack(0, otherKind); // another type's sampler
    for (int t : {0, 1}) {
        quor::BSDFSampler* next = take(t);
        EXPECT_TRUE(next != s && next != sameType && next != otherKind) << t;
    }
    // Each instance destroys its own samplers once (the sanitizer build checks).
    for (auto* p : {&inst.plugin(), &same.plugin(), &otherType.plugin()})
        p->renderEnd(&renderer);
}

INSTANTIATE_TEST_SUITE_P(Types, HostMistakes, ::testing::ValuesIn(harness::test::types()));

} // namespace
} // namespace hair
