#include "harness/estimators.h"

#include <algorithm>
#include <cmath>

#include "harness/rng.h"

namespace harness {

namespace {

double radicalInverse(int base, std::uint64_t i) {
    double inv = 1.0 / base, f = inv, r = 0;
    while (i) {
        r += f * static_cast<double>(i % base);
        i /= base;
        f *= inv;
    }
    return r;
}

struct Accumulator {
    double sum[3] = {0, 0, 0}, sumSq[3] = {0, 0, 0};
    long n = 0;
    void add(double r, double g, double b) {
        double v[3] = {r, g, b};
        for (int i = 0; i < 3; ++i) {
            sum[i] += v[i];
            sumSq[i] += v[i] * v[i];
        }
        ++n;
    }
    void result(Rgb& mean, Rgb& err) const {
        double m[3], e[3];
        for (int i = 0; i < 3; ++i) {
            m[i] = sum[i] / n;
            double var = n > 1 ? std::max(0.0, (sumSq[i] - n * m[i] * m[i]) / (n - 1)) : 0.0;
            e[i] = std::sqrt(var / n);
        }
        mean = {float(m[0]), float(m[1]), float(m[2])};
        err = {float(e[0]), float(e[1]), float(e[2])};
    }
};

double wrap01(double x) { return x - std::floor(x); }

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec3& a, const quor::Vector& b) {
    return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
}

} // namespace

FurnaceResult furnace(ShadingPoint& point, int samples, std::uint64_t seed) {
    FurnaceResult out;
    samples = std::max(samples, 4);
    quor::QuorContext& ctx = point.context();
    ctx.lightMIS = 0;
    // So large that a weight pL²/(pB² + pL²) is 1 in single precision, yet pL² stays finite.
    const float lightProb = 1e18f;
    Rng rng = Rng::fromState(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull);

    // (1/π)·∫ eval dω over the sphere, stratified in (cos θ, φ) on the world axes.
    quor::BRDFSampler* brdf = point.shade();
    if (!brdf) return out;
    int nz = std::max(1, static_cast<int>(std::sqrt(samples / 2.0)));
    int nphi = std::max(1, samples / nz);
    Accumulator evalAcc;
    for (int iz = 0; iz < nz; ++iz) {
        for (int ip = 0; ip < nphi; ++ip) {
            double z = -1.0 + 2.0 * (iz + rng.uniformDouble()) / nz;
            double phi = 2.0 * M_PI * (ip + rng.uniformDouble()) / nphi;
            double r = std::sqrt(std::max(0.0, 1.0 - z * z));
            quor::Vector L{float(r * std::cos(phi)), float(r * std::sin(phi)), float(z), 0};
            quor::Color f = point.eval(L, lightProb, quor::EVAL_DIFFUSE | quor::EVAL_SPECULAR);
            evalAcc.add(4.0 * f.r, 4.0 * f.g, 4.0 * f.b); // 4π / π
        }
    }
    evalAcc.result(out.eval, out.evalStderr);

    // Mean path weight of sampleRay over a shifted Halton sequence; a refused sample counts 0.
    double shift[4] = {rng.uniformDouble(), rng.uniformDouble(), rng.uniformDouble(), rng.uniformDouble()};
    Accumulator sampleAcc;
    for (int i = 0; i < samples; ++i) {
        std::uint64_t k = static_cast<std::uint64_t>(i) + 1;
        float u = float(wrap01(radicalInverse(2, k) + shift[0]));
        float a = float(wrap01(radicalInverse(3, k) + shift[1]));
        float b = float(wrap01(radicalInverse(5, k) + shift[2]));
        float c = float(wrap01(radicalInverse(7, k) + shift[3]));
        if (point.sample(u, a, b, c) > 0) {
            out.sampled = true;
            const quor::Color& w = point.rayContext().pathWeight;
            sampleAcc.add(w.r, w.g, w.b);
        } else {
            ++out.refused;
            sampleAcc.add(0, 0, 0);
        }
    }
    if (out.sampled) sampleAcc.result(out.sampledMean, out.sampledStderr);
    return out;
}

