// The system libraries that LoadLibraryW and GetProcAddress know, and how kernel32 reaches
// the modules that implement them.
#pragma once

#include <span>

#include "windef.h"

namespace winshim {

struct ModuleExport {
    const char* name;
    FARPROC proc;
};

// Any entry point as a FARPROC (the detour through void (*)() says that the type is meant to change).
template <class Function>
FARPROC ExportOf(Function* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// shell32.cpp
std::span<const ModuleExport> Shell32Exports();

} // namespace winshim
