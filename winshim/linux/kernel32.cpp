// kernel32: errors, handles, threads, waiting, resources and strings.
#include <windows.h>
#include <winshim_ext.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include <glib.h>
#include <unistd.h>

#include "handles.h"
#include "resource.h"
#include "text.h"

using namespace winshim;

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::mutex g_handleMutex;
std::map<HANDLE, std::shared_ptr<KernelObject>> g_handles;
ULONG_PTR g_nextHandle = 0x100;

ResourceModule g_exeResources;

ResourceModule* ModuleFromHandle(HMODULE module)
{
    return module ? reinterpret_cast<ResourceModule*>(module) : &g_exeResources;
}

// A thread runs its routine once the suspend count has dropped to zero, and is signalled
// when the routine has returned.
class ThreadObject : public KernelObject {
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
        DWORD exitCode = m_routine(m_parameter);
        std::lock_guard lock(m_mutex);
        m_exitCode = exitCode;
        m_finished = true;
        m_changed.notify_all();
    }

    DWORD Resume()
    {
        std::lock_guard lock(m_mutex);
        DWORD previous = m_suspendCount;
        if (m_suspendCount > 0 && --m_suspendCount == 0)
            m_changed.notify_all();
        return previous;
    }

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

private:
    LPTHREAD_START_ROUTINE m_routine;
    LPVOID m_parameter;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    DWORD m_suspendCount;
    bool m_finished = false;
    DWORD m_exitCode = 0;
};

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
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
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
