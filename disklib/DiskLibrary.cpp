#include "DiskLibrary.h"

#include <dlfcn.h>

namespace {

template <typename Fn> void Resolve(void* module, const char* symbol, Fn& slot) {
    slot = reinterpret_cast<Fn>(dlsym(module, symbol));
}

} // namespace

CDiskLibrary::~CDiskLibrary() { Unload(); }

bool CDiskLibrary::Load(const std::vector<std::string>& names) {
    if (m_hModule != nullptr)
        return true;
    for (const std::string& name : names) {
        m_hModule = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_hModule != nullptr)
            break;
    }
    if (m_hModule == nullptr)
        return false;
    Resolve(m_hModule, "dsk_open", m_Table.dsk_open);
    Resolve(m_hModule, "dsk_creat", m_Table.dsk_creat);
    Resolve(m_hModule, "dsk_close", m_Table.dsk_close);
    Resolve(m_hModule, "dsk_pread", m_Table.dsk_pread);
    Resolve(m_hModule, "dsk_pwrite", m_Table.dsk_pwrite);
    Resolve(m_hModule, "dsk_getgeom", m_Table.dsk_getgeom);
    Resolve(m_hModule, "dsk_apform", m_Table.dsk_apform);
    Resolve(m_hModule, "dg_stdformat", m_Table.dg_stdformat);
    return true;
}

void CDiskLibrary::Unload() {
    if (m_hModule == nullptr)
        return;
    dlclose(m_hModule);
    m_hModule = nullptr;
    m_Table = DiskLibraryTable{};
}
