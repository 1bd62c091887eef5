#include "stdafx.h"

#include "ComHolders.h"
#include "JobStore.h"
#include "RegistryKey.h"
#include "SorvaneDlg.h"

namespace {

const ULONG kMinimumRetryDelaySeconds = 3600;

// Writes the job's GUID under the job name. An unwritable settings key is skipped silently;
// a failed write raises CRegistryException.
void RememberJob(LPCWSTR pszJobName, REFGUID jobId)
{
    CTaskMemText strId;
    if (FAILED(StringFromIID(jobId, &strId)))
        return; // out of memory: the job runs, but nothing remembers it

    CRegistryKey key;
    if (!key.OpenForWrite())
        return;
    DWORD cbData = static_cast<DWORD>((lstrlenW(strId) + 1) * sizeof(WCHAR));
    LSTATUS lStatus = RegSetValueExW(key.m_hKey, pszJobName, 0, REG_SZ, reinterpret_cast<const BYTE*>(
                                                                           static_cast<LPCOLESTR>(strId)),
                                     cbData);
    if (lStatus != ERROR_SUCCESS)
        ThrowRegistryException(lStatus);
}

} // namespace

IBackgroundCopyJob* FindPersistedJob(LPCWSTR pszJobName, IBackgroundCopyManager* pManager)
{
    if (pManager == NULL)
        return NULL;

    CRegistryKey key;
    if (!key.OpenForRead())
        return NULL;
    CString strId;
    if (!key.QueryString(pszJobName, strId))
        return NULL;
    GUID jobId;
    if (FAILED(IIDFromString(strId, &jobId)))
        return NULL;

    // A job that the service no longer has leaves the pointer NULL.
    IBackgroundCopyJob* pJob = NULL;
    pManager->GetJob(jobId, &pJob);
    return pJob;
}

IBackgroundCopyJob* CreateDownloadJob(LPCWSTR pszJobName, LPCWSTR pszUrl, LPCWSTR pszLocalPath,
                                      IBackgroundCopyManager* pManager)
{
    if (pManager == NULL)
        return NULL;

    GUID jobId;
    CInterfacePtr<IBackgroundCopyJob> job;
    if (FAILED(pManager->CreateJob(pszJobName, BG_JOB_TYPE_DOWNLOAD, &jobId, &job)) || job.IsNull())
        return NULL;

    // The transfer is queued by Resume before the retry delay is set. A job that fails here stays
    // in the service's queue, and nothing remembers it.
    if (FAILED(job->AddFile(pszUrl, pszLocalPath)) || FAILED(job->Resume()) ||
        FAILED(job->SetMinimumRetryDelay(kMinimumRetryDelaySeconds)))
        return NULL;

    RememberJob(pszJobName, jobId);
    return job.Detach();
}

IBackgroundCopyJob* FindPersistedJob(LPCWSTR pszJobName, CSorvaneDlg* pDlg)
{
    return FindPersistedJob(pszJobName, pDlg->m_pManager);
}

IBackgroundCopyJob* CreateDownloadJob(LPCWSTR pszJobName, LPCWSTR pszUrl, LPCWSTR pszLocalPath, CSorvaneDlg* pDlg)
{
    return CreateDownloadJob(pszJobName, pszUrl, pszLocalPath, pDlg->m_pManager);
}
