// Single-precision error function and its inverse.
//
// Both take non-negative arguments; callers that need negative ones apply the odd symmetry
// (a negative argument is mirrored here too, so a stray sign costs nothing). Each range is a
// constant plus a small rational correction, so every branch is a handful of multiply-adds.
#pragma once

namespace hair {

// erf(x) for x >= 0.
float erf(float x);

// The inverse of erf for 0 <= y < 1. At y = 1 and beyond it stays finite (about 9.3).
float erfInverse(float y);

} // namespace hair
