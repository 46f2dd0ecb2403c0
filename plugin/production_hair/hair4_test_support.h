// Shared by the production hair tests: one shading point driven directly, and the two albedo
// estimators (integrating eval over the sphere, averaging sampleRay's path weights).
#pragma once
#include <cmath>
#include <cstdint>
#include <random>

#include "production_hair/hair4_bsdf.h"
#include "quor/quor.h"

namespace hair::test {

// A hair hit on a strand along +y, viewed from direction D; strand data present.
struct Hair4Point {
    quor::SimpleStrandData strand;
    quor::RenderSettings settings;
    quor::QuorContext ctx;
    Hair4Inputs in;
    Hair4BSDF s;

    Hair4Point() {
        ctx.surfaceData = &strand;
        ctx.settings = &settings;
        strand.record.tangent = {0, 1, 0, 0};
        ctx.rayDir = {0, 0, -1, 0};
        ctx.normal = {0, 0, 1, 0};
    }
    // Copies point their context at their own strand and settings.
    Hair4Point(const Hair4Point& o) : strand(o.strand), settings(o.settings), ctx(o.ctx), in(o.in), s(o.s) {
        ctx.surfaceData = &strand;
        ctx.settings = &settings;
    }
    Hair4Point& operator=(const Hair4Point&) = delete;
    // D tilted by theta degrees from the normal plane of the strand (towards -y).
    void view(float thetaDeg, float aroundDeg = 0.0f) {
        float t = thetaDeg * 0.017453292f, a = aroundDeg * 0.017453292f;
        ctx.rayDir = {-std::cos(t) * std::sin(a), -std::sin(t), -std::cos(t) * std::cos(a), 0};
    }
    // A fibre that loses nothing: no pigment, white dye, no diffuse, white tints.
    void lossless() {
        in.melanin = 0;
        in.pheomelanin = 0;
        in.dyeColor[0] = in.dyeColor[1] = in.dyeColor[2] = 1;
        in.diffuseAmount = 0;
    }
    Hair4BSDF& setup() {
        s.setup(ctx, in, strand.record);
        return s;
    }
};

struct Rgb3 {
    double v[3] = {0, 0, 0};
};

struct AlbedoEstimate {
    Rgb3 mean, stderr_; // the standard error only for the sampled estimate
    int refused = 0;
    double maxWeightError = 0; // largest |w - 1| over the channels of accepted samples
};

// The strand frame as the test sees it: T the record tangent, X = T × D, Y = T × X.
struct TestFrame {
    Vec4 t, x, y;
    TestFrame(const quor::Vector& tangent, const quor::Vector& d) {
        t = normalizeSafe(Vec4(tangent));
        x = normalizeSafe(cross(t, Vec4(d)));
        y = normalizeSafe(cross(t, x));
    }
    Vec4 dir(float sinTheta, float phi) const {
        float c = std::sqrt(std::max(0.0f, 1.0f - sinTheta * sinTheta));
        return sinTheta * t + (c * std::cos(phi)) * x + (c * std::sin(phi)) * y;
    }
};

// (1/π)·∫ eval dω over the sphere by the midpoint rule in θ and φ about the strand,
// dω = cos θ dθ dφ. The lobes are smooth and periodic in φ, so the rule converges fast once the
// grid is finer than the narrowest lobe. The light probability is made huge so that the
// light-sample weight is 1.
inline AlbedoEstimate evalAlbedo(Hair4Point& p, int nTheta, int nPhi) {
    TestFrame frame(p.strand.record.tangent, p.ctx.rayDir);
    double sum[3] = {0, 0, 0};
    const double dTheta = kPi / nTheta, dPhi = kTwoPi / nPhi;
    for (int i = 0; i < nTheta; ++i) {
        float theta = static_cast<float>(-0.5 * kPi + (i + 0.5) * dTheta);
        double w = std::cos(static_cast<double>(theta)) * dTheta * dPhi;
        for (int j = 0; j < nPhi; ++j) {
            float phi = static_cast<float>(-kPi + (j + 0.5) * dPhi);
            quor::Color light{1, 1, 1, 1}, light2{1, 1, 1, 1};
            quor::Color r = p.s.eval(p.ctx, frame.dir(std::sin(theta), phi).host(), light, light2, 1e30f, 3);
            sum[0] += r.r * w, sum[1] += r.g * w, sum[2] += r.b * w;
        }
    }
    AlbedoEstimate a;
    for (int c = 0; c < 3; ++c)
        a.mean.v[c] = sum[c] / kPi;
    return a;
}

// Mean path weight of sampleRay over n samples (a refused sample counts as 0).
inline AlbedoEstimate sampledAlbedo(Hair4Point& p, int n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    quor::QuorContext q;
    quor::RayRecord ray;
    double sum[3] = {0, 0, 0}, sq[3] = {0, 0, 0};
    AlbedoEstimate a;
    for (int i = 0; i < n; ++i) {
        q.ray = &ray;
        q.dmc[1] = uni(rng), q.dmc[2] = uni(rng), q.dmc[3] = uni(rng);
        float u = (static_cast<float>(i) + uni(rng)) / static_cast<float>(n);
        if (p.s.sampleRay(p.ctx, q, u, 0) != 1.0f) {
            ++a.refused;
            continue;
        }
        float w[3] = {q.pathWeight.r, q.pathWeight.g, q.pathWeight.b};
        for (int c = 0; c < 3; ++c) {
            sum[c] += w[c];
            sq[c] += static_cast<double>(w[c]) * w[c];
            a.maxWeightError = std::max(a.maxWeightError, std::fabs(static_cast<double>(w[c]) - 1.0));
        }
    }
    for (int c = 0; c < 3; ++c) {
        a.mean.v[c] = sum[c] / n;
        double var = std::max(sq[c] / n - a.mean.v[c] * a.mean.v[c], 0.0);
        a.stderr_.v[c] = std::sqrt(var / n);
    }
    return a;
}

} // namespace hair::test
