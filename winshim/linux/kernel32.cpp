// kernel32: errors, handles, threads, waiting, resources and strings.
#include <windows.h>
#include <winshim_ext.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <span>
#include <thread>

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "handles.h"
#include "modules.h"
#include "process.h"
#include "resource.h"
#include "text.h"
#include "unixfs.h"

using namespace winshim;

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::mutex g_handleMutex;
std::map<HANDLE, std::shared_ptr<KernelObject>> g_handles;
ULONG_PTR g_nextHandle = 0x100;

ResourceModule g_exeResources;

ResourceModule* ModuleFromHandle(HMODULE module);

// A thread or process: signalled once it has ended, and from then on for good.
class ExitingObject : public KernelObject {
public:
    DWORD Wait(DWORD milliseconds) override
    {
        std::unique_lock lock(m_mutex);
        auto finished = [this] { return m_finished; };
        if (milliseconds == INFINITE) {
            m_changed.wait(lock, finished);
            return WAIT_OBJECT_0;
        }
        return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), finished) ? WAIT_OBJECT_0
                                                                                          : WAIT_TIMEOUT;
    }

    DWORD ExitCode()
    {
        std::lock_guard lock(m_mutex);
        return m_finished ? m_exitCode : STILL_ACTIVE;
    }

protected:
    void Finish(DWORD exitCode)
    {
        std::lock_guard lock(m_mutex);
        m_exitCode = exitCode;
        m_finished = true;
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;

private:
    bool m_finished = false;
    DWORD m_exitCode = 0;
};

// A thread runs its routine once the suspend count has dropped to zero.
class ThreadObject : public ExitingObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD suspendCount)
        : m_routine(routine), m_parameter(parameter), m_suspendCount(suspendCount)
    {
    }

    void Run()
    {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_suspendCount == 0; });
        }
        Finish(m_routine(m_parameter));
    }

    DWORD Resume()
    {
        std::lock_guard lock(m_mutex);
        DWORD previous = m_suspendCount;
        if (m_suspendCount > 0 && --m_suspendCount == 0)
            m_changed.notify_all();
        return previous;
    }

private:
    LPTHREAD_START_ROUTINE m_routine;
    LPVOID m_parameter;
    DWORD m_suspendCount;
};

// A child process; a thread of its own reaps it, so it never lingers as a zombie, whether or
// not anyone holds its handle.
class ProcessObject : public ExitingObject {
public:
    explicit ProcessObject(pid_t pid) : m_pid(pid) {}

    void Reap()
    {
        int status = 0;
        pid_t result;
        do
            result = waitpid(m_pid, &status, 0);
        while (result < 0 && errno == EINTR);
        if (result < 0)
            Finish(0); // reaped elsewhere: it has ended, its exit code is lost
        else
            Finish(WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : 128u + WTERMSIG(status));
    }

private:
    pid_t m_pid;
};

// The system libraries that LoadLibraryW knows. A library counts as loaded while LoadLibraryW
// calls outnumber FreeLibrary calls, as on Windows for a library loaded at run time.
struct SystemModule {
    const char* name;
    std::span<const ModuleExport> (*exports)();
    LONG references;
};

std::mutex g_moduleMutex;
SystemModule g_systemModules[] = {
    {"shell32.dll", &Shell32Exports, 0},
};
// Exports that a test has replaced or taken away (a null entry point).
std::map<std::pair<const SystemModule*, std::string>, FARPROC> g_exportOverrides;

SystemModule* SystemModuleFromHandle(HMODULE module)
{
    for (SystemModule& m : g_systemModules)
        if (reinterpret_cast<HMODULE>(&m) == module)
            return &m;
    return nullptr;
}

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(g_ascii_tolower(c));
    return lower;
}

// Finds a system library by name: with or without a folder and ".dll", in any case.
SystemModule* FindSystemModule(std::string_view name)
{
    std::string lower = LowerAscii(name);
    size_t slash = lower.find_last_of("\\/");
    if (slash != std::string::npos)
        lower.erase(0, slash + 1);
    if (!lower.ends_with(".dll"))
        lower += ".dll";
    for (SystemModule& m : g_systemModules)
        if (lower == m.name)
            return &m;
    return nullptr;
}

// System libraries carry no resources of the program.
ResourceModule* ModuleFromHandle(HMODULE module)
{
    static ResourceModule noResources;
    if (SystemModuleFromHandle(module))
        return &noResources;
    return module ? reinterpret_cast<ResourceModule*>(module) : &g_exeResources;
}

} // namespace

namespace winshim {

HANDLE InsertHandle(std::shared_ptr<KernelObject> object)
{
    std::lock_guard lock(g_handleMutex);
    HANDLE handle = reinterpret_cast<HANDLE>(g_nextHandle);
    g_nextHandle += 4;
    g_handles.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    std::lock_guard lock(g_handleMutex);
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle)
{
    std::lock_guard lock(g_handleMutex);
    return g_handles.erase(handle) == 1;
}

} // namespace winshim

