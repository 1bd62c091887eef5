// The edge between the program's Windows paths and the Linux file system. Every file call of
// winshim goes through UnixPath, so paths are converted in one place only.
#pragma once

#include <string>
#include <string_view>

#include "windef.h"

namespace winshim {

// The Linux path for a path as the program writes it: UTF-8, with every backslash a slash
// (the program joins with backslashes; "Web\Setup.exe" names Setup.exe inside Web).
std::string UnixPath(std::u16string_view path);
std::string UnixPath(LPCWSTR path);

// The Win32 error code that stands for an errno value.
DWORD Win32ErrorFromErrno(int error);

} // namespace winshim
