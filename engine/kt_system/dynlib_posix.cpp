// Dynamic libraries on POSIX systems.
#include "engine/kt_system/dynlib.h"

#include <dlfcn.h>

#include <string>

Dyn_Lib lib_open(std::string_view name) {
    return dlopen(std::string(name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* lib_symbol(Dyn_Lib lib, const char* name) {
    if (!lib) return nullptr;
    return dlsym(lib, name);
}

void lib_close(Dyn_Lib lib) {
    if (lib) dlclose(lib);
}
