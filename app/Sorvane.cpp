#include "Sorvane.h"

#include "SorvaneDlg.h"

BEGIN_MESSAGE_MAP(CSorvaneApp, CWinAppEx)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CSorvaneApp::CSorvaneApp() : CWinAppEx(TRUE)
{
}

CSorvaneApp theApp;

BOOL CSorvaneApp::InitInstance()
{
    INITCOMMONCONTROLSEX initCtrls;
    initCtrls.dwSize = sizeof(initCtrls);
    initCtrls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&initCtrls);

    CWinAppEx::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(_T("Local AppWizard-Generated Applications"));

    {
        CSorvaneDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
    }
    // The dialog is gone; the application keeps no pointer to it.
    m_pMainWnd = NULL;

    // Returning FALSE starts no message loop: the program ends when the dialog has ended.
    return FALSE;
}
