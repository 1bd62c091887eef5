#include "stdafx.h"

#include "Setup.h"

#include <stdlib.h>

#include <shellapi.h>

#include "DownloadFolder.h"
#include "resource.h"

namespace {

// A process handle that the shell handed over, closed on leaving the scope.
class CProcessHandle {
public:
    explicit CProcessHandle(HANDLE hProcess) : m_hProcess(hProcess) {}
    ~CProcessHandle()
    {
        if (m_hProcess)
            CloseHandle(m_hProcess);
    }
    CProcessHandle(const CProcessHandle&) = delete;
    CProcessHandle& operator=(const CProcessHandle&) = delete;

    HANDLE Get() const { return m_hProcess; }

private:
    HANDLE m_hProcess;
};

// A setup path of fewer than two characters means that the archive is itself the setup program.
bool IsSetupPathConfigured(const CString& strSetupPath)
{
    return strSetupPath.GetLength() >= 2;
}

// A file or a folder of that name in the download folder.
bool IsInDownloadFolder(LPCWSTR pszRelativePath)
{
    WCHAR szPath[MAX_PATH];
    if (!MakeDownloadPath(pszRelativePath, szPath))
        return false;
    return GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool RunProgram(LPCWSTR pszFile, LPCWSTR pszDirectory, bool bWait)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = pszFile;
    info.lpDirectory = pszDirectory;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info))
        return false;
    CProcessHandle process(info.hProcess);
    if (bWait)
        WaitForSingleObject(process.Get(), INFINITE);
    return true;
}

bool IsArchivePresent()
{
    CString strArchiveName;
    strArchiveName.LoadString(IDS_ARCHIVE_NAME);
    return IsInDownloadFolder(strArchiveName);
}

bool IsSetupPresent()
{
    CString strSetupPath;
    strSetupPath.LoadString(IDS_SETUP_PATH);
    if (!IsSetupPathConfigured(strSetupPath))
        return IsArchivePresent();
    return IsInDownloadFolder(strSetupPath);
}

bool ExtractArchive()
{
    CString strSetupPath;
    strSetupPath.LoadString(IDS_SETUP_PATH);
    if (!IsSetupPathConfigured(strSetupPath))
        return true;

    CString strArchiveName;
    strArchiveName.LoadString(IDS_ARCHIVE_NAME);
    WCHAR szArchive[MAX_PATH];
    if (!MakeDownloadPath(strArchiveName, szArchive))
        return false;
    WCHAR szFolder[MAX_PATH];
    if (!GetDownloadFolder(szFolder))
        return false;

    // Blocks until the archive's process has ended, however long it takes.
    if (!RunProgram(szArchive, szFolder, true))
        return false;
    // The archive's exit code says nothing: only the unpacked setup program counts.
    if (!IsSetupPresent())
        return false;
    // Even an archive that cannot be deleted has done its work; the next run finds the setup first.
    DeleteFileW(szArchive);
    return true;
}

bool LaunchSetup()
{
    CString strFile;
    strFile.LoadString(IDS_SETUP_PATH);
    if (!IsSetupPathConfigured(strFile))
        strFile.LoadString(IDS_ARCHIVE_NAME);

    WCHAR szPath[MAX_PATH];
    if (!MakeDownloadPath(strFile, szPath))
        return false;
    // The setup program runs in its own folder; without it, it is not started at all.
    WCHAR szFolder[_MAX_DIR];
    if (!GetFileFolder(szPath, szFolder))
        return false;
    return RunProgram(szPath, szFolder, false);
}