DWORD WINAPI GetLastError()
{
    return t_lastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (!RemoveHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    std::shared_ptr<KernelObject> object = LookupHandle(hHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->Wait(dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

namespace {

// An event: signalled by SetEvent; a wait on an auto-reset event takes the signal with it.
class EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}

    void Set(bool signalled)
    {
        std::lock_guard lock(m_mutex);
        m_signalled = signalled;
        if (signalled)
            m_changed.notify_all();
    }

    DWORD Wait(DWORD milliseconds) override
    {
        std::unique_lock lock(m_mutex);
        auto signalled = [this] { return m_signalled; };
        if (milliseconds == INFINITE)
            m_changed.wait(lock, signalled);
        else if (!m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled))
            return WAIT_TIMEOUT;
        if (!m_manualReset)
            m_signalled = false;
        return WAIT_OBJECT_0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_manualReset;
    bool m_signalled;
};

BOOL SetEventState(HANDLE hEvent, bool signalled)
{
    std::shared_ptr<EventObject> event = LookupHandleAs<EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Set(signalled);
    return TRUE;
}

} // namespace

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName)
{
    if (lpName) {
        // Events are not shared between processes here.
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return InsertHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, true);
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, false);
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>(lpStartAddress, lpParameter,
                                                 (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0);
    try {
        // The thread keeps its object alive until its routine has returned, handle or not.
        std::thread([thread] { thread->Run(); }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE handle = InsertHandle(thread);
    if (lpThreadId)
        *lpThreadId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(handle));
    return handle;
}

DWORD WINAPI ResumeThread(HANDLE hThread)
{
    std::shared_ptr<ThreadObject> thread = LookupHandleAs<ThreadObject>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    return thread->Resume();
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int)
{
    // Every thread runs at the normal priority, the only one the program asks for.
    return LookupHandleAs<ThreadObject>(hThread) ? TRUE : FALSE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    std::shared_ptr<ThreadObject> thread = LookupHandleAs<ThreadObject>(hThread);
    if (!thread || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = thread->ExitCode();
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId()
{
    return static_cast<DWORD>(gettid());
}

void WINAPI WinshimSetExecutableResources(const void* data, SIZE_T size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    std::optional<ResourceModule> parsed = ResourceModule::Parse(std::vector<BYTE>(bytes, bytes + size));
    if (parsed)
        g_exeResources = std::move(*parsed);
    else
        std::fprintf(stderr, "winshim: the executable's embedded resources are not a valid .res file\n");
}

HMODULE WINAPI WinshimLoadResourceFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<ResourceModule> parsed = ResourceModule::Parse(std::move(bytes));
    if (!parsed)
        return nullptr;
    return reinterpret_cast<HMODULE>(new ResourceModule(std::move(*parsed)));
}

void WINAPI WinshimFreeResourceFile(HMODULE module)
{
    if (module)
        delete reinterpret_cast<ResourceModule*>(module);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (lpModuleName == nullptr)
        return reinterpret_cast<HMODULE>(&g_exeResources);
    std::lock_guard lock(g_moduleMutex);
    SystemModule* module = FindSystemModule(ToUtf8(lpModuleName));
    if (!module || module->references == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(module);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName)
{
    std::lock_guard lock(g_moduleMutex);
    SystemModule* module = lpLibFileName ? FindSystemModule(ToUtf8(lpLibFileName)) : nullptr;
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++module->references;
    return reinterpret_cast<HMODULE>(module);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (hLibModule == reinterpret_cast<HMODULE>(&g_exeResources))
        return TRUE;
    std::lock_guard lock(g_moduleMutex);
    SystemModule* module = SystemModuleFromHandle(hLibModule);
    if (!module || module->references == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --module->references;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    std::lock_guard lock(g_moduleMutex);
    SystemModule* module = SystemModuleFromHandle(hModule);
    if (module && lpProcName && !IS_INTRESOURCE(lpProcName)) {
        auto overridden = g_exportOverrides.find({module, lpProcName});
        if (overridden != g_exportOverrides.end()) {
            if (overridden->second)
                return overridden->second;
        } else {
            for (const ModuleExport& entry : module->exports())
                if (std::string_view(entry.name) == lpProcName)
                    return entry.proc;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

void WINAPI WinshimSetExport(LPCSTR lpModuleName, LPCSTR lpProcName, FARPROC proc)
{
    std::lock_guard lock(g_moduleMutex);
    if (SystemModule* module = FindSystemModule(lpModuleName))
        g_exportOverrides[{module, lpProcName}] = proc;
}

void WINAPI WinshimResetExports()
{
    std::lock_guard lock(g_moduleMutex);
    g_exportOverrides.clear();
}

DWORD WINAPI GetVersion()
{
    // Windows 7 with Service Pack 1, unless WINSHIM_WINDOWS_VERSION names another system.
    unsigned major = 6, minor = 1, build = 7601;
    if (const char* setting = std::getenv("WINSHIM_WINDOWS_VERSION")) {
        unsigned a = 0, b = 0, c = 0;
        int fields = std::sscanf(setting, "%u.%u.%u", &a, &b, &c);
        if (fields >= 2 && a <= 0xFF && b <= 0xFF && c <= 0x7FFF) {
            major = a;
            minor = b;
            build = fields == 3 ? c : 0;
        } else {
            std::fprintf(stderr, "winshim: WINSHIM_WINDOWS_VERSION=\"%s\" is not major.minor[.build]; reporting 6.1\n",
                         setting);
        }
    }
    return major | (minor << 8) | (build << 16);
}

DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR lpFilename, DWORD nSize)
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::u16string text = ToUtf16(std::string_view(path, static_cast<size_t>(n)));
    if (!CopyToBuffer(text, lpFilename, nSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<DWORD>(text.size());
}

HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage)
{
    const ResourceEntry* entry =
        ModuleFromHandle(hModule)->Find(ResourceId::From(lpType), ResourceId::From(lpName), wLanguage);
    if (!entry)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(entry));
}

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    const ResourceEntry* entry =
        ModuleFromHandle(hModule)->Find(ResourceId::From(lpType), ResourceId::From(lpName), std::nullopt);
    if (!entry)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(entry));
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo)
{
    if (!hResInfo)
        return nullptr;
    return const_cast<BYTE*>(reinterpret_cast<ResourceEntry*>(hResInfo)->data);
}

LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo)
{
    return hResInfo ? reinterpret_cast<ResourceEntry*>(hResInfo)->size : 0;
}

BOOL WINAPI FreeResource(HGLOBAL)
{
    return FALSE;
}

int WINAPI lstrlenW(LPCWSTR lpString)
{
    return lpString ? static_cast<int>(std::char_traits<char16_t>::length(lpString)) : 0;
}

LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength)
{
    if (!lpString1 || !lpString2 || iMaxLength <= 0)
        return lpString1;
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i] != 0; ++i)
        lpString1[i] = lpString2[i];
    lpString1[i] = 0;
    return lpString1;
}

