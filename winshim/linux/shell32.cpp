// shell32: the user's folders, and starting files through the shell.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "modules.h"
#include "process.h"
#include "text.h"
#include "unixfs.h"
#include "trace.h"

using namespace winshim;

extern "C" const KNOWNFOLDERID FOLDERID_Downloads = {
    0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};

namespace {

// The user's folders are read anew on every call: nothing is cached, so a changed HOME or
// user-dirs.dirs is seen at once.

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (passwd* entry = getpwuid(getuid()))
        return entry->pw_dir;
    return "/";
}

std::string ConfigFolder()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return config;
    return HomeFolder() + "/.config";
}

// A value of user-dirs.dirs as the shell reads it: "..." with backslash escapes.
std::string Unquote(std::string_view value)
{
    std::string text;
    if (value.empty() || value[0] != '"')
        return std::string(value.substr(0, value.find_first_of(" \t")));
    for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        text += value[i];
    }
    return text;
}

// One of the XDG user folders (XDG_<key>_DIR in user-dirs.dirs), or ~/<fallback> when the
// file does not name it; without a trailing slash.
std::string UserFolder(const std::string& key, const char* fallback)
{
    const std::string home = HomeFolder();
    std::string folder = home + "/" + fallback;
    const std::string prefix = "XDG_" + key + "_DIR=";
    std::ifstream dirs(ConfigFolder() + "/user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0)
            continue;
        std::string value = Unquote(std::string_view(line).substr(start + prefix.size()));
        if (value.starts_with("$HOME") && (value.size() == 5 || value[5] == '/'))
            folder = home + value.substr(5);
        else if (value.starts_with("/"))
            folder = value;
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// ERROR_SUCCESS when the folder exists (created with its parents when asked to).
DWORD PrepareFolder(const std::string& folder, bool create)
{
    struct stat st;
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? ERROR_SUCCESS : ERROR_DIRECTORY;
    if (errno != ENOENT || !create)
        return Win32ErrorFromErrno(errno);
    if (g_mkdir_with_parents(folder.c_str(), 0777) != 0)
        return Win32ErrorFromErrno(errno);
    return ERROR_SUCCESS;
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An ELF executable or a script that names its interpreter.
bool IsProgramFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char magic[4] = {};
    ssize_t n = read(fd, magic, sizeof magic);
    close(fd);
    return (n == 4 && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') ||
           (n >= 2 && magic[0] == '#' && magic[1] == '!');
}

DWORD StartProgramFile(const std::string& file, const std::string& directory, HANDLE& process)
{
    // Windows starts any program file; Linux also wants the execute permission, which a
    // downloaded file does not have.
    if (access(file.c_str(), X_OK) != 0) {
        struct stat st;
        if (stat(file.c_str(), &st) != 0 || chmod(file.c_str(), st.st_mode | S_IXUSR) != 0)
            return Win32ErrorFromErrno(errno);
    }
    process = StartProcess(file, directory);
    return process ? ERROR_SUCCESS : GetLastError();
}

// Runs in the child before the application starts; the folder was checked beforehand.
void EnterFolderAndSession(gpointer directory)
{
    setsid();
    const char* folder = static_cast<const char*>(directory);
    if (folder[0] && chdir(folder) != 0)
        _exit(127);
}

void KeepPid(GDesktopAppInfo*, GPid pid, gpointer launched)
{
    *static_cast<GPid*>(launched) = pid;
}

// The desktop's default application for the file's type, started as StartProcess starts a
// program. An application that the desktop activates over D-Bus has no process here.
DWORD OpenWithDefaultApplication(const std::string& file, const std::string& directory, HANDLE& process)
{
    g_autoptr(GFile) location = g_file_new_for_path(file.c_str());
    g_autoptr(GFileInfo) info = g_file_query_info(location, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                  G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    const char* type = info ? g_file_info_get_content_type(info) : nullptr;
    g_autoptr(GAppInfo) application = type ? g_app_info_get_default_for_type(type, FALSE) : nullptr;
    if (!application || !G_IS_DESKTOP_APP_INFO(application))
        return ERROR_NO_ASSOCIATION;

    g_autofree char* uri = g_file_get_uri(location);
    GList uris = {uri, nullptr, nullptr};
    GPid launched = 0;
    const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
    g_autoptr(GError) error = nullptr;
    if (!g_desktop_app_info_launch_uris_as_manager_with_fds(
            G_DESKTOP_APP_INFO(application), &uris, nullptr, flags, EnterFolderAndSession,
            const_cast<char*>(directory.c_str()), KeepPid, &launched, -1, -1, -1, &error)) {
        std::fprintf(stderr, "winshim: cannot open %s with %s: %s\n", file.c_str(),
                     g_app_info_get_id(application), error->message);
        return ERROR_NO_ASSOCIATION;
    }
    if (launched > 0 && !(process = AdoptChildProcess(launched)))
        return GetLastError();
    return ERROR_SUCCESS;
}

BOOL FailExecute(SHELLEXECUTEINFOW& info, DWORD error)
{
    // hInstApp keeps the old-style code: the error itself where it has one below 32.
    info.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(error < 32 ? error : SE_ERR_NOASSOC));
    SetLastError(error);
    return FALSE;
}

} // namespace

HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath)
{
    if (!ppszPath)
        return E_INVALIDARG;
    *ppszPath = nullptr;
    // Only the current user's Downloads folder is known here.
    if (hToken || !IsEqualGUID(rfid, FOLDERID_Downloads))
        return E_INVALIDARG;
    std::string folder = UserFolder("DOWNLOAD", "Downloads");
    if (DWORD error = PrepareFolder(folder, dwFlags & KF_FLAG_CREATE))
        return HRESULT_FROM_WIN32(error);
    std::u16string text = ToUtf16(folder);
    auto copy = static_cast<PWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!copy)
        return E_OUTOFMEMORY;
    text.copy(copy, text.size());
    copy[text.size()] = 0;
    *ppszPath = copy;
    return S_OK;
}

