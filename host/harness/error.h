// Bad input to the harness (an unknown type or parameter, a malformed or out-of-range value):
// front ends report it as one line.
#pragma once
#include <stdexcept>

namespace harness {

struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace harness
