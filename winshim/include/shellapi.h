// Starting files through the shell (shell32).
#pragma once

#include "windef.h"

#define SEE_MASK_DEFAULT 0x00000000
#define SEE_MASK_NOCLOSEPROCESS 0x00000040

// Values of hInstApp: greater than 32 on success.
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_NOASSOC 31

struct SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    };
    HANDLE hProcess;
};
typedef SHELLEXECUTEINFOW* LPSHELLEXECUTEINFOW;

// The default verb (lpVerb NULL or "open"): a program file is started as a program, any other
// file is opened with the desktop's default application for it. With SEE_MASK_NOCLOSEPROCESS,
// hProcess receives the started process (NULL when the desktop started it by other means).
BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);
