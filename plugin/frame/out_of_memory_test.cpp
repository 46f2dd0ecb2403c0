// Each allocation of a material's whole life (load to destruction, two render threads) is
// refused once in turn: the life completes or the library's exception reaches the caller with
// its text and heap report, and tearing down gives back every byte.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame/allocation.h"
#include "harness/test_support.h"
#include "quor/memory.h"

namespace {

using namespace harness;

// A render bracket that ends the render however the scope is left.
struct Render {
    quor::QuorPluginInterface& plugin;
    quor::QuorRenderer renderer;
    quor::SimpleSceneObject scene;
    explicit Render(quor::QuorPluginInterface& p) : plugin(p) {
        renderer.threadCount = 2;
        renderer.scene = &scene;
        plugin.renderBegin(&renderer);
    }
    ~Render() { plugin.renderEnd(&renderer); }
};

// Thread t holds 25 samplers at once (three blocks of its pool), evaluates one light on each,
// then gives them back. A library exception is kept for the caller.
void shade(Instance& inst, int t, std::string& error) {
    quor::SimpleStrandData strand;
    strand.record.tangent = {0, 1, 0, 0};
    strand.index = t;
    quor::RenderSettings settings;
    quor::QuorContext ctx;
    ctx.threadIndex = t;
    ctx.surfaceData = &strand;
    ctx.settings = &settings;
    ctx.contextFlags = quor::CTX_SKIP_BELOW_SURFACE;
    std::vector<quor::BSDFSampler*> held;
    try {
        for (int i = 0; i < 25; ++i) {
            quor::BSDFSampler* s = inst.bsdf().newBSDF(ctx, 0);
            if (!s) break; // no pool array for this render: nothing to shade with
            held.push_back(s);
            quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
            s->getBRDF(quor::SIDE_FRONT)
                ->eval(ctx, {0.3f, 0.4f, 0.866f, 0}, light, unshadowed, 1, quor::EVAL_ALL);
        }
    } catch (const hair::ExceptionMsg& e) {
        error = e.text();
    }
    for (quor::BSDFSampler* s : held)
        inst.bsdf().deleteBSDF(ctx, s);
}

// One whole life; returns the text of the library exception that stopped it, or "".
std::string life(const std::string& type) {
    try {
        Library lib(getLibDesc());
        Instance inst(lib, type, test::registeredDefaults(type));
        static_cast<quor::Plugin*>(inst.base())->setName("lock of hair");
        Render render(inst.plugin());
        inst.plugin().frameBegin(&render.renderer);
        std::string errors[2];
        std::thread a(shade, std::ref(inst), 0, std::ref(errors[0])),
            b(shade, std::ref(inst), 1, std::ref(errors[1]));
        a.join();
        b.join();
        inst.plugin().frameEnd(&render.renderer);
        return errors[0].empty() ? errors[1] : errors[0];
    } catch (const hair::ExceptionMsg& e) {
        return e.text();
    }
}

class OutOfMemoryConcurrency : public ::testing::TestWithParam<std::string> {};

TEST_P(OutOfMemoryConcurrency, EveryAllocationMayFailAndNothingLeaks) {
    std::mutex m;
    std::string debug;
    quor::setDebugCapture([&](const std::u16string& s) {
        std::lock_guard<std::mutex> lock(m);
        debug.append(s.begin(), s.end()); // ASCII text, one byte a unit
    });
    const long long baseline = quor::vmallocBytesInUse();
    const long before = quor::vmallocCalls();
    ASSERT_EQ(life(GetParam()), "");
    const long sites = quor::vmallocCalls() - before;
    ASSERT_GT(sites, 4);
    ASSERT_EQ(quor::vmallocBytesInUse(), baseline);

    int raised = 0;
    for (long k = 0; k < sites; ++k) {
        debug.clear();
        quor::vmallocFailNext(1, static_cast<int>(k));
        std::string error = life(GetParam());
        quor::vmallocFailNext(0);
        SCOPED_TRACE(testing::Message() << GetParam() << ": allocation " << k << " of " << sites);
        EXPECT_EQ(quor::vmallocBytesInUse(), baseline);
        if (error.empty()) continue; // the aligned pool array: a render without samplers
        ++raised;
        if (error.rfind("Memory allocation failure; ", 0) == 0) {
            EXPECT_NE(debug.find("[operator new] failed (size is "), std::string::npos);
            EXPECT_NE(debug.find("[getFreeHeapMemory] Number of blocks visited: "), std::string::npos);
        } else {
            EXPECT_EQ(error, "[_SequenceBlock] Could not allocate memory");
        }
    }
    quor::setDebugCapture(nullptr);
    EXPECT_GE(raised, sites - 2); // only the pool array's failure is silent
}

INSTANTIATE_TEST_SUITE_P(AllTypes, OutOfMemoryConcurrency, ::testing::ValuesIn(harness::test::types()),
                         [](const auto& info) { return info.param; });

} // namespace
