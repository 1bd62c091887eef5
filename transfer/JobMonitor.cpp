#include "stdafx.h"

#include <shlwapi.h>

#include "ComHolders.h"
#include "JobMonitor.h"
#include "Setup.h"
#include "SorvaneDlg.h"

std::atomic<CSorvaneDlg*> g_pDownloadDlg(NULL);
std::atomic<bool> g_bHandlingJob(false);
DWORD g_dwJobPollInterval = 1000;

static_assert(sizeof(std::atomic<bool>) == 1 && std::atomic<bool>::is_always_lock_free);

namespace {

const DWORD kEnglishUnitedStates = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

typedef CInterfacePtr<IBackgroundCopyError> CErrorPtr;

// Wakes the poll thread for its next turn before its interval is over.
HANDLE PollWakeEvent()
{
    static const HANDLE hEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    return hEvent;
}

// The job's error object, or NULL when the service has none.
CErrorPtr GetJobError(IBackgroundCopyJob* pJob)
{
    CErrorPtr error;
    if (FAILED(pJob->GetError(&error)))
        return CErrorPtr();
    return error;
}

// The error's description as the service words it for English (United States).
bool GetErrorDescription(IBackgroundCopyError* pError, CString& strDescription)
{
    CTaskMemText description;
    if (FAILED(pError->GetErrorDescription(kEnglishUnitedStates, &description)) || description.Get() == NULL)
        return false;
    strDescription = description;
    return true;
}

// The error's description, or the program's own message when the service gives none.
void ShowJobError(IBackgroundCopyError* pError)
{
    CString strDescription;
    if (pError != NULL && GetErrorDescription(pError, strDescription))
        AfxMessageBox(strDescription, MB_ICONERROR);
    else
        AfxMessageBox(IDS_SERVICE_ERROR, MB_ICONERROR);
}

// Ends the dialog, and with it the polls; before its window exists, the window is then never shown.
void EndDownloadDialog(CSorvaneDlg* pDlg)
{
    if (pDlg->GetSafeHwnd() == NULL) {
        pDlg->m_bProceed = false;
        return;
    }
    EndJobPolling(pDlg);
    pDlg->CDialog::OnCancel();
}

void ResumeSuspendedJob(CSorvaneDlg* pDlg)
{
    HRESULT hr = pDlg->m_pJob->Resume();
    if (SUCCEEDED(hr))
        return;
    if (hr == BG_E_EMPTY) {
        AfxMessageBox(_T("There are no files to transfer."), MB_ICONERROR);
    } else if (hr == BG_E_INVALID_STATE) {
        AfxMessageBox(_T("The state of the job cannot be BG_JOB_STATE_CANCELLED or BG_JOB_STATE_ACKNOWLEDGED."),
                      MB_ICONERROR);
    } else if (CErrorPtr error = GetJobError(pDlg->m_pJob)) {
        ShowJobError(error.Get());
    }
}

// Returns true: the dialog has ended.
bool HandleJobError(CSorvaneDlg* pDlg)
{
    ShowJobError(GetJobError(pDlg->m_pJob).Get());
    pDlg->m_pJob->Cancel();
    EndDownloadDialog(pDlg);
    return true;
}

// Offers Retry or Cancel; returns true when the user cancelled and the dialog has ended.
bool HandleTransientError(CSorvaneDlg* pDlg)
{
    CErrorPtr error = GetJobError(pDlg->m_pJob);
    BG_ERROR_CONTEXT context;
    HRESULT hrCode;
    int nAnswer = 0;
    if (!error || FAILED(error->GetError(&context, &hrCode))) {
        AfxMessageBox(IDS_SERVICE_ERROR, MB_ICONERROR);
    } else if (context == BG_ERROR_CONTEXT_GENERAL_TRANSPORT) {
        nAnswer = AfxMessageBox(IDS_NO_CONNECTION, MB_RETRYCANCEL | MB_ICONEXCLAMATION);
    } else {
        CString strDescription;
        if (GetErrorDescription(error.Get(), strDescription))
            nAnswer = AfxMessageBox(strDescription, MB_RETRYCANCEL | MB_ICONERROR);
    }
    if (nAnswer == IDCANCEL) {
        pDlg->m_pJob->Cancel();
        EndDownloadDialog(pDlg);
        return true;
    }
    pDlg->m_pJob->Resume();
    return false;
}

// Completes the job, unpacks the archive and starts the setup program; returns true when the
// dialog has ended (the job could be completed).
bool FinishDownload(CSorvaneDlg* pDlg)
{
    if (FAILED(pDlg->m_pJob->Complete()))
        return false;
    pDlg->m_strStatus.LoadString(IDS_EXTRACTING);
    pDlg->UpdateData(FALSE);
    if (IsSetupPresent())
        LaunchSetup();
    else if (ExtractArchive())
        LaunchSetup();
    else
        AfxMessageBox(IDS_EXTRACT_FAILED, MB_ICONERROR);
    EndDownloadDialog(pDlg);
    return true;
}

} // namespace

