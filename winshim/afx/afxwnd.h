// Windows, dialogs, data exchange and GDI wrappers of our small MFC, written on Win32 calls.
// Included by afxwin.h.
#pragma once

#include <atomic>

#include "afxwin.h"

class CDC;
class CDataExchange;

// A window's handle as its CWnd keeps it. The window thread attaches and detaches it; another
// thread may read it to post to the window, so it is held in an atomic.
class CWndHandle {
public:
    CWndHandle(HWND hwnd = nullptr) : m_hwnd(hwnd) {}
    CWndHandle(const CWndHandle&) = delete;
    CWndHandle& operator=(const CWndHandle&) = delete;
    CWndHandle& operator=(HWND hwnd)
    {
        m_hwnd.store(hwnd, std::memory_order_release);
        return *this;
    }
    operator HWND() const { return m_hwnd.load(std::memory_order_acquire); }

private:
    std::atomic<HWND> m_hwnd;
};

// Message-map entries for the standard window messages, with MFC's handler names and signatures.
#define ON_WM_PAINT()                                                                                          \
    {WM_PAINT, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                        \
         static_cast<ThisClass*>(t)->OnPaint();                                                               \
         return 0;                                                                                             \
     }},
#define ON_WM_QUERYDRAGICON()                                                                                  \
    {WM_QUERYDRAGICON, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(t)->OnQueryDragIcon());                      \
     }},
// Every WM_CTLCOLOR... message reaches this one entry; the kind of request (CTLCOLOR_STATIC, ...)
// comes from the message being handled.
#define ON_WM_CTLCOLOR()                                                                                       \
    {WM_CTLCOLOR, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {                                 \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(t)->OnCtlColor(                               \
             CDC::FromHandle(reinterpret_cast<HDC>(w)), CWnd::FromHandle(reinterpret_cast<HWND>(l)),            \
             CWnd::GetCurrentCtlColorType()));                                                                 \
     }},

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd() = default;
    ~CWnd() override;

    CWndHandle m_hWnd;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The CWnd attached to hWnd, or a temporary one that lives until the current message is handled.
    static CWnd* PASCAL FromHandle(HWND hWnd);
    static CWnd* PASCAL FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    // Attaches and routes the window's messages through this object's message map.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();
    virtual BOOL DestroyWindow();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    int GetDlgCtrlID() const;
    CWnd* GetDlgItem(int nID) const;
    void GetClientRect(LPRECT lpRect) const;
    BOOL IsIconic() const;
    BOOL IsWindowVisible() const;
    BOOL ShowWindow(int nCmdShow);
    void SetWindowText(LPCWSTR lpszString);
    void GetWindowText(CString& rString) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    void Invalidate(BOOL bErase = TRUE);

    // Moves data between the controls and the members (DoDataExchange); FALSE when the window
    // does not exist yet, and nothing is done then.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // The message being handled on this thread, as the window procedure received it.
    static const MSG* PASCAL GetCurrentMessage();
    static UINT PASCAL GetCurrentCtlColorType();

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void PostNcDestroy();
    // Passes the current message to the window's own procedure.
    LRESULT Default();

    afx_msg void OnPaint();
    afx_msg HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    afx_msg HCURSOR OnQueryDragIcon();

    WNDPROC m_pfnSuper = nullptr;

    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
CWnd* AfxGetMainWnd();

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    CDialog();
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the window from the template in the resources and runs it modally; the result
    // given to EndDialog, or -1 when the window cannot be created.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int nResult);

protected:
    LPCWSTR m_lpszTemplateName = nullptr;
    UINT m_nIDHelp = 0;
    CWnd* m_pParentWnd = nullptr;

    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    DECLARE_MESSAGE_MAP()
};

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Data exchange between a dialog's controls and its members.
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;

    // The control's window; a missing control is a fault of the program (CInvalidArgException).
    HWND PrepareCtrl(int nIDC);
};

// Binds the control to rControl (subclassing it) the first time.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

// GDI objects and device contexts.
class CGdiObject : public CObject {
public:
    CGdiObject() = default;
    ~CGdiObject() override;

    HGDIOBJ m_hObject = nullptr;
    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ hObject);
    HGDIOBJ Detach();
    BOOL DeleteObject();
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF crColor);
    BOOL CreateSolidBrush(COLORREF crColor);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CDC : public CObject {
public:
    CDC() = default;
    ~CDC() override;

    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    // A temporary CDC for hDC, which it does not delete; it lives until the current message is handled.
    static CDC* PASCAL FromHandle(HDC hDC);
    BOOL Attach(HDC hDC);
    HDC Detach();
    BOOL DeleteDC();

    int SetBkMode(int nBkMode);
    COLORREF SetBkColor(COLORREF crColor);
    COLORREF SetTextColor(COLORREF crColor);
    BOOL DrawIcon(int x, int y, HICON hIcon);
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps;

protected:
    HWND m_hWnd;
};
