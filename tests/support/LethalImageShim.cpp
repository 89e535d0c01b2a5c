// Preloaded into tarnlight-cli by the walk tests: LibDsk's fopen of an image
// whose name contains "lethal" aborts the process, as the library itself
// aborts on some malformed containers.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

extern "C" FILE* fopen(const char* path, const char* mode) {
    if (path != nullptr && std::strstr(path, "lethal") != nullptr)
        std::abort();
    using Fopen = FILE* (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen"));
    return real(path, mode);
}
