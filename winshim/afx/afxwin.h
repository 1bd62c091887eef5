// Our small MFC: command targets and message maps, threads and the application object.
#pragma once

#include <atomic>

#include "afx.h"

class CWnd;
class CWinApp;

// Message maps. Each entry carries a thunk that calls the handler on the right class, so the
// handlers keep their own signatures and no member pointer is cast.
class CCmdTarget;
typedef LRESULT (*AFX_MSG_THUNK)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    AFX_MSG_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                                  \
protected:                                                                                                     \
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();                                                       \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                 \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }                          \
    const AFX_MSGMAP* PASCAL theClass::GetThisMessageMap()                                                     \
    {                                                                                                          \
        typedef theClass ThisClass [[maybe_unused]];                                                           \
        typedef baseClass TheBaseClass;                                                                        \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                      \
    {0, 0, 0, 0, nullptr}                                                                                      \
    }                                                                                                          \
    ;                                                                                                          \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};              \
    return &messageMap;                                                                                        \
    }

#define ON_COMMAND(id, memberFxn)                                                                              \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id),                                              \
     [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                                            \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                                         \
         return 0;                                                                                             \
     }},

#define ON_CONTROL(wNotifyCode, id, memberFxn)                                                                 \
    {WM_COMMAND, static_cast<UINT>(wNotifyCode), static_cast<UINT>(id), static_cast<UINT>(id),                 \
     [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                                            \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                                         \
         return 0;                                                                                             \
     }},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

#define ON_MESSAGE(message, memberFxn)                                                                         \
    {static_cast<UINT>(message), 0, 0, 0,                                                                      \
     [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { return (static_cast<ThisClass*>(t)->*(memberFxn))(w, l); }},

#define ID_HELP 0xE146

class CCmdTarget : public CObject {
public:
    // Runs the handler that the message maps of this class and its bases give for the message;
    // false when none handles it.
    bool DispatchMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

protected:
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

typedef UINT (*AFX_THREADPROC)(LPVOID);

class CWinThread : public CCmdTarget {
public:
    CWinThread() = default;
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
    ~CWinThread() override;

    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
    DWORD ResumeThread();
    BOOL SetThreadPriority(int nPriority);
    // Frees the object when it deletes itself (m_bAutoDelete); it neither stops nor waits for the thread.
    virtual void Delete();

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();

    CWnd* m_pMainWnd = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

private:
    static DWORD WINAPI ThreadEntry(LPVOID self);

    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;
};

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority = THREAD_PRIORITY_NORMAL,
                           UINT nStackSize = 0, DWORD dwCreateFlags = 0,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

class CWinApp : public CWinThread {
public:
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitApplication();
    BOOL InitInstance() override;
    int ExitInstance() override;
    int Run() override;
    virtual int DoMessageBox(LPCWSTR lpszPrompt, UINT nType, UINT nIDPrompt);

    void SetRegistryKey(LPCWSTR lpszRegistryKey);
    afx_msg void OnHelp();

    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
    LPCWSTR m_pszProfileName = nullptr;
    HINSTANCE m_hInstance = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    friend BOOL AfxWinInit(HINSTANCE, HINSTANCE, LPWSTR, int);
    CString m_strAppName;
    CString m_strRegistryKey;
    CString m_strProfileName;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hInstResource);

// Message boxes with the application title as caption.
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));

void AfxEnableControlContainer(void* pOccManager = nullptr);

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);

#define AFX_IDS_APP_TITLE 0xE000

// Windows, dialogs, data exchange and GDI objects.
#include "afxwnd.h"
