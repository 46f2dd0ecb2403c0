// The thread sanitizer run selects the tests that start threads by their ctest label, which
// the suites named *Concurrency carry: a test that starts threads under another suite name
// would silently leave that run.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

TEST(TestSuiteConcurrencyNaming, EveryTestThatStartsThreadsIsInAConcurrencySuite) {
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
        // Where each test starts and its suite name: TEST(Suite, ...), TEST_P(Suite, ...).
        std::vector<std::pair<std::size_t, std::string>> tests;
        for (std::size_t at = s.find("TEST"); at != std::string::npos; at = s.find("TEST", at + 4)) {
            std::size_t open = s.find_first_not_of("_PF", at + 4);
            if (open == std::string::npos || s[open] != '(' || open > at + 6) continue;
            if (at > 0 && (std::isalnum(static_cast<unsigned char>(s[at - 1])) || s[at - 1] == '_')) continue;
            const std::size_t comma = s.find(',', open);
            if (comma == std::string::npos) break;
            tests.emplace_back(at, s.substr(open + 1, comma - open - 1));
        }
        std::size_t from = 0;
        for (std::size_t i = 0; i < tests.size(); ++i) {
            const std::size_t to = i + 1 < tests.size() ? tests[i + 1].first : s.size();
            if (s.substr(from, to - from).find(thread) != std::string::npos) {
                ++threaded;
                EXPECT_TRUE(tests[i].second.ends_with("Concurrency"))
                    << path << ": a test of " << tests[i].second << " starts threads";
            }
            from = to;
        }
    }
    EXPECT_GE(threaded, 4);
}

} // namespace
