// Parameter table of BRDFHair4, as the host and saved scenes know it.
#pragma once
#include "quor/params.h"

namespace hair {

void addBRDFHair4Params(quor::QuorParameterListDesc& d);

} // namespace hair
