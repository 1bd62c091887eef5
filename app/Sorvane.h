// The application object: starts the main dialog and ends the program when it ends.
#pragma once

#include "stdafx.h"

class CSorvaneApp : public CWinAppEx {
public:
    CSorvaneApp();

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CSorvaneApp theApp;
