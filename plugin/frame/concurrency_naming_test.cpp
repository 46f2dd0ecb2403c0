// The thread sanitizer run selects the tests that start threads by their ctest label, which
// the suites named *Concurrency carry: a test that starts threads under another suite name
// would silently leave that run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

TEST(TestSuiteConcurrencyNaming, EveryTestThatStartsThreadsIsInAConcurrencySuite) {
    const std::string thread = std::string("std::") + "thread"; // not this file's own text
    const std::regex test(R"(\bTEST(?:_P|_F)?\((\w+),)");
    const std::sregex_iterator end;
    int threaded = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(HAIR_SOURCE_DIR)) {
        const std::string path = entry.path().string();
        if (!path.ends_with("_test.cpp") || path.find("/build") != std::string::npos) continue;
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        const std::string s = text.str();
        // A test's body runs to the next test (or the end of the file); helpers above a test that
        // start threads count for the test after them.
        std::size_t from = 0;
        for (std::sregex_iterator m(s.begin(), s.end(), test); m != end; ++m) {
            const std::size_t to = std::next(m) == end ? s.size() : std::size_t(std::next(m)->position());
            if (s.substr(from, to - from).find(thread) != std::string::npos) {
                ++threaded;
                EXPECT_TRUE(m->str(1).ends_with("Concurrency"))
                    << path << ": a test of " << m->str(1) << " starts threads";
            }
            from = to;
        }
    }
    EXPECT_GE(threaded, 4);
}

} // namespace