ChiSquare chiSquare(const std::vector<double>& observed, const std::vector<double>& expected) {
    double totalObs = 0, totalExp = 0;
    for (double o : observed)
        totalObs += o;
    for (double e : expected)
        totalExp += e;
    ChiSquare r;
    if (!(totalObs > 0 && totalExp > 0)) return r;
    double poolE = 0, poolO = 0;
    int cells = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        double e = expected[k] / totalExp * totalObs, o = observed[k];
        if (e < 5.0) {
            poolE += e, poolO += o;
            continue;
        }
        r.statistic += (o - e) * (o - e) / e;
        ++cells;
    }
    if (poolE > 0 || poolO > 0) {
        r.statistic += (poolO - poolE) * (poolO - poolE) / std::max(poolE, 5.0);
        ++cells;
    }
    r.dof = std::max(1, cells - 1);
    // Upper tail by the Wilson–Hilferty normal approximation (ample for tens of degrees of freedom).
    double h = 2.0 / (9.0 * r.dof);
    double z = (std::cbrt(r.statistic / r.dof) - (1.0 - h)) / std::sqrt(h);
    r.pValue = 0.5 * std::erfc(z / std::sqrt(2.0));
    return r;
}

SphereBins::SphereBins(const Vec3& axisIn, const Vec3& reference, int nCosIn, int nPhiIn)
    : axis(normalized(axisIn)), nCos(nCosIn), nPhi(nPhiIn) {
    x = normalized(cross(axis, reference));
    y = cross(axis, x);
}

int SphereBins::cell(const quor::Vector& dir) const {
    double z = std::clamp(dot(axis, dir), -1.0, 1.0);
    double phi = std::atan2(dot(y, dir), dot(x, dir));
    int i = std::min(static_cast<int>((z + 1.0) * 0.5 * nCos), nCos - 1);
    int j = std::min(static_cast<int>((phi + M_PI) / (2 * M_PI) * nPhi), nPhi - 1);
    return i * nPhi + j;
}

std::vector<double> SphereBins::expected(const std::function<double(const quor::Vector&)>& density,
                                         int sub) const {
    std::vector<double> out(cells(), 0.0);
    const double cellArea = (2.0 / nCos) * (2 * M_PI / nPhi);
    for (int i = 0; i < nCos; ++i)
        for (int j = 0; j < nPhi; ++j) {
            double sum = 0;
            for (int a = 0; a < sub; ++a)
                for (int b = 0; b < sub; ++b) {
                    double z = -1.0 + 2.0 * (i + (a + 0.5) / sub) / nCos;
                    double phi = -M_PI + 2 * M_PI * (j + (b + 0.5) / sub) / nPhi;
                    double r = std::sqrt(std::max(0.0, 1.0 - z * z)), c = r * std::cos(phi),
                           s = r * std::sin(phi);
                    quor::Vector w{float(z * axis.x + c * x.x + s * y.x),
                                   float(z * axis.y + c * x.y + s * y.y),
                                   float(z * axis.z + c * x.z + s * y.z), 0};
                    sum += density(w);
                }
            out[i * nPhi + j] = sum / (sub * sub) * cellArea;
        }
    return out;
}

std::vector<double> sampleCounts(ShadingPoint& point, const SphereBins& bins, int n, std::uint64_t seed,
                                 int* refused) {
    std::vector<double> counts(bins.cells(), 0.0);
    Rng rng(seed);
    int refusedCount = 0;
    for (int k = 0; k < n; ++k) {
        float u = (k + rng.uniform()) / n;
        if (point.sample(u, rng.uniform(), rng.uniform(), rng.uniform()) != 1.0f) {
            ++refusedCount;
            continue;
        }
        counts[bins.cell(point.newRay().dir)] += 1;
    }
    if (refused) *refused = refusedCount;
    return counts;
}

} // namespace harness
