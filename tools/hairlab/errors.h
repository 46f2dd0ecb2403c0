// Bad input: one clear line on stderr and exit status 2.
#pragma once
#include <string>

#include "harness/error.h"

namespace hairlab {

using UsageError = harness::InputError;

constexpr int kUsageExit = 2;

// Control characters of what the user typed written as escapes (\n, \t, \x1b, ...), so that a
// line that echoes it stays one line and cannot drive the terminal.
std::string printable(const std::string& s);

} // namespace hairlab
