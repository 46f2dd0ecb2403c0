#include "artist_hair/hair_lobes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace hair {
namespace {

const Vec4 kAxis(0.0f, 0.0f, 1.0f);

// Tables as an instance builds them, shared by the tests (building is the slow part).
struct Tables {
    LobeTable primary, transmission, diffuse;
    Tables() {
        primary.build(LobeTable::Kind::Primary, 50, 50, 1);
        transmission.build(LobeTable::Kind::Transmission, 50, 50, 50);
        diffuse.build(LobeTable::Kind::Diffuse, 1, 1, 1);
    }
};
Tables& tables() {
    static Tables t;
    return t;
}

Vec4 unit(float x, float y, float z) {
    float n = std::sqrt(x * x + y * y + z * z);
    return Vec4(x / n, y / n, z / n);
}

// ∫ shape dω over the sphere by a midpoint rule in (z, φ), in double.
template <class F> double sphereIntegral(F shapeOf, int nz, int nphi) {
    double sum = 0;
    for (int i = 0; i < nz; ++i) {
        double z = -1.0 + 2.0 * (i + 0.5) / nz;
        double r = std::sqrt(1.0 - z * z);
        for (int j = 0; j < nphi; ++j) {
            double phi = 2.0 * M_PI * (j + 0.5) / nphi;
            sum += shapeOf(Vec4(float(r * std::cos(phi)), float(r * std::sin(phi)), float(z)));
        }
    }
    return sum * (2.0 / nz) * (2.0 * M_PI / nphi);
}

// ∫ shape dω / 2π for the view at sin θo = s, the value a table cell holds.
template <class F> double cellReference(F shapeOf, float s) {
    Vec4 o(-std::sqrt(1.0f - s * s), 0.0f, s);
    return sphereIntegral([&](Vec4 l) { return shapeOf(angleSet(l, o, kAxis)); }, 400, 400) / (2.0 * M_PI);
}

TEST(ArtistHairLobes, GaussianValuesAndCutoff) {
    EXPECT_FLOAT_EQ(gaussian(1.0f, 0.0f), 0.3989423f);
    EXPECT_NEAR(gaussian(0.5f, 1.0f), std::exp(-2.0) * 0.3989423 / 0.5, 1e-7);
    EXPECT_FLOAT_EQ(gaussian(0.3f, -0.2f), gaussian(0.3f, 0.2f));
    EXPECT_EQ(gaussian(9e-7f, 0.0f), 0.0f);
    EXPECT_GT(gaussian(1e-6f, 0.0f), 0.0f);
}

TEST(ArtistHairLobes, AngleSetOfKnownPairs) {
    const float a = 0.3f, b = -0.5f;
    // Light and the reversed view in one plane with the strand: φ = 0.
    Vec4 L(std::cos(a), 0.0f, std::sin(a));
    Vec4 V(-std::cos(b), 0.0f, -std::sin(b));
    AngleSet s = angleSet(L, V, kAxis);
    ASSERT_FALSE(s.degenerate);
    EXPECT_NEAR(s.phi, 0.0f, 1e-3f);
    const float got[] = {s.thetaI, s.thetaO, s.thetaH, s.thetaD, s.cosHalfPhi, s.cosThetaD2};
    const float want[] = {
        a, b, 0.5f * (a + b), 0.5f * (b - a), 1.0f, std::pow(std::cos(0.5f * (b - a)), 2.0f)};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-6f) << i;
    // The light turned a quarter round the strand.
    AngleSet q = angleSet(Vec4(0.0f, std::cos(a), std::sin(a)), V, kAxis);
    EXPECT_NEAR(q.phi, 0.5f * 3.1415927f, 1e-6f);
    EXPECT_NEAR(q.cosHalfPhi, std::sqrt(0.5f), 1e-6f);
    // Turned further, past the quarter: cos(φ/2) keeps falling towards 0 at φ = π.
    AngleSet w = angleSet(Vec4(-0.8f * std::cos(a), 0.6f * std::cos(a), std::sin(a)), V, kAxis);
    EXPECT_NEAR(w.cosHalfPhi, std::cos(0.5f * w.phi), 1e-5f);
    EXPECT_GT(w.phi, 2.0f);
    // Within 1e-6 of the axis the pair is degenerate and every shape is 0.
    AngleSet d = angleSet(unit(0.0f, 1e-4f, 1.0f), V, kAxis);
    EXPECT_TRUE(d.degenerate);
    EXPECT_EQ(shapePrimary(0.3f, d), 0.0f);
    EXPECT_EQ(shapeTransmission(0.3f, 0.3f, d), 0.0f);
    LobeValues lobes = evalThreeLobes(unit(0.0f, 1e-4f, 1.0f), V, kAxis, Float4(0.2f, 0.3f, 0.4f, 0.5f),
                                      tables().primary, tables().transmission);
    for (float lobe : {lobes.r, lobes.trt, lobes.tt})
        EXPECT_EQ(lobe, 0.0f);
}

