// Parameter table of BRDFHair, as the host and saved scenes know it.
#pragma once
#include "quor/params.h"

namespace hair {

void addBRDFHairParams(quor::QuorParameterListDesc& d);

} // namespace hair
