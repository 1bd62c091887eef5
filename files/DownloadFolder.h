// The download folder and the paths inside it.
#pragma once

#include <windows.h>

// pszFolder: a buffer of MAX_PATH characters.
bool GetDownloadFolder(LPWSTR pszFolder);
// pszPath: a buffer of MAX_PATH characters.
bool MakeDownloadPath(LPCWSTR pszRelativePath, LPWSTR pszPath);
// pszFolder: a buffer of 256 characters.
bool GetFileFolder(LPCWSTR pszPath, LPWSTR pszFolder);
