// Following the download job: the poll thread and the job-state handler.
#pragma once

#include <atomic>

#include "stdafx.h"

class CSorvaneDlg;

#define WM_JOB_POLL (WM_USER + 101)

// Shared by the window thread and the poll thread, hence atomic: the dialog that the poll
// thread posts to (NULL ends the thread), and whether the job-state handler holds back the polls.
extern std::atomic<CSorvaneDlg*> g_pDownloadDlg;
extern std::atomic<bool> g_bHandlingJob;
// Milliseconds between two polls (1000).
extern DWORD g_dwJobPollInterval;

UINT JobPollThreadProc(LPVOID pParam);
void HandleJobState(CSorvaneDlg* pDlg);
void UpdateProgress(CSorvaneDlg* pDlg);

// Ends the dialog's poll thread, if it has one: its next turn comes at once and finds no dialog.
// Returns when the thread has ended; the thread object stays the dialog's to free.
void EndJobPolling(CSorvaneDlg* pDlg);