BOOL WINAPI SHGetSpecialFolderPathW(HWND, LPWSTR pszPath, int csidl, BOOL fCreate)
{
    if (!pszPath || csidl != CSIDL_PERSONAL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string folder = UserFolder("DOCUMENTS", "Documents");
    if (DWORD error = PrepareFolder(folder, fCreate)) {
        SetLastError(error);
        return FALSE;
    }
    if (!CopyToBuffer(ToUtf16(folder), pszPath, MAX_PATH)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo)
{
    if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Trace("ShellExecuteExW(\"%s\" in \"%s\")", ToUtf8(pExecInfo->lpFile).c_str(),
          ToUtf8(pExecInfo->lpDirectory).c_str());
    SHELLEXECUTEINFOW& info = *pExecInfo;
    info.hProcess = nullptr;
    if (info.lpVerb && info.lpVerb[0] && std::u16string_view(info.lpVerb) != u"open")
        return FailExecute(info, ERROR_NO_ASSOCIATION);
    // Command lines are not taken apart here: nothing that is started this way takes arguments.
    if (info.lpParameters && info.lpParameters[0])
        return FailExecute(info, ERROR_NOT_SUPPORTED);
    if (!info.lpFile || !info.lpFile[0])
        return FailExecute(info, ERROR_FILE_NOT_FOUND);

    std::string directory = info.lpDirectory ? UnixPath(info.lpDirectory) : std::string();
    if (!directory.empty() && !IsFolder(directory))
        return FailExecute(info, ERROR_DIRECTORY);
    // A relative file name is taken from the working folder.
    std::filesystem::path file = UnixPath(info.lpFile);
    if (file.is_relative() && !directory.empty())
        file = std::filesystem::path(directory) / file;
    std::error_code ignored;
    file = std::filesystem::absolute(file, ignored);
    if (access(file.c_str(), F_OK) != 0)
        return FailExecute(info, Win32ErrorFromErrno(errno));

    HANDLE process = nullptr;
    DWORD error = IsProgramFile(file) ? StartProgramFile(file, directory, process)
                                      : OpenWithDefaultApplication(file, directory, process);
    if (error != ERROR_SUCCESS)
        return FailExecute(info, error);
    if (info.fMask & SEE_MASK_NOCLOSEPROCESS)
        info.hProcess = process;
    else if (process)
        CloseHandle(process);
    info.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    return TRUE;
}

namespace winshim {

std::span<const ModuleExport> Shell32Exports()
{
    static const ModuleExport exports[] = {
        {"SHGetKnownFolderPath", ExportOf(&SHGetKnownFolderPath)},
        {"SHGetSpecialFolderPathW", ExportOf(&SHGetSpecialFolderPathW)},
        {"ShellExecuteExW", ExportOf(&ShellExecuteExW)},
    };
    return exports;
}

} // namespace winshim
