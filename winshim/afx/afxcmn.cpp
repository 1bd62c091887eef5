#include "afxcmn.h"

IMPLEMENT_DYNAMIC(CProgressCtrl, CWnd)
