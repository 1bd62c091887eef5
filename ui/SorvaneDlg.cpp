#include "stdafx.h"

#include "SorvaneDlg.h"

#include "DownloadFolder.h"
#include "JobMonitor.h"
#include "JobStore.h"
#include "Setup.h"

BEGIN_MESSAGE_MAP(CSorvaneDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_CTLCOLOR()
    ON_BN_CLICKED(IDCANCEL, &CSorvaneDlg::OnCancelButton)
    ON_MESSAGE(WM_JOB_POLL, &CSorvaneDlg::OnJobPoll)
END_MESSAGE_MAP()

// Takes this run's road before any window exists: follow the remembered job, start the unpacked
// setup program, unpack the downloaded archive, or start a new download.
CSorvaneDlg::CSorvaneDlg()
    : CDialog(IDD_MAIN_DIALOG, NULL), m_pManager(NULL), m_pPollThread(NULL), m_pJob(NULL), m_bProceed(true),
      m_hIcon(LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_APP_ICON)))
{
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    CoCreateInstance(CLSID_BackgroundCopyManager, NULL, CLSCTX_LOCAL_SERVER, IID_IBackgroundCopyManager,
                     reinterpret_cast<void**>(&m_pManager));
    m_strJobName.LoadString(IDS_PRODUCT_NAME);

    m_pJob = FindPersistedJob(m_strJobName, this);
    if (m_pJob != NULL) {
        HandleJobState(this);
        return;
    }
    if (IsSetupPresent()) {
        LaunchSetup();
        m_bProceed = false;
        return;
    }
    if (IsArchivePresent()) {
        if (ExtractArchive())
            LaunchSetup();
        else
            AfxMessageBox(IDS_EXTRACT_FAILED, MB_ICONERROR);
        m_bProceed = false;
        return;
    }

    CString strArchiveName;
    CString strUrl;
    strArchiveName.LoadString(IDS_ARCHIVE_NAME);
    strUrl.LoadString(IDS_DOWNLOAD_URL);
    WCHAR szArchivePath[MAX_PATH];
    if (!MakeDownloadPath(strArchiveName, szArchivePath)) {
        AfxMessageBox(IDS_DIR_FAILED, MB_ICONERROR);
        m_bProceed = false;
        return;
    }
    m_pJob = CreateDownloadJob(m_strJobName, strUrl, szArchivePath, this);
    if (m_pJob == NULL) {
        AfxMessageBox(IDS_JOB_CREATE_FAILED, MB_ICONERROR);
        m_bProceed = false;
        return;
    }
    HandleJobState(this);
}

CSorvaneDlg::~CSorvaneDlg()
{
    if (m_pPollThread != NULL) {
        // The thread ends before the dialog goes; its object was kept for the wait.
        EndJobPolling(this);
        delete m_pPollThread;
    }
    if (m_pJob != NULL)
        m_pJob->Release();
    if (m_pManager != NULL)
        m_pManager->Release();
    CoUninitialize();
}

void CSorvaneDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

BOOL CSorvaneDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_bProceed) {
        EndDialog(0);
        return TRUE;
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_brWhite.CreateSolidBrush(RGB(255, 255, 255));
    m_progress.SetRange(0, 1000);

    m_pPollThread = AfxBeginThread(JobPollThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, NULL);
    if (m_pPollThread == NULL) {
        // Nothing could follow the job: it is kept, suspended, for the next run, which resumes it.
        AfxMessageBox(IDS_SERVICE_ERROR, MB_ICONERROR);
        if (m_pJob != NULL)
            m_pJob->Suspend();
        EndDialog(IDCANCEL);
        return TRUE;
    }
    // The dialog waits for the thread's end and frees the object itself.
    m_pPollThread->m_bAutoDelete = FALSE;
    g_pDownloadDlg = this;
    m_pPollThread->ResumeThread();
    return TRUE;
}

// The band and the label (IDC_STATIC) lie on white; every other control keeps the system's colours.
HBRUSH CSorvaneDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    HBRUSH hbr = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    if (pWnd->GetDlgCtrlID() != IDC_STATIC)
        return hbr;
    pDC->SetBkMode(OPAQUE);
    pDC->SetBkColor(RGB(255, 255, 255));
    return m_brWhite;
}

void CSorvaneDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CSorvaneDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

// The Cancel button, Esc and the close button: asks whether to continue later while there is a job.
void CSorvaneDlg::OnCancelButton()
{
    if (m_pJob != NULL) {
        if (AfxMessageBox(IDS_ASK_CONTINUE_LATER, MB_YESNO | MB_ICONQUESTION) == IDYES)
            m_pJob->Suspend();
        else
            m_pJob->Cancel();
    }
    // No poll comes after the answer.
    EndJobPolling(this);
    OnCancel();
}

LRESULT CSorvaneDlg::OnJobPoll(WPARAM, LPARAM)
{
    HandleJobState(this);
    return 0;
}
