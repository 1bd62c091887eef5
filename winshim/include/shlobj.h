// Shell folders (shell32): the known folders and the special folders of the user.
#pragma once

#include "windef.h"
#include "knownfolders.h"

#define KF_FLAG_CREATE 0x00008000
// The path of a known folder, allocated with CoTaskMemAlloc; *ppszPath is NULL on failure.
HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath);

#define CSIDL_PERSONAL 0x0005
// pszPath: a buffer of MAX_PATH characters.
BOOL WINAPI SHGetSpecialFolderPathW(HWND hwnd, LPWSTR pszPath, int csidl, BOOL fCreate);
