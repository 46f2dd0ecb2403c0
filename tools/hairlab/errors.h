// Bad input: one clear line on stderr and exit status 2.
#pragma once
#include <stdexcept>
#include <string>

namespace hairlab {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr int kUsageExit = 2;

} // namespace hairlab
