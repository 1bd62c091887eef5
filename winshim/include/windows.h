// Everything the program sees of the Win32 API, grouped as Windows groups it.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winreg.h"
#include "wingdi.h"
#include "winuser.h"
#include "shellapi.h"
