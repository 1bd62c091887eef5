// The main dialog: the progress of the download, and the start-up decision taken before its
// window exists.
#pragma once

#include "stdafx.h"

class CSorvaneDlg : public CDialog {
public:
    CSorvaneDlg();
    ~CSorvaneDlg() override;

    enum { IDD = IDD_MAIN_DIALOG };

    // The start-up decision, the job store and the job monitor work on these members.
    CString m_strJobName;
    IBackgroundCopyManager* m_pManager;
    CWinThread* m_pPollThread;
    IBackgroundCopyJob* m_pJob;
    bool m_bProceed; // false: the window is not shown
    CBrush m_brWhite;
    CProgressCtrl m_progress;
    CString m_strStatus;
    HICON m_hIcon;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    afx_msg HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnCancelButton();
    afx_msg LRESULT OnJobPoll(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
