// The checks every sampler needs: the directional albedo two ways (integrating eval over the
// sphere, averaging sampleRay's path weights), and Pearson's chi-square of sampled directions
// against a density.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "harness/shading_point.h"

namespace harness {

struct FurnaceResult {
    Rgb eval, evalStderr;
    bool sampled = false; // false for a material that does not sample
    Rgb sampledMean, sampledStderr;
    int refused = 0; // sampleRay calls that set up no ray
};

// eval = (1/π)·∫ eval(ω) dω by stratified uniform directions; sampled = the mean path weight of
// sampleRay over well-distributed numbers (a refused sample counts as 0). Light colour 1,
// flags 3, and a light probability so large that the light-sample weight is 1.
FurnaceResult furnace(ShadingPoint& point, int samples, std::uint64_t seed);

struct ChiSquare {
    double statistic = 0;
    int dof = 0;
    double pValue = 1;
};

// Pearson's test of observed counts against expected counts (scaled to the same total); cells
// expected to hold fewer than five are pooled into one.
ChiSquare chiSquare(const std::vector<double>& observed, const std::vector<double>& expected);

// Directions binned in (cos θ, φ) about an axis: nCos × nPhi cells of equal solid angle.
struct SphereBins {
    Vec3 axis, x, y; // axis and two perpendiculars fixing φ = 0 and φ = π/2
    int nCos, nPhi;
    SphereBins(const Vec3& axis, const Vec3& reference, int nCos, int nPhi);
    int cell(const quor::Vector& dir) const;
    int cells() const { return nCos * nPhi; }
    // Expected probability of each cell under a solid-angle density, by sub × sub midpoints.
    std::vector<double> expected(const std::function<double(const quor::Vector&)>& density, int sub) const;
};

// Samples the point's sampler n times with seeded numbers and counts the accepted directions per
// cell; refused samples are counted in *refused when given.
std::vector<double> sampleCounts(ShadingPoint& point, const SphereBins& bins, int n, std::uint64_t seed,
                                 int* refused = nullptr);

} // namespace harness
