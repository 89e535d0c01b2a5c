#pragma once
// Libraries that only some commands need (libpng, libspectrum) are loaded
// when first used, so that every other command starts without them.

#include <dlfcn.h>
#include <type_traits>

// Opens a library once for the life of the process; nullptr when absent.
inline void* OpenLibrary(const char* soname) {
    return dlopen(soname, RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
}

// Points `entry` at the library's function `name`; false when it has none.
template <typename Function> bool BindEntry(void* library, Function& entry, const char* name) {
    entry = reinterpret_cast<std::remove_reference_t<Function>>(dlsym(library, name));
    return entry != nullptr;
}
