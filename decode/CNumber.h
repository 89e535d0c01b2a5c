#pragma once
// Numbers in program text are read and stored the same whatever the
// program's locale, and without libm: the command line links the C library
// alone, which keeps its start-up short.

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <locale.h>

// strtod in the C locale.
inline double ReadCNumber(const char* text, char** end) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(text, end, c);
}

// A finite value as fraction × 2^exponent with the fraction's magnitude in
// [0.5, 1) (0 and exponent 0 for 0), as frexp gives it, read from the IEEE
// double's own fields: sign, an 11-bit exponent biased by 1023, and 52
// fraction bits below an implied leading 1 (none for subnormal numbers,
// which are scaled into the normal range first).
inline double SplitBinary(double value, int& exponent) {
    constexpr std::uint64_t kExponentField = std::uint64_t{0x7FF} << 52;
    exponent = 0;
    if (value == 0)
        return value;
    auto bits = std::bit_cast<std::uint64_t>(value);
    if ((bits & kExponentField) == 0) {
        bits = std::bit_cast<std::uint64_t>(value * 0x1p54);
        exponent = -54;
    }
    exponent += static_cast<int>((bits & kExponentField) >> 52) - 1022;
    return std::bit_cast<double>((bits & ~kExponentField) | (std::uint64_t{1022} << 52));
}
