// CWinAppEx: the application class of the newer MFC.
#pragma once

#include "afxwin.h"

class CWinAppEx : public CWinApp {
public:
    explicit CWinAppEx(BOOL bResourceSmartUpdate = FALSE);
    BOOL InitInstance() override;

protected:
    BOOL m_bResourceSmartUpdate;
};
