#include "production_hair/production_hair_params.h"

namespace hair {

void addBRDFHair4Params(quor::QuorParameterListDesc& d) {
    d.addParamTextureFloat("melanin", 0.3f, -1,
                           "The melanin content of the hair fibre. 0 corresponds to white hair, 0.1-0.2 "
                           "blonde, 0.3-0.4 red, 0.5-0.8 brown and 0.8-1.0 black hair.",
                           "minValue=(0), maxValue=(1), startTab=(Quor Hair Next), startRollout=(General "
                           "Parameters), gpuSupport=(full)");
    d.addParamTextureFloat("pheomelanin", 0.0f, -1,
                           "The redness (pheomelanin content) of the hair fibre as fraction of all melanin. "
                           "1.0 makes the hair redder.",
                           "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTexture("dye_color", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, -1,
                      "Color tint to apply to the hair.", "gpuSupport=(full)");
    d.addParamTexture("transparency", quor::AColor{0.0f, 0.0f, 0.0f, 1.0f}, -1, "Transparency",
                      "gpuSupport=(full)");
    d.addParamTexture("diffuse_color", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, -1, "Diffuse hair color",
                      "gpuSupport=(full)");
    d.addParamTextureFloat("diffuse_amount", 0.0f, -1, "Multiplier for the diffuse color",
                           "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTextureFloat("glossiness", 0.5f, -1,
                           "The glossiness along the hair strand. It primarily controls the width of the "
                           "highlight, essentially how shiny the hair appears.",
                           "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTextureFloat("primary_glossiness_boost", 0.4f, -1,
                           "Additional scaling factor to boost the primary reflection glossiness. This can "
                           "be useful for reproducing the effect of shiny coating on rough looking fur.",
                           "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTextureFloat(
        "softness", 0.5f, -1,
        "The glossiness across the hair strand. It controls the overall softness of the hair.",
        "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTextureFloat(
        "highlight_shift", 2.0f, -1,
        "How much the highlights are shifted along the hair by the cuticles on the hair fibre. Values in the "
        "range 2-4 are typical for human hair.",
        "minValue=(-40), maxValue=(40), softMinValue=(0), softMaxValue=(10), gpuSupport=(full)");
    d.addParamTextureFloat(
        "ior", 1.55f, -1,
        "Hair index of refration. The animal cuticle scales often form a layered structure, resulting in "
        "increased primary reflection. This can be modeled with higher index of refraction. The typical "
        "value for human hair is 1.55.",
        "minValue=(1), maxValue=(10), softMinValue=(1), softMaxValue=(5), gpuSupport=(full)");
    d.addParamFloat("glint_strength", 0.2f, -1, "The strength of the second more focused colored highlight.",
                    "minValue=(0), maxValue=(1), startRollout=(Glint), gpuSupport=(full)");
    d.addParamFloat("glint_variation", 0.3f, -1,
                    "The amount of random variation along the strand applied to the colored highlights.",
                    "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamFloat("glitter_strength", 0.3f, -1,
                    "The strength of the primary reflection non-uniformity. Induces more focused reflection, "
                    "which is randomly perturbed along the strand. More pronounced with hard lightning "
                    "produced by small or collimated light sources.",
                    "minValue=(0), maxValue=(2), softMinValue=(0), softMaxValue=(1), gpuSupport=(full)");
    d.addParamFloat(
        "glitter_size", 1.0f, -1,
        "The size of the glitter perturbation pattern. Increasing the value will prolong the pattern.",
        "minValue=(0.001), maxValue(100000), softMinValue=(0.1), softMaxValue=(10), gpuSupport=(full)");
    d.addParamFloat(
        "glint_scale", 1.0f, -1,
        "The units scale factor of the distance along the strand. Internally the variation along the strand "
        "is set in real world units. This parameter allows to correct the appearance for hair not modeled in "
        "real world scale. Values below 1.0 will shrink the variation pattern, while values above 1.0 will "
        "elongate it.",
        "minValue=(0.0001), maxValue(100000), softMinValue=(0.01), softMaxValue=(100), gpuSupport=(full)");
    d.addParamFloat("random_melanin", 0.0f, -1, "Adds a random offset to the melanin content of the hair.",
                    "minValue=(0), maxValue=(1), startRollout=(Randomization), gpuSupport=(full)");
    d.addParamFloat("random_dye_hue", 0.0f, -1, "Adds a random offest to the hue of the Dye color.",
                    "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamFloat("random_dye_saturation", 0.0f, -1,
                    "Adds a random offest to the saturation of the Dye color.",
                    "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamFloat("random_dye_value", 0.0f, -1, "Adds a random offest to the value of the Dye color.",
                    "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamTextureFloat("gray_hair_density", 0.0f, -1, "The frequency at which gray hairs appear.",
                           "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamFloat("random_glossiness", 0.0f, -1, "Adds a random offset to the glossiness of the hair.",
                    "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamFloat("random_softness", 0.0f, -1, "Adds a random offset to the softness of the hair.",
                    "minValue=(0), maxValue=(1), gpuSupport=(full)");
    d.addParamFloat("random_highlight_shift", 0.0f, -1, "Adds a random offset to the Highlight shift.",
                    "minValue=(0), maxValue=(40), softMinValue=(0), softMaxValue=(10), gpuSupport=(full)");
    d.addParamFloat("random_ior", 0.0f, -1, "Adds a random offset to the Index of refration.",
                    "minValue=(0), maxValue=(10), softMinValue=(0), softMaxValue=(5), gpuSupport=(full)");
    d.addParamFloat(
        "random_tangent", 0.0f, -1,
        "Adds a random offset to the hair tangent. Note that this value is scene scale dependent.",
        "minValue=(0), maxValue=(100), softMinValue=(0), softMaxValue=(1),gpuSupport=(full)");
    d.addParamTexture("primary_tint", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, -1,
                      "Color tint to apply to the primary specular component.",
                      "startRollout=(Tint), gpuSupport=(full)");
    d.addParamTexture("secondary_tint", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, -1,
                      "Color tint to apply to the secondary specular component.", "gpuSupport=(full)");
    d.addParamTexture("transmission_tint", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, -1,
                      "Color tint to apply to the transmission component.", "gpuSupport=(full)");
    d.addParamInt(
        "trace_depth", 10, -1,
        "The number of indirect bounces used to compute the effect of the multiple scattering. It can "
        "significantly affect the hair appearance, especially for light colored hairs. The number of bounces "
        "necessary can vary from 5 for dark colored hairs, to 30 and more for light colored ones.",
        "minValue=(1), maxValue=(1000), softMinValue=(1), softMaxValue=(30), startRollout=(Advanced), "
        "gpuSupport=(full)");
    d.addParamInt("subdivs", 8, -1, nullptr,
                  "minValue=(1), maxValue=(1000), quantityType=(localSubdivs), gpuSupport=(none)");
}

} // namespace hair
