// Plain value types shared by the host and its plug-ins.
#pragma once

/// The host's interfaces as a plug-in sees them.
namespace quor {

/// Four single-precision lanes. As a colour with alpha (AColor) the fourth lane is alpha.
struct Color {
    float r = 0; ///< Red lane.
    float g = 0; ///< Green lane.
    float b = 0; ///< Blue lane.
    float a = 0; ///< Fourth lane: alpha for an AColor; materials repeat blue in it.
};
/// A colour whose fourth lane is alpha.
using AColor = Color;

/// A colour of three lanes, as strand records and shadow answers carry it.
struct Color3f {
    float r = 0; ///< Red.
    float g = 0; ///< Green.
    float b = 0; ///< Blue.
};

/// Three components held in four lanes; w carries no meaning.
struct Vector {
    float x = 0; ///< x component.
    float y = 0; ///< y component.
    float z = 0; ///< z component.
    float w = 0; ///< Unused lane.
};

} // namespace quor
