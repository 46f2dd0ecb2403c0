// Parameter table of BRDFHair3, as the host and saved scenes know it.
#pragma once
#include "quor/params.h"

namespace hair {

void addBRDFHair3Params(quor::QuorParameterListDesc& d);

} // namespace hair
