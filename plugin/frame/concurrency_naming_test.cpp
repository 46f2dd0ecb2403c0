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
    const std::regex test(R"(\bTEST(_P|_F)?\((\w+),\s*(\w+)\))");
    const std::string thread = std::string("std::") + "thread"; // not this file's own text
    int threaded = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(HAIR_SOURCE_DIR)) {
        const std::string path = entry.path().string();
        if (!entry.is_regular_file() || !path.ends_with("_test.cpp") ||
            path.find("/build") != std::string::npos)
            continue;
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        // Each test's body runs to the next test (or the end of the file); helpers above a test
        // that start threads count for the test after them.
        std::vector<std::smatch> tests;
        for (std::sregex_iterator it(s.begin(), s.end(), test), end; it != end; ++it)
            tests.push_back(*it);
        std::size_t from = 0;
        for (std::size_t i = 0; i < tests.size(); ++i) {
            const std::size_t to = i + 1 < tests.size() ? tests[i + 1].position(0) : s.size();
            if (s.substr(from, to - from).find(thread) != std::string::npos) {
                ++threaded;
                EXPECT_TRUE(tests[i][2].str().ends_with("Concurrency"))
                    << path << ": " << tests[i][2] << "." << tests[i][3] << " starts threads";
            }
            from = to;
        }
    }
    EXPECT_GE(threaded, 4);
}

} // namespace
