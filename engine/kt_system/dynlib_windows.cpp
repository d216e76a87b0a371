// Dynamic libraries on Windows.
#include "engine/kt_system/dynlib.h"

#include "engine/kt_system/win_util.h"

Dyn_Lib lib_open(std::string_view name) { return LoadLibraryW(wide_z(name).c_str()); }

void* lib_symbol(Dyn_Lib lib, const char* name) {
    if (!lib) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void lib_close(Dyn_Lib lib) {
    if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}
