// The download job that a run remembers for the next one.
#pragma once

#include "stdafx.h"

class CSorvaneDlg;

// The remembered job, or NULL; the caller owns the reference.
IBackgroundCopyJob* FindPersistedJob(LPCWSTR pszJobName, CSorvaneDlg* pDlg);
// A created and started job, remembered under pszJobName, or NULL; the caller owns the reference.
IBackgroundCopyJob* CreateDownloadJob(LPCWSTR pszJobName, LPCWSTR pszUrl, LPCWSTR pszLocalPath, CSorvaneDlg* pDlg);

// The same on a given transfer manager: with NULL, no job and the service is not called.
IBackgroundCopyJob* FindPersistedJob(LPCWSTR pszJobName, IBackgroundCopyManager* pManager);
IBackgroundCopyJob* CreateDownloadJob(LPCWSTR pszJobName, LPCWSTR pszUrl, LPCWSTR pszLocalPath,
                                      IBackgroundCopyManager* pManager);
