// Loading a dynamic library by name.
#pragma once
#include <string_view>

using Dyn_Lib = void*;
Dyn_Lib lib_open(std::string_view name);
void* lib_symbol(Dyn_Lib lib, const char* name);
void lib_close(Dyn_Lib lib);
