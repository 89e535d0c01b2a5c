#pragma once
// Numbers in program text are read the same whatever the program's locale.

#include <cstdlib>
#include <locale.h>

// strtod in the C locale.
inline double ReadCNumber(const char* text, char** end) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(text, end, c);
}
