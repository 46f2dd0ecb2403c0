// The library's one exported entry and the static descriptors of the four hair types.
//
// Descriptors are constructed at load in the order BRDFHair, BRDFHair2, BRDFHair3,
// BRDFHair4; each pushes itself at the head of the registry, so the host enumerates them
// newest first.
#include "artist_hair/artist_hair_params.h"
#include "artist_hair/brdf_hair3.h"
#include "frame/descriptor.h"
#include "production_hair/brdf_hair4.h"
#include "production_hair/production_hair_params.h"
#include "simple_hair/brdf_hair.h"
#include "simple_hair/simple_hair_params.h"
#include "three_lobe_hair/brdf_hair2.h"
#include "three_lobe_hair/three_lobe_hair_params.h"

namespace hair {
namespace {

constexpr const char* kLegacyDescription =
    "Deprecated. Legacy hair shader. Use BRDFHair3 or even better BRDFHair4 instead. [gpuSupport=(none)]";

using BRDFHairDesc = HairDesc<BRDFHair>;
BRDFHairDesc brdfHairDesc({"BRDFHair", 2010021201, kLegacyDescription, kBRDFHairParams});
LibDesc libDesc;
using BRDFHair2Desc = HairDesc<BRDFHair2>;
BRDFHair2Desc brdfHair2Desc({"BRDFHair2", 2011060301, kLegacyDescription, kBRDFHair2Params});
using BRDFHair3Desc = HairDesc<BRDFHair3>;
BRDFHair3Desc brdfHair3Desc({"BRDFHair3", 2011090401,
                             "Hair shader based on the Disney paper \"An Artist Friendly Hair Shading "
                             "System\" [gpuSupport=(partial)]",
                             kBRDFHair3Params});
using BRDFHair4Desc = HairDesc<BRDFHair4>;
BRDFHair4Desc
    brdfHair4Desc({"BRDFHair4", 2017032801,
                   "Artist friendly hair shader based on the Disney paper \"A Practical and "
                   "Controllable Hair and Fur Model for Production Path Tracing\" [gpuSupport=(partial)]",
                   kBRDFHair4Params});

} // namespace
} // namespace hair

extern "C" __attribute__((visibility("default"))) quor::PluginLibDesc* getLibDesc() { return &hair::libDesc; }
