#include "ComHolders.h"
#include "DownloadFolder.h"

#include <stdlib.h>

#include <objbase.h>
#include <shlobj.h>

namespace {

typedef HRESULT(WINAPI* PFN_SHGETKNOWNFOLDERPATH)(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken,
                                                  PWSTR* ppszPath);

// The shell library: the loaded one, or loaded here and then released on leaving the scope.
class CShellLibrary {
public:
    CShellLibrary() : m_hModule(GetModuleHandleW(_T("shell32.dll"))), m_bLoadedHere(false)
    {
        if (!m_hModule) {
            m_hModule = LoadLibraryW(_T("shell32.dll"));
            m_bLoadedHere = m_hModule != NULL;
        }
    }
    ~CShellLibrary()
    {
        if (m_bLoadedHere)
            FreeLibrary(m_hModule);
    }
    CShellLibrary(const CShellLibrary&) = delete;
    CShellLibrary& operator=(const CShellLibrary&) = delete;

    HMODULE Handle() const { return m_hModule; }

private:
    HMODULE m_hModule;
    bool m_bLoadedHere;
};

enum class KnownFolderResult { Found, Failed, Unavailable };

// The Downloads known folder into pszFolder (MAX_PATH characters). Unavailable when the system
// lacks the shell's known folders or the call failed without a result, so that the documents
// folder serves instead.
KnownFolderResult GetKnownDownloadsFolder(LPWSTR pszFolder)
{
    CShellLibrary shell;
    if (!shell.Handle())
        return KnownFolderResult::Unavailable;
    // GetProcAddress gives every entry point as a FARPROC; the detour through void (*)() says
    // that the change of type is meant.
    PFN_SHGETKNOWNFOLDERPATH pfnGetKnownFolderPath = reinterpret_cast<PFN_SHGETKNOWNFOLDERPATH>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell.Handle(), "SHGetKnownFolderPath")));
    if (!pfnGetKnownFolderPath)
        return KnownFolderResult::Unavailable;

    CTaskMemText path;
    HRESULT hr = pfnGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_CREATE, NULL, &path);
    if (FAILED(hr))
        return path.Get() ? KnownFolderResult::Failed : KnownFolderResult::Unavailable;
    // A path that does not fit is not cut off: the folder is then not found at all.
    if (lstrlenW(path.Get()) >= MAX_PATH) {
        pszFolder[0] = 0;
        return KnownFolderResult::Failed;
    }
    lstrcpynW(pszFolder, path.Get(), MAX_PATH);
    return KnownFolderResult::Found;
}

// The folder "Downloads" below the documents folder, created when missing.
bool GetDocumentsDownloadsFolder(LPWSTR pszFolder)
{
    WCHAR szDocuments[MAX_PATH];
    if (!SHGetSpecialFolderPathW(NULL, szDocuments, CSIDL_PERSONAL, TRUE))
        return false;
    if (_wmakepath_s(pszFolder, MAX_PATH, NULL, szDocuments, _T("Downloads\\"), NULL) != 0)
        return false;
    return CreateDirectoryW(pszFolder, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

bool GetDownloadFolder(LPWSTR pszFolder)
{
    if (!pszFolder)
        return false;
    if (LOBYTE(GetVersion()) >= 6) {
        switch (GetKnownDownloadsFolder(pszFolder)) {
        case KnownFolderResult::Found:
            return true;
        case KnownFolderResult::Failed:
            return false;
        case KnownFolderResult::Unavailable:
            break;
        }
    }
    return GetDocumentsDownloadsFolder(pszFolder);
}

bool MakeDownloadPath(LPCWSTR pszRelativePath, LPWSTR pszPath)
{
    if (!pszRelativePath || !pszPath)
        return false;
    WCHAR szFolder[MAX_PATH];
    if (!GetDownloadFolder(szFolder))
        return false;
    return _wmakepath_s(pszPath, MAX_PATH, NULL, szFolder, pszRelativePath, NULL) == 0;
}

bool GetFileFolder(LPCWSTR pszPath, LPWSTR pszFolder)
{
    if (!pszPath || !pszFolder)
        return false;
    WCHAR szDrive[_MAX_DRIVE];
    WCHAR szDirectory[_MAX_DIR];
    if (_wsplitpath_s(pszPath, szDrive, _MAX_DRIVE, szDirectory, _MAX_DIR, NULL, 0, NULL, 0) != 0)
        return false;
    // The output holds _MAX_DIR characters, as a folder part does.
    return _wmakepath_s(pszFolder, _MAX_DIR, szDrive, szDirectory, NULL, NULL) == 0;
}
