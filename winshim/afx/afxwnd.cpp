#include "afxwin.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Per thread: the messages being handled (nested), and the temporary CWnd and CDC objects that
// FromHandle made for them; those are freed when the outermost message has been handled.
struct AfxThreadState {
    std::vector<MSG> messages;
    std::map<HWND, std::unique_ptr<CWnd>> tempWnds;
    std::map<HDC, std::unique_ptr<CDC>> tempDCs;

    ~AfxThreadState() { FreeTemporaries(); }

    void FreeTemporaries()
    {
        for (auto& [hwnd, wnd] : tempWnds)
            wnd->m_hWnd = nullptr;
        for (auto& [hdc, dc] : tempDCs)
            dc->Detach();
        tempWnds.clear();
        tempDCs.clear();
    }
};

thread_local AfxThreadState t_state;

class MessageScope {
public:
    MessageScope(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        t_state.messages.push_back({hwnd, message, wParam, lParam, 0, {0, 0}});
    }
    ~MessageScope()
    {
        t_state.messages.pop_back();
        if (t_state.messages.empty())
            t_state.FreeTemporaries();
    }
    MessageScope(const MessageScope&) = delete;
    MessageScope& operator=(const MessageScope&) = delete;
};

std::mutex g_permanentMutex;
std::map<HWND, CWnd*> g_permanent;

} // namespace

// CWnd

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd()
{
    if (HWND hwnd = m_hWnd; hwnd && FromHandlePermanent(hwnd) == this) {
        // The object goes first, so that the window's last messages reach no half-destroyed object.
        if (m_pfnSuper)
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        Detach();
        ::DestroyWindow(hwnd);
    }
}

CWnd* PASCAL CWnd::FromHandlePermanent(HWND hWnd)
{
    std::lock_guard lock(g_permanentMutex);
    auto it = g_permanent.find(hWnd);
    return it == g_permanent.end() ? nullptr : it->second;
}

CWnd* PASCAL CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    if (CWnd* permanent = FromHandlePermanent(hWnd))
        return permanent;
    std::unique_ptr<CWnd>& temp = t_state.tempWnds[hWnd];
    if (!temp) {
        temp = std::make_unique<CWnd>();
        temp->m_hWnd = hWnd;
    }
    return temp.get();
}

CDC* PASCAL CDC::FromHandle(HDC hDC)
{
    if (!hDC)
        return nullptr;
    std::unique_ptr<CDC>& temp = t_state.tempDCs[hDC];
    if (!temp) {
        temp = std::make_unique<CDC>();
        temp->Attach(hDC);
    }
    return temp.get();
}

BOOL CWnd::Attach(HWND hWndNew)
{
    if (!hWndNew || m_hWnd)
        return FALSE;
    std::lock_guard lock(g_permanentMutex);
    if (!g_permanent.emplace(hWndNew, this).second)
        return FALSE;
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hwnd = m_hWnd;
    if (hwnd) {
        std::lock_guard lock(g_permanentMutex);
        g_permanent.erase(hwnd);
    }
    m_hWnd = nullptr;
    return hwnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!::IsWindow(hWnd) || !Attach(hWnd))
        return FALSE;
    m_pfnSuper = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    return pParent ? SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID))) : FALSE;
}

HWND CWnd::UnsubclassWindow()
{
    if (m_pfnSuper)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

int CWnd::GetDlgCtrlID() const
{
    return ::GetDlgCtrlID(m_hWnd);
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

void CWnd::GetClientRect(LPRECT lpRect) const
{
    ::GetClientRect(m_hWnd, lpRect);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}

void CWnd::SetWindowText(LPCWSTR lpszString)
{
    ::SetWindowTextW(m_hWnd, lpszString);
}

void CWnd::GetWindowText(CString& rString) const
{
    int length = ::GetWindowTextLengthW(m_hWnd);
    LPWSTR buffer = rString.GetBuffer(length + 1);
    ::GetWindowTextW(m_hWnd, buffer, length + 1);
    rString.ReleaseBuffer();
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

void CWnd::Invalidate(BOOL bErase)
{
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*)
{
}

const MSG* PASCAL CWnd::GetCurrentMessage()
{
    return t_state.messages.empty() ? nullptr : &t_state.messages.back();
}

UINT PASCAL CWnd::GetCurrentCtlColorType()
{
    const MSG* msg = GetCurrentMessage();
    if (msg && msg->message >= WM_CTLCOLORMSGBOX && msg->message <= WM_CTLCOLORSTATIC)
        return msg->message - WM_CTLCOLORMSGBOX;
    return CTLCOLOR_MSGBOX;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    // The control-colour messages all go to the one WM_CTLCOLOR entry.
    UINT entry = message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC ? WM_CTLCOLOR : message;
    LRESULT result = 0;
    if (!DispatchMessageMap(entry, wParam, lParam, &result))
        return FALSE;
    if (pResult)
        *pResult = result;
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

void CWnd::PostNcDestroy()
{
}

LRESULT CWnd::Default()
{
    const MSG* msg = GetCurrentMessage();
    return msg ? DefWindowProc(msg->message, msg->wParam, msg->lParam) : 0;
}

void CWnd::OnPaint()
{
    Default();
}

HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT)
{
    return reinterpret_cast<HBRUSH>(Default());
}

HCURSOR CWnd::OnQueryDragIcon()
{
    return reinterpret_cast<HCURSOR>(Default());
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd)
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    MessageScope scope(hWnd, nMsg, wParam, lParam);
    LRESULT result = wnd->WindowProc(nMsg, wParam, lParam);
    if (nMsg == WM_NCDESTROY && CWnd::FromHandlePermanent(hWnd) == wnd) {
        // The window is gone: the object lets go of it.
        wnd->UnsubclassWindow();
        wnd->PostNcDestroy();
    }
    return result;
}

CWnd* AfxGetMainWnd()
{
    CWinApp* app = AfxGetApp();
    return app ? app->m_pMainWnd : nullptr;
}

// CDialog

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog() = default;

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd)
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    HINSTANCE instance = AfxGetResourceHandle();
    HRSRC info = ::FindResourceW(instance, m_lpszTemplateName, RT_DIALOG);
    const void* dialogTemplate = ::LockResource(::LoadResource(instance, info));
    if (!dialogTemplate)
        return -1;
    HWND parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    return ::DialogBoxIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(dialogTemplate), parent, AfxDlgProc,
                                     reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Every other message reaches the dialog's message map through AfxWndProc.
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
    if (!dialog->SubclassWindow(hWnd))
        return FALSE;
    MessageScope scope(hWnd, message, wParam, lParam);
    return dialog->OnInitDialog();
}

// Data exchange

HWND CDataExchange::PrepareCtrl(int nIDC)
{
    HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC);
    if (!control)
        AfxThrowInvalidArgException();
    return control;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd)
        return;
    if (!rControl.SubclassWindow(pDX->PrepareCtrl(nIDC)))
        AfxThrowInvalidArgException();
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND control = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        CWnd::FromHandle(control)->GetWindowText(value);
        return;
    }
    // Only a changed text is set, so that the control does not flicker.
    CString current;
    CWnd::FromHandle(control)->GetWindowText(current);
    if (!(current == value))
        ::SetWindowTextW(control, value);
}
