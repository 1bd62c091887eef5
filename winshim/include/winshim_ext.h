// winshim's own calls, beyond the Win32 API: process start-up and test seams.
// The program's own folders never include this header; winshim's main and the tests do.
#pragma once

#include "windef.h"

// The executable's compiled resources (.res format), embedded by the build.
void WINAPI WinshimSetExecutableResources(const void* data, SIZE_T size);

// A module whose resources come from a .res file on disk; NULL when it cannot be read.
HMODULE WINAPI WinshimLoadResourceFile(const char* path);
void WINAPI WinshimFreeResourceFile(HMODULE module);

// Answers message boxes in place of a person (tests). Return an ID* answer, or 0 to leave the box
// open: its message loop goes on dispatching posted messages and the handler is asked again.
typedef int (*WINSHIM_MSGBOX_HANDLER)(void* context, HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
void WINAPI WinshimSetMessageBoxHandler(WINSHIM_MSGBOX_HANDLER handler, void* context);

// Receives each line that WINSHIM_TRACE=1 writes to standard error ("DrawIcon(...)",
// "PostMessageW(...)", ...); NULL stops. The handler may be called from any thread.
typedef void (*WINSHIM_TRACE_HANDLER)(void* context, const char* line);
void WINAPI WinshimSetTraceHandler(WINSHIM_TRACE_HANDLER handler, void* context);

// Replaces an entry point that GetProcAddress finds in a system library ("shell32.dll");
// NULL takes it away, as on a system that lacks it. WinshimResetExports undoes every change.
void WINAPI WinshimSetExport(LPCSTR lpModuleName, LPCSTR lpProcName, FARPROC proc);
void WINAPI WinshimResetExports();

// GetVersion reports Windows 7 (6.1); the environment variable WINSHIM_WINDOWS_VERSION
// ("major.minor[.build]", for example "5.1.2600") makes it report another system.
