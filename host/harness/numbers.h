// The one set of number parsers for text a user typed: every option and every parameter value
// goes through these, so they all accept and refuse the same forms. Each throws InputError with
// one line that names what was being read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace harness {

// A float as the shortest text that reads back as the same float (0.3f as "0.3"), and that
// decimal as a double, for JSON.
std::string shortestText(float v);
double shortestDecimal(float v);

// A finite decimal that fits a float (subnormals included): no blanks, hex, inf or nan.
float parseFloat(const std::string& what, const std::string& text);
// A 32-bit integer in decimal, or in hex with 0x (bit patterns up to 0xFFFFFFFF).
int parseInt(const std::string& what, const std::string& text);
// A non-negative integer in decimal or 0x hex.
std::uint64_t parseUnsigned(const std::string& what, const std::string& text);
// A comma list of count finite numbers; shape names it in the message ("a colour r,g,b").
std::vector<float> parseFloats(const std::string& what, const std::string& text, std::size_t count,
                               const char* shape);
std::vector<std::string> splitCommas(const std::string& text);

// The one range check of every bounded option: "WHAT: 'TEXT' is outside [LO, HI]" (an empty text:
// "WHAT: empty value"). Integers in decimal or 0x hex; numbers as parseFloat reads them.
std::uint64_t parseUnsignedIn(const std::string& what, const std::string& text, std::uint64_t lo,
                              std::uint64_t hi);
float parseFloatIn(const std::string& what, const std::string& text, double lo, double hi);
// The same refusal for a value that is already a number (from a look file, say).
void checkIn(const std::string& what, double value, double lo, double hi);
// "[LO, HI]" as the refusals write it.
std::string rangeText(double lo, double hi);

} // namespace harness
