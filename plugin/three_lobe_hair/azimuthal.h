// Azimuthal scattering of a circular fibre cross-section for the three-lobe strand model.
//
// A ray entering the cross-section at incidence angle γ (offset h = sin γ from the axis) and
// leaving after p internal segments (p = 0: R, 1: TT, 2: TRT) exits at the azimuth
//   Φ(p, γ) = (6pc/π − 2)·γ − (8pc/π³)·γ³ + pπ,   c = asin(1/η'),
// a cubic fit of the exact exit angle. The azimuthal term N_p(φ) sums, over every root γ of
// Φ(p, γ) = φ, the path's attenuation divided by 2·|dΦ/dh|: the density of exit azimuths
// that the uniformly lit fibre width produces. Fresnel uses the two Bravais indices η'
// (perpendicular) and η'' (parallel) of the longitudinally inclined fibre.
//
// Everything is single precision with the library's constants (π = 3.1415927, π³ = 31.006279);
// the exact order of operations and the guards are part of the result. Sines, cosines,
// arcsines, exponentials and cube roots are taken in double precision and rounded (see
// math/wide_math.h), which gives the library's single-precision values; the paths of one
// evaluation are worked on side by side in lanes.
#pragma once
#include <cmath>

#include "math/vec4.h"

namespace hair {
namespace azimuthal {

constexpr float kPiCubed = 31.006279f; // π³ rounded up by one unit in the last place
// The narrowest Gaussian we evaluate: a width of 0 would be a delta, which no float holds, so
// widths below 1e-6 radians act as that width.
inline float floorWidth(float w) { return std::fabs(w) < 1e-6f ? 1e-6f : w; }

// Bravais indices and the absorption of one evaluation.
struct Fibre {
    float eta;    // relative index of refraction η
    float etaP;   // η', perpendicular Bravais index
    float etaPP;  // η'', parallel Bravais index
    Color4 sigma; // absorption per unit of fibre radius
};

// c = asin(1/η'), the critical angle that shapes the exit cubic.
float criticalAngle(float etaP);

// Incidence angles γ of the paths of lobe p that leave at azimuth phi (in [0, π] for the
// model; other values are shifted the same way). Writes at most three roots, in the order
// of the closed-form solution, and returns how many.
int exitRoots(int p, float c, float phi, float roots[3]);

// Fresnel reflectance entering the fibre at incidence γ, and inside it at the refracted γt.
float fresnelEntry(float gamma, float etaP, float etaPP);
float fresnelInternal(float gammaT, float etaP, float etaPP);

// Fraction of light carried along the path of lobe p with incidence γ; theta is the
// longitudinal angle of the light.
Color4 lobeAttenuation(int p, float gamma, float theta, const Fibre& f);

// N_p(φ) for the light's longitudinal angle thetaI.
Color4 azimuthalTerm(int p, float thetaI, const Fibre& f, float phi);

// The TRT caustic: where the bounded glint sits and how wide and strong it is.
struct Caustic {
    float gammaC; // incidence angle of the caustic path (0 once the caustics have merged)
    float hC;     // its fibre offset
    float deltaH; // width of the glint in fibre offset
    float fade;   // 1 for separate caustics; smooth step from 0 to 1 once merged
    float phiC;   // azimuth of the caustic, in [0, 2π)
};
Caustic trtCaustic(float etaP, float width, float causticLimit, float fadeRange);

// The glint that replaces the TRT caustic.
struct Glint {
    float width;        // azimuthal width w, radians
    float scale;        // glint_scale
    float causticLimit; // upper bound of Δh
    float fadeRange;    // range of η' over which a merged caustic fades in
};

// N_TRT with its caustic peaks removed and replaced by the bounded glint.
Color4 trtWithGlint(float thetaI, const Fibre& f, float phi, const Glint& g);

// N_R, N_TT and N_TRT (with its glint) of one evaluation: what the material's eval takes from
// azimuthal_lanes.h.
struct LobeTerms {
    Color4 r, tt, trt;
};

} // namespace azimuthal
} // namespace hair
