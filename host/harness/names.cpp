#include "harness/names.h"

#include <algorithm>
#include <cctype>

namespace harness {

namespace {

// Optimal string alignment distance: insertions, deletions, substitutions and transpositions.
std::size_t editDistance(const std::string& a, const std::string& b) {
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::string nearestName(const std::string& name, const std::vector<std::string>& names) {
    const std::string key = lower(name);
    std::string best;
    std::size_t bestDistance = 0;
    for (const std::string& candidate : names) {
        std::size_t d = editDistance(key, lower(candidate));
        if (best.empty() || d < bestDistance) best = candidate, bestDistance = d;
    }
    if (best.empty() || 3 * bestDistance > std::max(name.size(), best.size())) return {};
    return best;
}

std::string didYouMean(const std::string& name, const std::vector<std::string>& names) {
    std::string near = nearestName(name, names);
    return near.empty() ? "" : " (did you mean " + near + "?)";
}

} // namespace harness