UINT JobPollThreadProc(LPVOID)
{
    for (;;) {
        CSorvaneDlg* pDlg = g_pDownloadDlg;
        if (pDlg == NULL)
            return 0;
        if (!g_bHandlingJob)
            PostMessageW(pDlg->GetSafeHwnd(), WM_JOB_POLL, 0, 0);
        WaitForSingleObject(PollWakeEvent(), g_dwJobPollInterval);
    }
}

void EndJobPolling(CSorvaneDlg* pDlg)
{
    if (pDlg->m_pPollThread == NULL)
        return;
    g_pDownloadDlg = NULL;
    SetEvent(PollWakeEvent());
    WaitForSingleObject(pDlg->m_pPollThread->m_hThread, INFINITE);
    ResetEvent(PollWakeEvent());
}

void HandleJobState(CSorvaneDlg* pDlg)
{
    g_bHandlingJob = true;
    if (pDlg->m_pJob == NULL)
        return;
    BG_JOB_STATE state;
    if (FAILED(pDlg->m_pJob->GetState(&state))) {
        g_bHandlingJob = false;
        return;
    }
    bool bEnded = false;
    switch (state) {
    case BG_JOB_STATE_TRANSFERRING:
        UpdateProgress(pDlg);
        break;
    case BG_JOB_STATE_SUSPENDED:
        ResumeSuspendedJob(pDlg);
        break;
    case BG_JOB_STATE_ERROR:
        bEnded = HandleJobError(pDlg);
        break;
    case BG_JOB_STATE_TRANSIENT_ERROR:
        bEnded = HandleTransientError(pDlg);
        break;
    case BG_JOB_STATE_TRANSFERRED:
        bEnded = FinishDownload(pDlg);
        break;
    default:
        break;
    }
    // A dialog that has ended keeps the flag, so that no poll follows.
    if (!bEnded)
        g_bHandlingJob = false;
}

void UpdateProgress(CSorvaneDlg* pDlg)
{
    if (pDlg->m_pJob == NULL)
        return;
    // Without the sizes, or before the service knows the total, the bar and the status line stay.
    BG_JOB_PROGRESS progress;
    if (FAILED(pDlg->m_pJob->GetProgress(&progress)) || progress.BytesTotal == BG_SIZE_UNKNOWN)
        return;
    if (progress.BytesTotal != 0) {
        UINT64 nPos = progress.BytesTransferred * 1000 / progress.BytesTotal;
        pDlg->m_progress.SetPos(static_cast<int>(nPos));
    }
    WCHAR szTransferred[256];
    WCHAR szTotal[256];
    StrFormatByteSizeW(static_cast<LONGLONG>(progress.BytesTransferred), szTransferred, 256);
    StrFormatByteSizeW(static_cast<LONGLONG>(progress.BytesTotal), szTotal, 256);
    pDlg->m_strStatus.Format(IDS_DOWNLOADED_OF, szTransferred, szTotal);
    pDlg->UpdateData(FALSE);
}
