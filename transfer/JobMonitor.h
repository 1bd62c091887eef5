// Following the download job: the poll thread and the job-state handler.
#pragma once

#include "stdafx.h"

class CSorvaneDlg;

#define WM_JOB_POLL (WM_USER + 101)

UINT JobPollThreadProc(LPVOID pParam);
void HandleJobState(CSorvaneDlg* pDlg);
void UpdateProgress(CSorvaneDlg* pDlg);
