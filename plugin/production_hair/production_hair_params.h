// Parameter table of BRDFHair4, as the host and saved scenes know it: registration, the
// instance's bindings and the model's defaults all read these rows.
#pragma once
#include "frame/param_table.h"

namespace hair {

// An unconnected softness slot is 0.8, softer than the registered 0.5 an editor starts from.
inline constexpr float kSoftnessUnbound = 0.8f;

inline constexpr ParamSpec kBRDFHair4Params[] = {
    floatTexture("melanin", 0.3f,
                 "The melanin content of the hair fibre. 0 corresponds to white hair, 0.1-0.2 "
                 "blonde, 0.3-0.4 red, 0.5-0.8 brown and 0.8-1.0 black hair.",
                 "minValue=(0), maxValue=(1), startTab=(Quor Hair Next), startRollout=(General "
                 "Parameters), gpuSupport=(full)"),
    floatTexture("pheomelanin", 0.0f,
                 "The redness (pheomelanin content) of the hair fibre as fraction of all melanin. "
                 "1.0 makes the hair redder.",
                 "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    colorTexture("dye_color", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, "Color tint to apply to the hair.",
                 "gpuSupport=(full)"),
    colorTexture("transparency", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, "Transparency", "gpuSupport=(full)")
        .unboundFromStrand(),
    colorTexture("diffuse_color", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, "Diffuse hair color",
                 "gpuSupport=(full)")
        .unboundFromStrand(),
    floatTexture("diffuse_amount", 0.0f, "Multiplier for the diffuse color",
                 "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatTexture("glossiness", 0.5f,
                 "The glossiness along the hair strand. It primarily controls the width of the "
                 "highlight, essentially how shiny the hair appears.",
                 "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatTexture("primary_glossiness_boost", 0.4f,
                 "Additional scaling factor to boost the primary reflection glossiness. This can "
                 "be useful for reproducing the effect of shiny coating on rough looking fur.",
                 "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatTexture("softness", 0.5f,
                 "The glossiness across the hair strand. It controls the overall softness of the hair.",
                 "minValue=(0), maxValue=(1), gpuSupport=(full)")
        .unboundAs(kSoftnessUnbound),
    floatTexture(
        "highlight_shift", 2.0f,
        "How much the highlights are shifted along the hair by the cuticles on the hair fibre. Values in the "
        "range 2-4 are typical for human hair.",
        "minValue=(-40), maxValue=(40), softMinValue=(0), softMaxValue=(10), gpuSupport=(full)"),
    floatTexture(
        "ior", 1.55f,
        "Hair index of refration. The animal cuticle scales often form a layered structure, resulting in "
        "increased primary reflection. This can be modeled with higher index of refraction. The typical "
        "value for human hair is 1.55.",
        "minValue=(1), maxValue=(10), softMinValue=(1), softMaxValue=(5), gpuSupport=(full)"),
    floatParam("glint_strength", 0.2f, "The strength of the second more focused colored highlight.",
               "minValue=(0), maxValue=(1), startRollout=(Glint), gpuSupport=(full)"),
    floatParam("glint_variation", 0.3f,
               "The amount of random variation along the strand applied to the colored highlights.",
               "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatParam("glitter_strength", 0.3f,
               "The strength of the primary reflection non-uniformity. Induces more focused reflection, "
               "which is randomly perturbed along the strand. More pronounced with hard lightning "
               "produced by small or collimated light sources.",
               "minValue=(0), maxValue=(2), softMinValue=(0), softMaxValue=(1), gpuSupport=(full)"),
    floatParam(
        "glitter_size", 1.0f,
        "The size of the glitter perturbation pattern. Increasing the value will prolong the pattern.",
        "minValue=(0.001), maxValue(100000), softMinValue=(0.1), softMaxValue=(10), gpuSupport=(full)"),
    floatParam(
        "glint_scale", 1.0f,
        "The units scale factor of the distance along the strand. Internally the variation along the strand "
        "is set in real world units. This parameter allows to correct the appearance for hair not modeled in "
        "real world scale. Values below 1.0 will shrink the variation pattern, while values above 1.0 will "
        "elongate it.",
        "minValue=(0.0001), maxValue(100000), softMinValue=(0.01), softMaxValue=(100), gpuSupport=(full)"),
    floatParam("random_melanin", 0.0f, "Adds a random offset to the melanin content of the hair.",
               "minValue=(0), maxValue=(1), startRollout=(Randomization), gpuSupport=(full)"),
    floatParam("random_dye_hue", 0.0f, "Adds a random offest to the hue of the Dye color.",
               "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatParam("random_dye_saturation", 0.0f, "Adds a random offest to the saturation of the Dye color.",
               "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatParam("random_dye_value", 0.0f, "Adds a random offest to the value of the Dye color.",
               "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatTexture("gray_hair_density", 0.0f, "The frequency at which gray hairs appear.",
                 "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatParam("random_glossiness", 0.0f, "Adds a random offset to the glossiness of the hair.",
               "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatParam("random_softness", 0.0f, "Adds a random offset to the softness of the hair.",
               "minValue=(0), maxValue=(1), gpuSupport=(full)"),
    floatParam("random_highlight_shift", 0.0f, "Adds a random offset to the Highlight shift.",
               "minValue=(0), maxValue=(40), softMinValue=(0), softMaxValue=(10), gpuSupport=(full)"),
    floatParam("random_ior", 0.0f, "Adds a random offset to the Index of refration.",
               "minValue=(0), maxValue=(10), softMinValue=(0), softMaxValue=(5), gpuSupport=(full)"),
    floatParam("random_tangent", 0.0f,
               "Adds a random offset to the hair tangent. Note that this value is scene scale dependent.",
               "minValue=(0), maxValue=(100), softMinValue=(0), softMaxValue=(1),gpuSupport=(full)"),
    colorTexture("primary_tint", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f},
                 "Color tint to apply to the primary specular component.",
                 "startRollout=(Tint), gpuSupport=(full)"),
    colorTexture("secondary_tint", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f},
                 "Color tint to apply to the secondary specular component.", "gpuSupport=(full)"),
    colorTexture("transmission_tint", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f},
                 "Color tint to apply to the transmission component.", "gpuSupport=(full)"),
    intParam(
        "trace_depth", 10,
        "The number of indirect bounces used to compute the effect of the multiple scattering. It can "
        "significantly affect the hair appearance, especially for light colored hairs. The number of bounces "
        "necessary can vary from 5 for dark colored hairs, to 30 and more for light colored ones.",
        "minValue=(1), maxValue=(1000), softMinValue=(1), softMaxValue=(30), startRollout=(Advanced), "
        "gpuSupport=(full)"),
    intParam("subdivs", 8, nullptr,
             "minValue=(1), maxValue=(1000), quantityType=(localSubdivs), gpuSupport=(none)"),
};

} // namespace hair