int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    std::u16string_view a = lpString1 ? lpString1 : u"", b = lpString2 ? lpString2 : u"";
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    std::string a = ToUtf8(lpString1), b = ToUtf8(lpString2);
    char* fa = g_utf8_casefold(a.c_str(), -1);
    char* fb = g_utf8_casefold(b.c_str(), -1);
    int c = g_utf8_collate(fa, fb);
    g_free(fa);
    g_free(fb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// System messages: the English texts of the error codes that programs on winshim can meet.

namespace {

struct SystemMessage {
    DWORD code;
    LPCWSTR text;
};

// Each text ends with a line break, as system texts do.
const SystemMessage kSystemMessages[] = {
    {ERROR_SUCCESS, u"The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, u"The function is not valid for this object.\r\n"},
    {ERROR_FILE_NOT_FOUND, u"The specified file or registry entry could not be found.\r\n"},
    {ERROR_PATH_NOT_FOUND, u"The specified path could not be found.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, u"Too many files are open.\r\n"},
    {ERROR_ACCESS_DENIED, u"Access was denied.\r\n"},
    {ERROR_INVALID_HANDLE, u"The handle is not valid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, u"There is not enough memory to complete the operation.\r\n"},
    {ERROR_BAD_FORMAT, u"The program's format is not valid.\r\n"},
    {ERROR_INVALID_DATA, u"The data is not valid.\r\n"},
    {ERROR_OUTOFMEMORY, u"There is not enough memory to complete the operation.\r\n"},
    {ERROR_WRITE_PROTECT, u"The medium is write-protected.\r\n"},
    {ERROR_SHARING_VIOLATION, u"The file is in use by another process.\r\n"},
    {ERROR_HANDLE_DISK_FULL, u"The disk is full.\r\n"},
    {ERROR_NOT_SUPPORTED, u"The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, u"The file already exists.\r\n"},
    {ERROR_INVALID_PARAMETER, u"A parameter is not valid.\r\n"},
    {ERROR_BROKEN_PIPE, u"The pipe has been closed.\r\n"},
    {ERROR_DISK_FULL, u"There is not enough space on the disk.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, u"This function is not available on this system.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, u"The buffer given to the system is too small.\r\n"},
    {ERROR_INVALID_NAME, u"The file name, folder name or volume label is not valid.\r\n"},
    {ERROR_MOD_NOT_FOUND, u"The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found.\r\n"},
    {ERROR_DIR_NOT_EMPTY, u"The folder is not empty.\r\n"},
    {ERROR_BAD_PATHNAME, u"The specified path is not valid.\r\n"},
    {ERROR_ALREADY_EXISTS, u"A file with this name already exists.\r\n"},
    {ERROR_BAD_EXE_FORMAT, u"The file is not a program that this system can run.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, u"The file name or extension is too long.\r\n"},
    {ERROR_MORE_DATA, u"More data is available than fits into the buffer.\r\n"},
    {ERROR_NO_MORE_ITEMS, u"No more data is available.\r\n"},
    {ERROR_DIRECTORY, u"The folder name is not valid.\r\n"},
    {ERROR_MR_MID_NOT_FOUND, u"The system has no text for this message number.\r\n"},
    {ERROR_BADKEY, u"The registry key is not valid.\r\n"},
    {ERROR_CANTOPEN, u"The registry key could not be opened.\r\n"},
    {ERROR_CANTREAD, u"The registry key could not be read.\r\n"},
    {ERROR_CANTWRITE, u"The registry key could not be written.\r\n"},
    {ERROR_REGISTRY_CORRUPT, u"The registry's store is damaged.\r\n"},
    {ERROR_KEY_DELETED, u"The registry key has been deleted; no operation is possible on it.\r\n"},
    {ERROR_NO_ASSOCIATION, u"No program is associated with this file for this operation.\r\n"},
    {ERROR_CANCELLED, u"The user cancelled the operation.\r\n"},
    {ERROR_INVALID_WINDOW_HANDLE, u"The window handle is not valid.\r\n"},
    {ERROR_RESOURCE_DATA_NOT_FOUND, u"The file contains no resource section.\r\n"},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, u"The resource type could not be found in the file.\r\n"},
    {ERROR_RESOURCE_NAME_NOT_FOUND, u"The resource name could not be found in the file.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND, u"The resource language could not be found in the file.\r\n"},
    {static_cast<DWORD>(E_NOTIMPL), u"The operation is not implemented.\r\n"},
    {static_cast<DWORD>(E_NOINTERFACE), u"The object does not support this interface.\r\n"},
    {static_cast<DWORD>(E_POINTER), u"The pointer is not valid.\r\n"},
    {static_cast<DWORD>(E_ABORT), u"The operation was aborted.\r\n"},
    {static_cast<DWORD>(E_FAIL), u"The operation failed for an unspecified reason.\r\n"},
    {static_cast<DWORD>(E_UNEXPECTED), u"An unexpected failure occurred.\r\n"},
};

LPCWSTR FindSystemMessage(DWORD code)
{
    // A Win32 code wrapped in an HRESULT has the code's own text.
    if ((code & 0xFFFF0000) == 0x80070000)
        code &= 0xFFFF;
    for (const SystemMessage& message : kSystemMessages)
        if (message.code == code)
            return message.text;
    return nullptr;
}

} // namespace

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                            DWORD nSize, void*)
{
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER))) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    WORD primaryLanguage = dwLanguageId & 0x3FF;
    if (primaryLanguage != 0x00 /* neutral: the user's or system's default */ && primaryLanguage != 0x09 /* English */) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    LPCWSTR found = FindSystemMessage(dwMessageId);
    if (!found) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::u16string_view text = found;
    if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK)
        text.remove_suffix(2); // no line breaks wanted
    if (!lpBuffer || text.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    text.copy(lpBuffer, text.size());
    lpBuffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName)
{
    struct stat st;
    if (!lpFileName || stat(UnixPath(lpFileName).c_str(), &st) != 0) {
        SetLastError(lpFileName ? Win32ErrorFromErrno(errno) : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path = UnixPath(lpFileName);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    // Windows deletes neither folders nor read-only files with this call.
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES)
{
    if (!lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mkdir(UnixPath(lpPathName).c_str(), 0777) != 0) {
        // A missing parent is a missing path: only the last level is created.
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

namespace winshim {

HANDLE AdoptChildProcess(pid_t pid)
{
    auto process = std::make_shared<ProcessObject>(pid);
    try {
        // The reaper keeps the object alive until the process has ended, handle or not.
        std::thread([process] { process->Reap(); }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return InsertHandle(process);
}

HANDLE StartProcess(const std::string& file, const std::string& directory)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    // Its own session: the program outlives us and takes none of our signals or their settings.
    sigset_t noSignals, allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string argument0 = file;
    char* argv[] = {argument0.data(), nullptr};
    pid_t pid = 0;
    int error = posix_spawn(&pid, file.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        SetLastError(Win32ErrorFromErrno(error));
        return nullptr;
    }
    return AdoptChildProcess(pid);
}

} // namespace winshim
