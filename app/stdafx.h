// The platform headers that every part of the program uses.
#pragma once

#include <afxwin.h>
#include <afxwinappex.h>
#include <afxcmn.h>
#include <commctrl.h>
#include <objbase.h>
#include <bits.h>

#include "resource.h"
