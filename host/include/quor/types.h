// Plain value types shared by the host and its plug-ins.
#pragma once

namespace quor {

// Four single-precision lanes. As a colour with alpha (AColor) the fourth lane is alpha.
struct Color {
    float r = 0, g = 0, b = 0, a = 0;
};
using AColor = Color;

struct Color3f {
    float r = 0, g = 0, b = 0;
};

// Three components held in four lanes; w carries no meaning.
struct Vector {
    float x = 0, y = 0, z = 0, w = 0;
};

} // namespace quor
