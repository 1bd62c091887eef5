#include "afxwin.h"
#include "afxwinappex.h"

namespace {

CWinApp* g_pApp = nullptr;
HINSTANCE g_hResource = nullptr;

} // namespace

// Command targets and message maps

const AFX_MSGMAP* PASCAL CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

bool CCmdTarget::DispatchMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
            if (e->nMessage != message)
                continue;
            if (message == WM_COMMAND &&
                (e->nCode != HIWORD(wParam) || LOWORD(wParam) < e->nID || LOWORD(wParam) > e->nLastID))
                continue;
            LRESULT r = e->pfn(this, wParam, lParam);
            if (result)
                *result = r;
            return true;
        }
    }
    return false;
}

// Threads

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
    : m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam)
{
}

CWinThread::~CWinThread()
{
    if (m_hThread)
        CloseHandle(m_hThread);
}

DWORD WINAPI CWinThread::ThreadEntry(LPVOID self)
{
    CWinThread* thread = static_cast<CWinThread*>(self);
    UINT result = thread->m_pfnThreadProc ? thread->m_pfnThreadProc(thread->m_pThreadParams) : thread->Run();
    thread->Delete();
    return result;
}

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    m_hThread = ::CreateThread(lpSecurityAttrs, nStackSize, &CWinThread::ThreadEntry, this,
                               dwCreateFlags | CREATE_SUSPENDED, &m_nThreadID);
    if (!m_hThread)
        return FALSE;
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        ::ResumeThread(m_hThread);
    return TRUE;
}

DWORD CWinThread::ResumeThread()
{
    return ::ResumeThread(m_hThread);
}

BOOL CWinThread::SetThreadPriority(int nPriority)
{
    return ::SetThreadPriority(m_hThread, nPriority);
}

void CWinThread::Delete()
{
    if (m_bAutoDelete)
        delete this;
}

BOOL CWinThread::InitInstance()
{
    return FALSE;
}

int CWinThread::ExitInstance()
{
    return 0;
}

int CWinThread::Run()
{
    return ExitInstance();
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    CWinThread* thread = new CWinThread(pfnThreadProc, pParam);
    if (!thread->CreateThread(dwCreateFlags | CREATE_SUSPENDED, nStackSize, lpSecurityAttrs)) {
        delete thread;
        return nullptr;
    }
    thread->SetThreadPriority(nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        thread->ResumeThread();
    return thread;
}

// The application

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName)
{
    if (lpszAppName) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName;
    }
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitApplication()
{
    return TRUE;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

int CWinApp::Run()
{
    // The program ends when InitInstance returns; a main message loop is not needed.
    return ExitInstance();
}

int CWinApp::DoMessageBox(LPCWSTR lpszPrompt, UINT nType, UINT)
{
    // The main window, once it has one, owns the box and takes no input while it is open.
    HWND owner = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    return ::MessageBoxW(owner, lpszPrompt, m_pszAppName, nType);
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey)
{
    m_strRegistryKey = lpszRegistryKey ? lpszRegistryKey : u"";
    m_pszRegistryKey = m_strRegistryKey;
    m_strProfileName = m_strAppName;
    m_pszProfileName = m_strProfileName;
}

void CWinApp::OnHelp()
{
    // The program has no help file.
}

CWinAppEx::CWinAppEx(BOOL bResourceSmartUpdate) : m_bResourceSmartUpdate(bResourceSmartUpdate)
{
}

BOOL CWinAppEx::InitInstance()
{
    return CWinApp::InitInstance();
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_pApp ? g_pApp->m_hInstance : nullptr;
}

HINSTANCE AfxGetResourceHandle()
{
    return g_hResource ? g_hResource : GetModuleHandleW(nullptr);
}

void AfxSetResourceHandle(HINSTANCE hInstResource)
{
    g_hResource = hInstResource;
}

int AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT nIDHelp)
{
    if (CWinApp* app = AfxGetApp())
        return app->DoMessageBox(lpszText, nType, nIDHelp);
    return ::MessageBoxW(nullptr, lpszText, nullptr, nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp)
{
    CString text;
    text.LoadString(nIDPrompt);
    return AfxMessageBox(text, nType, nIDHelp == static_cast<UINT>(-1) ? nIDPrompt : nIDHelp);
}

void AfxEnableControlContainer(void*)
{
    // Only ActiveX controls need a container, and dialogs here hold none.
}

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    if (!g_hResource)
        g_hResource = hInstance;
    CWinApp* app = AfxGetApp();
    if (!app)
        return FALSE;
    app->m_hInstance = hInstance;
    if (!app->m_pszAppName && app->m_strAppName.LoadString(AFX_IDS_APP_TITLE))
        app->m_pszAppName = app->m_strAppName;
    return TRUE;
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (!app || !AfxWinInit(hInstance, hPrevInstance, lpCmdLine, nCmdShow))
        return -1;
    if (!app->InitApplication())
        return app->ExitInstance();
    try {
        if (!app->InitInstance())
            return app->ExitInstance();
    } catch (CException* e) {
        // An error that the program left unhandled: say what it was, under the application's
        // title, and end the program.
        e->ReportError(MB_OK | MB_ICONERROR);
        e->Delete();
        app->ExitInstance();
        return -1;
    }
    return app->Run();
}
