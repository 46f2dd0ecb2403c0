#include "simple_hair/simple_hair_params.h"

namespace hair {

void addBRDFHairParams(quor::QuorParameterListDesc& d) {
    d.addParamTexture(
        "specular_color_tex", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, -1, nullptr,
        "startTab=(Quor Simple Hair), startRollout=(Quor Simple Hair), displayName=(Specular color)");
    d.addParamFloat("specular_power", 1.0f, -1, nullptr, "displayName=(Specular power), minValue=(0)");
    d.addParamTexture("diffuse_color_tex", quor::AColor{0.5f, 0.5f, 0.5f, 1.0f}, -1, nullptr,
                      "displayName=(Diffuse color)");
}

} // namespace hair
