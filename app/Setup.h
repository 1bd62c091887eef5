// Unpacking the downloaded archive and starting the setup program.
#pragma once

#include <windows.h>

bool RunProgram(LPCWSTR pszFile, LPCWSTR pszDirectory, bool bWait);
bool IsArchivePresent();
bool IsSetupPresent();
bool ExtractArchive();
bool LaunchSetup();