TEST(ArtistHairLobes, FourLanePassAgreesWithScalarShapes) {
    Tables& t = tables();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> U(-1.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 2);
    // A few views and widths, so that the comparison reuses a small set of cells.
    const Vec4 views[4] = {unit(0.3f, 0.2f, -0.9f), unit(-0.8f, 0.1f, 0.5f), unit(0.0f, 1.0f, 0.1f),
                           unit(0.5f, -0.5f, -0.2f)};
    const Vec4 tangents[2] = {unit(0.0f, 0.0f, 1.0f), unit(0.6f, 0.0f, 0.8f)};
    const float widths[3] = {0.15f, 0.4f, 0.8f};
    int compared = 0;
    for (int i = 0; i < 400; ++i) {
        Vec4 L = unit(U(rng), U(rng), U(rng)), V = views[i % 4], T = tangents[(i / 4) % 2];
        Float4 w(widths[pick(rng)], widths[pick(rng)], widths[pick(rng)], widths[pick(rng)]);
        LobeValues lanes = evalThreeLobes(L, V, T, w, t.primary, t.transmission);
        AngleSet a = angleSet(L, V, T);
        float absVT = std::fabs(dot(V, T));
        float r = shapePrimary(w[0], a) / t.primary.normalisation(w[0], absVT);
        float trt = shapePrimary(w[1], a) / t.primary.normalisation(w[1], absVT);
        float tt = shapeTransmission(w[2], w[3], a) / t.transmission.normalisation(w[2], w[3], absVT);
        EXPECT_NEAR(lanes.r, r, 1e-5f + 2e-5f * r);
        EXPECT_NEAR(lanes.trt, trt, 1e-5f + 2e-5f * trt);
        EXPECT_NEAR(lanes.tt, tt, 1e-5f + 2e-5f * tt);
        compared += r > 0.01f;
    }
    EXPECT_GT(compared, 100); // the comparison saw real lobe values, not just zeros
}

TEST(ArtistHairLobes, DiffuseRowIsSymmetricAndSampledAtItsCentre) {
    const LobeTable& d = tables().diffuse;
    ASSERT_EQ(d.cdfSamples(), 50);
    const float* row = d.cdfRow(0, 0);
    EXPECT_EQ(row[0], 0.0f);
    EXPECT_EQ(row[49], 1.0f);
    EXPECT_LT(row[24], 0.5f);
    EXPECT_GT(row[25], 0.5f);
    for (int k = 0; k < 50; ++k)
        EXPECT_NEAR(row[k] + row[49 - k], 1.0f, 2e-6f) << k;
    EXPECT_NEAR(d.sampleRow(0.5f, 0.0f, 0.0f).z, 0.0f, 1e-6f);
    for (auto [u, z] : {std::pair{0.0f, -1.0f}, std::pair{1.0f, 1.0f}, std::pair{-3.0f, -1.0f}})
        EXPECT_EQ(d.sampleRow(u, 0.0f, 0.0f).z, z) << u;
    // The slope follows (2/π)·√(1 - x²) over t = (x + 1)/2, i.e. (4/π)·√(1 - x²).
    for (float x : {-0.8f, -0.3f, 0.1f, 0.6f})
        EXPECT_NEAR(d.rowSlope(0.0f, 0.0f, x), 4.0f / 3.1415927f * std::sqrt(1.0f - x * x), 0.03f) << x;
}

TEST(ArtistHairLobes, SampleRowInvertsTheSlopeDistribution) {
    Tables& t = tables();
    struct Case {
        const LobeTable* table;
        float sigma, v;
    };
    for (Case c : {Case{&t.primary, 0.2f, 0.3f}, Case{&t.primary, 0.6f, -0.7f},
                   Case{&t.transmission, 0.35f, 0.1f}, Case{&t.diffuse, 0.0f, 0.0f}}) {
        // The slope is a density over t: it integrates to 1.
        double total = 0;
        const int steps = 49 * 40;
        for (int i = 0; i < steps; ++i)
            total += c.table->rowSlope(c.sigma, c.v, 2.0f * (i + 0.5f) / steps - 1.0f);
        EXPECT_NEAR(total / steps, 1.0, 1e-4);
        for (int k = 1; k < 40; ++k) {
            float u = float(k) / 40.0f;
            LobeTable::RowSample s = c.table->sampleRow(u, c.sigma, c.v);
            float tz = 0.5f * s.z + 0.5f;
            // CDF at the sample, integrated from the slopes alone.
            double cdf = 0;
            const int sub = 4000;
            for (int i = 0; i < sub; ++i) {
                float tt = tz * (i + 0.5f) / sub;
                cdf += c.table->rowSlope(c.sigma, c.v, 2.0f * tt - 1.0f) * (tz / sub);
            }
            EXPECT_NEAR(cdf, u, 2e-3) << c.sigma << " " << u;
            EXPECT_NEAR(s.density, c.table->rowSlope(c.sigma, c.v, s.z), 1e-4f + 1e-4f * s.density);
            EXPECT_GT(s.density, 0.0f);
        }
    }
}

