// winshim's own calls, beyond the Win32 API: process start-up and test seams.
// The program's own folders never include this header; winshim's main and the tests do.
#pragma once

#include "windef.h"

// The executable's compiled resources (.res format), embedded by the build.
void WINAPI WinshimSetExecutableResources(const void* data, SIZE_T size);

// A module whose resources come from a .res file on disk; NULL when it cannot be read.
HMODULE WINAPI WinshimLoadResourceFile(const char* path);
void WINAPI WinshimFreeResourceFile(HMODULE module);

// Answers message boxes in place of a person (tests). Return an ID* answer.
typedef int (*WINSHIM_MSGBOX_HANDLER)(void* context, HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
void WINAPI WinshimSetMessageBoxHandler(WINSHIM_MSGBOX_HANDLER handler, void* context);
