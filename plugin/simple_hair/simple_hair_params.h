// Parameter table of BRDFHair, as the host and saved scenes know it: registration, the
// instance's bindings and the model's defaults all read these rows.
#pragma once
#include "frame/param_table.h"

namespace hair {

// An unconnected highlight colour is black: no highlight.
inline constexpr quor::Color kSpecularUnbound{0.0f, 0.0f, 0.0f, 0.0f};

inline constexpr ParamSpec kBRDFHairParams[] = {
    colorTexture("specular_color_tex", quor::AColor{1.0f, 1.0f, 1.0f, 1.0f}, nullptr,
                 "startTab=(Quor Simple Hair), startRollout=(Quor Simple Hair), displayName=(Specular color)")
        .unboundAs(kSpecularUnbound),
    floatParam("specular_power", 1.0f, nullptr, "displayName=(Specular power), minValue=(0)"),
    colorTexture("diffuse_color_tex", quor::AColor{0.5f, 0.5f, 0.5f, 1.0f}, nullptr,
                 "displayName=(Diffuse color)")
        .unboundFromStrand(),
};

} // namespace hair