TEST(ArtistHairLobes, RowChoiceAvoidsTheAxisRows) {
    const LobeTable& p = tables().primary;
    const int a = 20; // √σ·49 = 20
    const float sigma = std::pow(20.5f / 49.0f, 2.0f);
    auto slopeOf = [&](const float* row, float x) {
        int j = int((0.5f * x + 0.5f) * 49.0f);
        return 49.0f * (row[std::min(j + 1, 49)] - row[j]);
    };
    // The axis rows are empty: a view along the strand sees no lobe.
    EXPECT_EQ(p.cdfRow(a, 0)[49], 0.0f);
    EXPECT_EQ(p.cdfRow(a, 49)[49], 0.0f);
    for (float x : {-0.9f, -0.5f, 0.2f, 0.7f}) {
        // v near -1 (b = 0) uses row 1 alone; v giving b = 48 (b + 1 = 49) uses row 48 alone.
        EXPECT_FLOAT_EQ(p.rowSlope(sigma, -0.999f, x), slopeOf(p.cdfRow(a, 1), x));
        float v48 = 2.0f * 48.3f / 49.0f - 1.0f;
        EXPECT_FLOAT_EQ(p.rowSlope(sigma, v48, x), slopeOf(p.cdfRow(a, 48), x));
        // Between, the two neighbouring rows blend by the fraction.
        float v = 2.0f * 10.25f / 49.0f - 1.0f;
        float f = (0.5f + 0.5f * v) * 49.0f - 10.0f;
        float blend = (1 - f) * slopeOf(p.cdfRow(a, 10), x) + f * slopeOf(p.cdfRow(a, 11), x);
        EXPECT_NEAR(p.rowSlope(sigma, v, x), blend, 1e-4f + 1e-5f * blend);
    }
}

TEST(ArtistHairLobes, LazyCellsFillOnceAndMatchTheSphereIntegral) {
    LobeTable table;
    table.build(LobeTable::Kind::Primary, 50, 50, 1);
    EXPECT_EQ(table.cell(1, 20, 0).load(), 0.0f);
    // σ = 0.001 lands in cell a = floor(√0.001·49) = 1, whose own width is (1/49)².
    float n = table.normalisation(0.001f, 0.41f);
    EXPECT_EQ(table.cell(1, 20, 0).load(), n);
    EXPECT_EQ(table.cell(2, 20, 0).load(), 0.0f);
    EXPECT_EQ(table.cell(0, 20, 0).load(), 0.0f);
    EXPECT_EQ(n, table.computeCell(1, 20, 0));
    // A zero width has an empty integral: 1e-12 is stored and the cell is never recomputed.
    EXPECT_EQ(table.normalisation(0.0f, 0.5f), 1e-12f);
    EXPECT_EQ(table.cell(0, 24, 0).load(), 1e-12f);

    // The cell value is ∫ shape dω / 2π for the cell's own width and view.
    for (int a : {15, 30, 45})
        for (int b : {5, 30}) {
            float sigma = float(a * a) / (49.0f * 49.0f), s = float(b) / 49.0f;
            double ref = cellReference([&](const AngleSet& g) { return shapePrimary(sigma, g); }, s);
            EXPECT_NEAR(table.normalisation(sigma + 1e-4f, s + 1e-4f), ref, 0.02 * ref) << a << " " << b;
        }
    LobeTable tt;
    tt.build(LobeTable::Kind::Transmission, 50, 50, 50);
    const float sL = std::pow(30.0f / 49.0f, 2.0f), sW = std::pow(35.0f / 49.0f, 2.0f), s = 20.0f / 49.0f;
    double ref = cellReference([&](const AngleSet& g) { return shapeTransmission(sL, sW, g); }, s);
    EXPECT_NEAR(tt.normalisation(sL + 1e-4f, sW + 1e-4f, s + 1e-4f), ref, 0.02 * ref);
    EXPECT_NE(tt.cell(30, 20, 35).load(), 0.0f);
}

TEST(ArtistHairLobesConcurrency, RacingThreadsStoreIdenticalCells) {
    LobeTable table;
    table.build(LobeTable::Kind::Transmission, 50, 50, 50);
    struct Query {
        float sL, sW, vt;
    };
    std::vector<Query> queries;
    for (int i = 0; i < 8; ++i)
        queries.push_back({0.1f + 0.1f * i, 0.9f - 0.1f * i, 0.05f + 0.12f * i});
    std::vector<std::vector<float>> seen(4, std::vector<float>(queries.size()));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t q = 0; q < queries.size(); ++q)
                seen[t][q] = table.normalisation(queries[q].sL, queries[q].sW, queries[q].vt);
        });
    for (auto& th : threads)
        th.join();
    LobeTable fresh;
    fresh.build(LobeTable::Kind::Transmission, 50, 50, 50);
    for (std::size_t q = 0; q < queries.size(); ++q) {
        float expect = fresh.normalisation(queries[q].sL, queries[q].sW, queries[q].vt);
        EXPECT_GT(expect, 1e-6f);
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(std::memcmp(&seen[t][q], &expect, sizeof expect), 0) << t << " " << q;
        float stored = table.normalisation(queries[q].sL, queries[q].sW, queries[q].vt);
        EXPECT_EQ(std::memcmp(&stored, &expect, sizeof expect), 0);
    }
}

} // namespace
} // namespace hair
