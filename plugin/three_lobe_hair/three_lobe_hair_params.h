// Parameter table of BRDFHair2, as the host and saved scenes know it.
#pragma once
#include "quor/params.h"

namespace hair {

// Absorption used by registration and by shading points without an absorption texture.
constexpr quor::Color3f kAbsorptionDefault{0.2f, 0.2f, 0.2f};

void addBRDFHair2Params(quor::QuorParameterListDesc& d);

} // namespace hair
