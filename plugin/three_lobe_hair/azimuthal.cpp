#include "three_lobe_hair/azimuthal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "math/dispatch.h"
#include "math/fast_math.h"
#include "math/numeric.h"
#include "math/wide_math.h"
#include "three_lobe_hair/azimuthal_lanes.h"

namespace hair {
namespace azimuthal {

using namespace lanes;

namespace {

// One pass of the lane code, for the functions below.
HAIR_LANE_KERNEL void lobeSums(float c, float cosTheta, const Fibre& f, float phi, const Glint* g,
                               LobeTerms& out) {
    lanes::lobeSumsOf(c, cosTheta, f, phi, g, out);
}

} // namespace

float criticalAngle(float etaP) { return asinPrecise(1.0f / etaP); }

int exitRoots(int p, float c, float phi, float roots[3]) { return lanes::exitRootsOf(p, c, phi, roots); }

// The cosine is even (cos |x| and cos x agree to the bit); the library's own is taken.
float fresnelEntry(float gamma, float etaP, float etaPP) {
    return entryFromCos(std::cos(std::fabs(gamma)), etaP, etaPP);
}

float fresnelInternal(float gammaT, float etaP, float etaPP) {
    return internalFromCos(std::cos(std::fabs(gammaT)), etaP, etaPP);
}

Color4 lobeAttenuation(int p, float gamma, float theta, const Fibre& f) {
    float h, cosG, cosTheta, sinTheta;
    sincosPrecise(gamma, h, cosG);
    sincosPrecise(theta, sinTheta, cosTheta);
    const f8 segments = splat<f8>(static_cast<float>(p));
    f8 factor, len;
    pathLanes(splat<f8>(h), splat<f8>(cosG), segments, refractedCos(f, cosTheta), f, factor, len);
    float a[4];
    for (int ch = 0; ch < 4; ++ch)
        a[ch] = factor[0] * absorptionLanes(f.sigma[ch], len, segments)[0];
    return Color4(a[0], a[1], a[2], a[3]);
}

Color4 azimuthalTerm(int p, float thetaI, const Fibre& f, float phi) {
    float sinTheta, cosTheta;
    sincosPrecise(thetaI, sinTheta, cosTheta);
    LobeTerms n;
    lobeSums(criticalAngle(f.etaP), cosTheta, f, phi, nullptr, n);
    return p == 0 ? n.r : (p == 1 ? n.tt : n.trt);
}

Caustic trtCaustic(float etaP, float width, float causticLimit, float fadeRange) {
    const float c = criticalAngle(etaP);
    const CausticShape s = causticShape(c, etaP, fadeRange);
    Caustic k;
    k.gammaC = s.gammaC;
    k.fade = s.fade;
    k.phiC = s.phiC;
    k.hC = 0.0f;
    k.deltaH = causticLimit;
    if (!s.merged) {
        float sinC, cosC;
        sincosPrecise(s.gammaC, sinC, cosC);
        k.hC = std::fabs(sinC);
        k.deltaH = causticWidth(c, s.gammaC, k.hC, width, causticLimit);
    }
    return k;
}

Color4 trtWithGlint(float thetaI, const Fibre& f, float phi, const Glint& g) {
    float sinTheta, cosTheta;
    sincosPrecise(thetaI, sinTheta, cosTheta);
    LobeTerms n;
    lobeSums(criticalAngle(f.etaP), cosTheta, f, phi, &g, n);
    return n.trt;
}

} // namespace azimuthal
} // namespace hair
