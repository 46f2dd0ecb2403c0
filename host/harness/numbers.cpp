#include "harness/numbers.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "harness/error.h"

namespace harness {

std::string shortestText(float v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

double shortestDecimal(float v) { return std::strtod(shortestText(v).c_str(), nullptr); }

namespace {

[[noreturn]] void refuse(const std::string& what, const std::string& text, const std::string& expected) {
    throw InputError(what + ": '" + text + "' is not " + expected);
}

// Digits of a hex or decimal integer, without sign; false when anything else is in the text.
bool parseMagnitude(const std::string& digits, int base, std::uint64_t& out) {
    if (digits.empty()) return false;
    for (char c : digits) {
        auto u = static_cast<unsigned char>(c);
        if (!(base == 16 ? std::isxdigit(u) : std::isdigit(u))) return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(digits.c_str(), &end, base);
    if (errno == ERANGE || end != digits.c_str() + digits.size()) return false;
    out = v;
    return true;
}

bool isHex(const std::string& s) { return s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'); }

} // namespace

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

float parseFloat(const std::string& what, const std::string& text) {
    // strtod would skip leading blanks and read hex floats, inf and nan; only plain decimals pass.
    if (text.empty()) refuse(what, text, "a number");
    for (char c : text)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' ||
              c == 'E'))
            refuse(what, text, "a finite decimal number");
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) refuse(what, text, "a number");
    // Underflow to a subnormal or zero is a fine float; only overflow is refused.
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max())
        refuse(what, text, "a number in single-precision range");
    return static_cast<float>(v);
}

int parseInt(const std::string& what, const std::string& text) {
    std::string body = text;
    bool negative = false;
    if (!body.empty() && (body[0] == '-' || body[0] == '+')) {
        negative = body[0] == '-';
        body.erase(0, 1);
    }
    std::uint64_t v = 0;
    if (isHex(body)) {
        if (negative || !parseMagnitude(body.substr(2), 16, v) || v > 0xFFFFFFFFull)
            refuse(what, text, "a 32-bit hex value (0x0 to 0xFFFFFFFF)");
        return static_cast<int>(static_cast<std::uint32_t>(v));
    }
    if (!parseMagnitude(body, 10, v)) refuse(what, text, "an integer (decimal, or hex with 0x)");
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    if (v > limit) refuse(what, text, "an integer in 32-bit range");
    return negative ? static_cast<int>(-static_cast<std::int64_t>(v)) : static_cast<int>(v);
}

std::uint64_t parseUnsigned(const std::string& what, const std::string& text) {
    std::uint64_t v = 0;
    bool ok = isHex(text) ? parseMagnitude(text.substr(2), 16, v) : parseMagnitude(text, 10, v);
    if (!ok) refuse(what, text, "a non-negative integer");
    return v;
}

std::vector<float> parseFloats(const std::string& what, const std::string& text, std::size_t count,
                               const char* shape) {
    std::vector<std::string> parts = splitCommas(text);
    if (parts.size() != count) refuse(what, text, shape);
    std::vector<float> values;
    for (const std::string& p : parts) {
        try {
            values.push_back(parseFloat(what, p));
        } catch (const InputError&) {
            refuse(what, text, std::string(shape) + " of finite numbers");
        }
    }
    return values;
}

std::string rangeText(double lo, double hi) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "[%g, %g]", lo, hi);
    return buf;
}

std::uint64_t parseUnsignedIn(const std::string& what, const std::string& text, std::uint64_t lo,
                              std::uint64_t hi) {
    if (text.empty()) throw InputError(what + ": empty value");
    std::uint64_t v = parseUnsigned(what, text);
    if (v < lo || v > hi)
        throw InputError(what + ": '" + text + "' is outside [" + std::to_string(lo) + ", " +
                         std::to_string(hi) + "]");
    return v;
}

float parseFloatIn(const std::string& what, const std::string& text, double lo, double hi) {
    if (text.empty()) throw InputError(what + ": empty value");
    float v = parseFloat(what, text);
    if (!(v >= lo && v <= hi)) throw InputError(what + ": '" + text + "' is outside " + rangeText(lo, hi));
    return v;
}

void checkIn(const std::string& what, double value, double lo, double hi) {
    if (!(value >= lo && value <= hi)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.9g", value);
        throw InputError(what + ": " + buf + " is outside " + rangeText(lo, hi));
    }
}

} // namespace harness
