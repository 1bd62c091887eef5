// The afx window classes over the dialog manager: DoModal, data exchange, message maps with the
// control-colour entry, and what the window operations do before the window exists.
#include <afxwin.h>
#include <afxcmn.h>
#include <winshim_ext.h>

#include <functional>

#include <gtest/gtest.h>

#include "WinshimUi.h"

namespace {

using namespace sorvane_test;

const int kIdcProgress = 1000;
const int kIdcStatus = 1001;

class CTestDialog : public CDialog {
public:
    CTestDialog() : CDialog(102) {}

    CProgressCtrl m_progress;
    CString m_strStatus;
    CBrush m_brWhite;
    std::function<void(CTestDialog&)> whileShown;

    struct ColorRequest {
        int id;
        UINT kind;
    };
    std::vector<ColorRequest> colorRequests;

    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) { return SendMessage(message, wParam, lParam); }

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, kIdcProgress, m_progress);
        DDX_Text(pDX, kIdcStatus, m_strStatus);
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_brWhite.CreateSolidBrush(RGB(255, 255, 255));
        WhenIdle([this] { whileShown(*this); });
        return TRUE;
    }

    afx_msg HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
    {
        colorRequests.push_back({pWnd->GetDlgCtrlID(), nCtlColor});
        HBRUSH base = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
        return pWnd->GetDlgCtrlID() == IDC_STATIC ? static_cast<HBRUSH>(m_brWhite) : base;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDialog, CDialog)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

class AfxWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        AfxSetResourceHandle(WinshimLoadResourceFile(PROGRAM_RES));
        INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&init);
    }
};

TEST_F(AfxWindowTest, DataExchangeBindsTheControlsBothWays)
{
    CTestDialog dlg;
    dlg.m_strStatus = u"before the window";
    EXPECT_FALSE(dlg.UpdateData(FALSE)) << "no window yet: nothing to exchange";
    EXPECT_EQ(CString(u"before the window"), dlg.m_strStatus);

    HWND progress = nullptr;
    std::u16string shown;
    dlg.whileShown = [&](CTestDialog& d) {
        progress = ::GetDlgItem(d.m_hWnd, kIdcProgress);
        shown = WindowText(::GetDlgItem(d.m_hWnd, kIdcStatus));
        d.m_progress.SetRange(0, 1000);
        d.m_progress.SetPos(250);
        ::SetWindowTextW(::GetDlgItem(d.m_hWnd, kIdcStatus), u"typed");
        d.UpdateData(TRUE);
        d.EndDialog(9);
    };
    EXPECT_EQ(9, dlg.DoModal());
    EXPECT_EQ(std::u16string(u"before the window"), shown) << "OnInitDialog shows the members";
    EXPECT_NE(nullptr, progress);
    EXPECT_EQ(CString(u"typed"), dlg.m_strStatus);
    EXPECT_EQ(nullptr, static_cast<HWND>(dlg.m_hWnd)) << "the window is gone with the dialog's end";
    EXPECT_EQ(nullptr, static_cast<HWND>(dlg.m_progress.m_hWnd));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(progress));
}

TEST_F(AfxWindowTest, ControlColoursReachOnCtlColorWithTheirKind)
{
    CTestDialog dlg;
    LRESULT buttonBrush = 0, staticBrush = 0, statusBrush = 0;
    dlg.whileShown = [&](CTestDialog& d) {
        HDC dc = ::GetDC(d.m_hWnd);
        HWND button = ::GetDlgItem(d.m_hWnd, IDCANCEL);
        HWND band = ::GetWindow(button, GW_HWNDNEXT);
        buttonBrush = d.Send(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(button));
        staticBrush = d.Send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(band));
        // A static asks its parent as it paints.
        d.colorRequests.clear();
        ::SendMessageW(::GetDlgItem(d.m_hWnd, kIdcStatus), WM_PAINT, 0, 0);
        statusBrush = d.colorRequests.empty() ? 0 : 1;
        ::ReleaseDC(d.m_hWnd, dc);
        d.EndDialog(IDOK);
    };
    dlg.DoModal();
    EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_3DFACE)), buttonBrush) << "the base class's brush";
    EXPECT_EQ(reinterpret_cast<LRESULT>(static_cast<HBRUSH>(dlg.m_brWhite)), staticBrush);
    ASSERT_EQ(1u, dlg.colorRequests.size());
    EXPECT_EQ(kIdcStatus, dlg.colorRequests[0].id);
    EXPECT_EQ(static_cast<UINT>(CTLCOLOR_STATIC), dlg.colorRequests[0].kind);
    EXPECT_EQ(1, statusBrush);
}

TEST_F(AfxWindowTest, CancelCommandEndsTheDialogThroughOnCancel)
{
    CTestDialog dlg;
    dlg.whileShown = [](CTestDialog& d) { ::PostMessageW(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); };
    EXPECT_EQ(IDCANCEL, dlg.DoModal()) << "the close button is Cancel, and CDialog's Cancel ends with IDCANCEL";
}

TEST_F(AfxWindowTest, WindowOperationsBeforeTheWindowDoNothing)
{
    CTestDialog dlg;
    dlg.EndDialog(IDCANCEL);
    EXPECT_EQ(0, dlg.m_progress.SetPos(5));
    EXPECT_EQ(nullptr, static_cast<HWND>(dlg.m_hWnd));
}

TEST_F(AfxWindowTest, MissingTemplateGivesMinusOne)
{
    class CNoTemplate : public CDialog {
    public:
        CNoTemplate() : CDialog(4242) {}
    } dlg;
    EXPECT_EQ(-1, dlg.DoModal());
}

} // namespace
