#include "stdafx.h"

#include "JobStore.h"
#include "RegistryKey.h"
#include "SorvaneDlg.h"

namespace {

const ULONG kMinimumRetryDelaySeconds = 3600;

// Holds one job reference and releases it on every way out, unless Detach hands it on.
class CJobReference {
public:
    CJobReference() : m_pJob(NULL) {}
    ~CJobReference()
    {
        if (m_pJob != NULL)
            m_pJob->Release();
    }
    CJobReference(const CJobReference&) = delete;
    CJobReference& operator=(const CJobReference&) = delete;

    IBackgroundCopyJob** operator&() { return &m_pJob; }
    IBackgroundCopyJob* operator->() const { return m_pJob; }
    bool IsNull() const { return m_pJob == NULL; }
    IBackgroundCopyJob* Detach()
    {
        IBackgroundCopyJob* pJob = m_pJob;
        m_pJob = NULL;
        return pJob;
    }

private:
    IBackgroundCopyJob* m_pJob;
};

// A text from StringFromIID, freed on every way out.
class CTaskText {
public:
    CTaskText() : m_psz(NULL) {}
    ~CTaskText() { CoTaskMemFree(m_psz); }
    CTaskText(const CTaskText&) = delete;
    CTaskText& operator=(const CTaskText&) = delete;

    LPOLESTR* operator&() { return &m_psz; }
    operator LPCOLESTR() const { return m_psz; }

private:
    LPOLESTR m_psz;
};

// Writes the job's GUID under the job name. An unwritable settings key is skipped silently;
// a failed write raises CRegistryException.
void RememberJob(LPCWSTR pszJobName, REFGUID jobId)
{
    CTaskText strId;
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
    CJobReference job;
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
