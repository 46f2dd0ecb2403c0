// Bad input: one clear line on stderr and exit status 2.
#pragma once
#include "harness/error.h"

namespace hairlab {

using UsageError = harness::InputError;

constexpr int kUsageExit = 2;

} // namespace hairlab
