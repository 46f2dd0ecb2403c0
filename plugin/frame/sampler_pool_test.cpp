#include "frame/sampler_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "frame/instance.h"
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
    std::set<CountingSampler*> s0(got[0].begin(), got[0].end()), s1(got[1].begin(), got[1].end());
    EXPECT_EQ(s0.size(), 13u);
    EXPECT_EQ(s1.size(), 13u);
    for (auto* p : s0)
        EXPECT_EQ(s1.count(p), 0u);
    for (auto* p : s0)
        EXPECT_EQ(p->value, 0);
    for (auto* p : s1)
        EXPECT_EQ(p->value, 1);
}

TEST(SamplerPool, RecreateLeavesOneArrayAndInactiveByDefault) {
    SamplerPool<CountingSampler> pool;
    EXPECT_FALSE(pool.active());
    pool.create(4);
    pool.take(3);
    pool.create(2);
    EXPECT_EQ(pool.threadCount(), 2);
    EXPECT_EQ(pool.entry(0).first, nullptr);
    EXPECT_EQ(pool.entry(1).first, nullptr);
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

TEST(SamplerPool, RefusedArrayLeavesPoolEmpty) {
    SamplerPool<CountingSampler> pool;
    quor::vmallocFailNext(1);
    pool.create(2);
    quor::vmallocFailNext(0);
    EXPECT_FALSE(pool.active());
    EXPECT_EQ(pool.threadCount(), 0);
}

// A refused block header raises the generic report; a refused element array raises the
// block's own text. Either way nothing leaks (the sanitizer build checks).
TEST(SamplerPool, RefusedBlockRaises) {
    SamplerPool<CountingSampler> pool;
    pool.create(1);
    quor::setDebugCapture([](const std::u16string&) {});
    quor::vmallocFailNext(1);
    try {
        pool.take(0);
        ADD_FAILURE() << "refused header did not raise";
    } catch (const ExceptionMsg& e) {
        EXPECT_NE(std::string(e.text()).find("Memory allocation failure;"), std::string::npos);
    }
    quor::vmallocFailNext(1, 1);
    try {
        pool.take(0);
        ADD_FAILURE() << "refused element array did not raise";
    } catch (const ExceptionMsg& e) {
        EXPECT_STREQ(e.text(), "[_SequenceBlock] Could not allocate memory");
    }
    quor::setDebugCapture(nullptr);
    EXPECT_NE(pool.take(0), nullptr); // the pool still works afterwards
}

} // namespace
} // namespace hair
