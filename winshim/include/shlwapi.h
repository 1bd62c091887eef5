// Shell light-weight utilities (shlwapi).
#pragma once

#include "windef.h"

// The size in bytes as a short text ("532 bytes", "1.30 KB", "2.28 MB"): three significant
// digits, truncated; NULL when the buffer is too small.
PWSTR WINAPI StrFormatByteSizeW(LONGLONG qdw, PWSTR pszBuf, UINT cchBuf);
