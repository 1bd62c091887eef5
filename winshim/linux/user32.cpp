// user32: strings from resources, message boxes, windows and their messages, the dialog manager,
// the Button and Static controls, painting, icons and system metrics.
#include <windows.h>
#include <winshim_ext.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <glib.h>
#include <unistd.h>

#include "backend.h"
#include "gui.h"
#include "text.h"

using namespace winshim;

namespace {

int MulDivRound(int number, int numerator, int denominator)
{
    long long product = static_cast<long long>(number) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

std::u16string FoldClassName(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return folded;
}

} // namespace

// Strings

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Strings are kept in blocks of sixteen, each a length-prefixed UTF-16 text.
    HRSRC info = FindResourceW(hInstance, MAKEINTRESOURCEW((uID >> 4) + 1), RT_STRING);
    const WORD* p = static_cast<const WORD*>(LockResource(LoadResource(hInstance, info)));
    if (!p) {
        if (cchBufferMax > 0)
            lpBuffer[0] = 0;
        return 0;
    }
    const WORD* end = p + SizeofResource(hInstance, info) / 2;
    for (UINT i = 0; i < (uID & 15) && p < end; ++i)
        p += *p + 1;
    if (p >= end || *p == 0 || p + 1 + *p > end) {
        if (cchBufferMax > 0)
            lpBuffer[0] = 0;
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    int length = *p;
    if (cchBufferMax == 0) {
        // A zero-sized buffer asks for a read-only pointer to the resource's own text.
        *reinterpret_cast<LPCWSTR*>(lpBuffer) = reinterpret_cast<LPCWSTR>(p + 1);
        return length;
    }
    int copied = length < cchBufferMax - 1 ? length : cchBufferMax - 1;
    for (int i = 0; i < copied; ++i)
        lpBuffer[i] = static_cast<WCHAR>(p[1 + i]);
    lpBuffer[copied] = 0;
    return copied;
}

// Message boxes

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    Trace("MessageBoxW(%p, \"%s\", type 0x%X)", static_cast<void*>(hWnd), ToUtf8(lpText).c_str(), uType);
    // The owner takes no input while its box is open.
    bool disabled = hWnd && IsWindow(hWnd) && !EnableWindow(hWnd, FALSE);
    UiBackend& backend = MessageBoxHandlerInstalled() ? HeadlessBackend() : CurrentBackend();
    int answer = backend.MessageBox(hWnd, lpText ? lpText : u"", lpCaption ? lpCaption : u"Error", uType);
    if (disabled && IsWindow(hWnd))
        EnableWindow(hWnd, TRUE);
    Trace("MessageBoxW answered %d", answer);
    return answer;
}

// Window classes and the window table

namespace {

struct WindowClass {
    std::u16string name;
    WNDPROC proc = nullptr;
    int extraBytes = 0;
    HBRUSH background = nullptr;
};

constexpr int kDialogExtraBytes = 3 * sizeof(LONG_PTR); // DWLP_MSGRESULT, DWLP_DLGPROC, DWLP_USER

std::mutex g_classMutex;
std::map<std::u16string, WindowClass> g_classes;

void RegisterBuiltInClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::lock_guard lock(g_classMutex);
        g_classes[u"button"] = {u"Button", ButtonWndProc, 0, nullptr};
        g_classes[u"static"] = {u"Static", StaticWndProc, 0, nullptr};
        g_classes[u"#32770"] = {u"#32770", DefDlgProcW, kDialogExtraBytes, nullptr};
    });
}

bool FindClass(std::u16string_view name, WindowClass* out)
{
    RegisterBuiltInClasses();
    std::lock_guard lock(g_classMutex);
    auto it = g_classes.find(FoldClassName(name));
    if (it == g_classes.end())
        return false;
    *out = it->second;
    return true;
}

std::mutex g_windowMutex;
std::map<HWND, std::unique_ptr<Window>> g_windows;
ULONG_PTR g_nextWindow = 0x10012;
HWND g_focus = nullptr;

bool IsChild(const Window& w)
{
    return (w.style & WS_CHILD) != 0;
}

void Changed(HWND hwnd, WindowChange change)
{
    CurrentBackend().WindowChanged(hwnd, change);
}

LONG_PTR* ExtraSlot(Window* w, int index)
{
    if (index < 0 || index % static_cast<int>(sizeof(LONG_PTR)) != 0)
        return nullptr;
    size_t slot = static_cast<size_t>(index) / sizeof(LONG_PTR);
    return slot < w->extra.size() ? &w->extra[slot] : nullptr;
}

// The window, or NULL with the last error set.
Window* WindowOrError(HWND hwnd)
{
    Window* w = FindWindowObject(hwnd);
    if (!w)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

} // namespace

namespace winshim {

Window* FindWindowObject(HWND hwnd)
{
    std::lock_guard lock(g_windowMutex);
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() ? nullptr : it->second.get();
}

std::vector<HWND> TopLevelWindows()
{
    std::lock_guard lock(g_windowMutex);
    std::vector<HWND> result;
    for (const auto& [hwnd, w] : g_windows)
        if (!IsChild(*w))
            result.push_back(hwnd);
    return result;
}

} // namespace winshim

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* lpwcx)
{
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXW) || !lpwcx->lpszClassName || !lpwcx->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    RegisterBuiltInClasses();
    std::lock_guard lock(g_classMutex);
    std::u16string key = FoldClassName(lpwcx->lpszClassName);
    if (g_classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    g_classes[key] = {lpwcx->lpszClassName, lpwcx->lpfnWndProc, lpwcx->cbWndExtra, lpwcx->hbrBackground};
    return static_cast<ATOM>(0xC000 + g_classes.size());
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    WindowClass cls;
    if (!lpClassName || IS_INTRESOURCE(lpClassName) || !FindClass(lpClassName, &cls)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if ((dwStyle & WS_CHILD) && !IsWindow(hWndParent)) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }

    auto window = std::make_unique<Window>();
    window->className = cls.name;
    window->proc = cls.proc;
    window->style = dwStyle;
    window->exStyle = dwExStyle;
    window->id = (dwStyle & WS_CHILD) ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
    window->parent = hWndParent;
    window->rect = {X, Y, X + (nWidth > 0 ? nWidth : 0), Y + (nHeight > 0 ? nHeight : 0)};
    window->text = lpWindowName ? lpWindowName : u"";
    window->instance = hInstance;
    window->extra.assign((static_cast<size_t>(cls.extraBytes) + sizeof(LONG_PTR) - 1) / sizeof(LONG_PTR), 0);
    window->enabled = !(dwStyle & WS_DISABLED);
    window->threadId = GetCurrentThreadId();
    HWND hwnd;
    {
        std::lock_guard lock(g_windowMutex);
        hwnd = reinterpret_cast<HWND>(g_nextWindow);
        g_nextWindow += 0x12;
        window->handle = hwnd;
        g_windows.emplace(hwnd, std::move(window));
    }
    if (Window* parent = (dwStyle & WS_CHILD) ? FindWindowObject(hWndParent) : nullptr)
        parent->children.push_back(hwnd);

    CREATESTRUCTW cs = {lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                        static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
    if (!SendMessageW(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) ||
        SendMessageW(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hwnd);
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    CurrentBackend().WindowCreated(hwnd);
    if (dwStyle & WS_VISIBLE) {
        FindWindowObject(hwnd)->visible = true;
        Changed(hwnd, WindowChange::Visibility);
    }
    return hwnd;
}

namespace {

void DropPostedMessages(HWND hwnd);

void DestroyTree(HWND hwnd)
{
    SendMessageW(hwnd, WM_DESTROY, 0, 0);
    Window* w = FindWindowObject(hwnd);
    if (!w)
        return;
    std::vector<HWND> children = w->children;
    for (HWND child : children)
        if (IsWindow(child))
            DestroyTree(child);
    SendMessageW(hwnd, WM_NCDESTROY, 0, 0);
    CurrentBackend().WindowDestroyed(hwnd);
    w = FindWindowObject(hwnd);
    if (!w)
        return;
    if (g_focus == hwnd)
        g_focus = nullptr;
    if (w->ownedFont)
        DeleteObject(w->ownedFont);
    if (Window* parent = IsChild(*w) ? FindWindowObject(w->parent) : nullptr)
        std::erase(parent->children, hwnd);
    std::unique_ptr<Window> gone;
    {
        std::lock_guard lock(g_windowMutex);
        auto it = g_windows.find(hwnd);
        gone = std::move(it->second);
        g_windows.erase(it);
    }
    DropPostedMessages(hwnd);
}

} // namespace

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return FALSE;
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (w->visible && !IsChild(*w))
        ShowWindow(hWnd, SW_HIDE);
    DestroyTree(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    std::lock_guard lock(g_windowMutex);
    return hWnd && g_windows.count(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    for (Window* w = FindWindowObject(hWnd); w; w = IsChild(*w) ? FindWindowObject(w->parent) : nullptr) {
        if (!w->visible)
            return FALSE;
        if (!IsChild(*w))
            return TRUE;
    }
    return FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    Window* w = FindWindowObject(hWnd);
    return w && w->enabled ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return FALSE;
    BOOL wasDisabled = w->enabled ? FALSE : TRUE;
    if (w->enabled != (bEnable != FALSE)) {
        w->enabled = bEnable != FALSE;
        if (w->enabled)
            w->style &= ~WS_DISABLED;
        else
            w->style |= WS_DISABLED;
        SendMessageW(hWnd, WM_ENABLE, bEnable, 0);
        Changed(hWnd, WindowChange::Enabled);
    }
    return wasDisabled;
}

BOOL WINAPI IsIconic(HWND hWnd)
{
    Window* w = FindWindowObject(hWnd);
    return w && w->iconic ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return FALSE;
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    bool visible = nCmdShow != SW_HIDE;
    bool iconic = w->iconic;
    if (nCmdShow == SW_MINIMIZE || nCmdShow == SW_SHOWMINIMIZED)
        iconic = true;
    else if (nCmdShow == SW_SHOWNORMAL || nCmdShow == SW_RESTORE)
        iconic = false;
    Trace("ShowWindow(%p, %d)", static_cast<void*>(hWnd), nCmdShow);
    if (visible == w->visible && iconic == w->iconic)
        return wasVisible;
    if (visible != w->visible)
        SendMessageW(hWnd, WM_SHOWWINDOW, visible, 0);
    if ((w = FindWindowObject(hWnd))) {
        w->visible = visible;
        w->iconic = iconic;
        w->invalid = visible;
        Changed(hWnd, WindowChange::Visibility);
    }
    return wasVisible;
}

HWND WINAPI GetParent(HWND hWnd)
{
    Window* w = FindWindowObject(hWnd);
    return w ? w->parent : nullptr;
}

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return nullptr;
    if (uCmd == GW_CHILD)
        return w->children.empty() ? nullptr : w->children.front();
    if (uCmd == GW_OWNER)
        return IsChild(*w) ? nullptr : w->parent;
    Window* parent = IsChild(*w) ? FindWindowObject(w->parent) : nullptr;
    if (!parent || (uCmd != GW_HWNDNEXT && uCmd != GW_HWNDPREV))
        return nullptr;
    auto it = std::find(parent->children.begin(), parent->children.end(), hWnd);
    if (uCmd == GW_HWNDNEXT)
        return it + 1 < parent->children.end() ? *(it + 1) : nullptr;
    return it != parent->children.begin() ? *(it - 1) : nullptr;
}

int WINAPI GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount)
{
    Window* w = FindWindowObject(hWnd);
    if (!w || !lpClassName || nMaxCount <= 0) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    size_t n = w->className.size() < static_cast<size_t>(nMaxCount - 1) ? w->className.size() : nMaxCount - 1;
    w->className.copy(lpClassName, n);
    lpClassName[n] = 0;
    return static_cast<int>(n);
}

HWND WINAPI SetFocus(HWND hWnd)
{
    HWND previous = g_focus;
    if (hWnd && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (hWnd == previous)
        return previous;
    if (previous && IsWindow(previous))
        SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    g_focus = hWnd;
    if (hWnd) {
        SendMessageW(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
        Changed(hWnd, WindowChange::Focus);
    }
    return previous;
}

HWND WINAPI GetFocus()
{
    return g_focus;
}

HWND WINAPI GetActiveWindow()
{
    HWND active = nullptr;
    for (HWND hwnd : TopLevelWindows())
        if (Window* w = FindWindowObject(hwnd); w && w->visible && w->enabled)
            active = hwnd;
    return active;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    Window* w = FindWindowObject(hWnd);
    if (!w)
        return 0;
    if (lpdwProcessId)
        *lpdwProcessId = static_cast<DWORD>(getpid());
    return w->threadId;
}

// Messages

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return 0;
    if (w->threadId != GetCurrentThreadId()) {
        Trace("SendMessageW(%p, 0x%X) from another thread: refused", static_cast<void*>(hWnd), Msg);
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    Trace("SendMessageW(%p, 0x%04X, %#lx, %#lx)", static_cast<void*>(hWnd), Msg, static_cast<unsigned long>(wParam),
          static_cast<unsigned long>(lParam));
    WNDPROC proc = w->proc;
    return proc(hWnd, Msg, wParam, lParam);
}

LRESULT WINAPI CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

namespace {

// The thread's posted messages: a queue that GLib's main context dispatches from. Any thread may
// post; the window thread's loop is woken for it.
std::mutex g_queueMutex;
std::deque<MSG> g_queue;

// The conditions of the message loops that run on this thread, innermost last. Once the innermost
// loop's condition holds, it dispatches no more posted messages: they wait for the loop outside.
thread_local std::vector<const bool*> t_loops;

bool QueueReady()
{
    if (!t_loops.empty() && *t_loops.back())
        return false;
    std::lock_guard lock(g_queueMutex);
    return !g_queue.empty();
}

HWND DialogOf(HWND hwnd)
{
    for (Window* w = FindWindowObject(hwnd); w; w = FindWindowObject(w->parent)) {
        if (w->dialog)
            return w->handle;
        if (!IsChild(*w))
            break;
    }
    return nullptr;
}

void DispatchPosted(MSG& msg)
{
    if (!IsWindow(msg.hwnd))
        return;
    if (msg.message == WM_KEYDOWN) {
        HWND dialog = DialogOf(msg.hwnd);
        if (dialog && IsDialogMessageW(dialog, &msg))
            return;
    }
    SendMessageW(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

gboolean QueuePrepare(GSource*, gint* timeout)
{
    *timeout = -1;
    return QueueReady();
}

gboolean QueueCheck(GSource*)
{
    return QueueReady();
}

gboolean QueueDispatch(GSource*, GSourceFunc, gpointer)
{
    MSG msg;
    {
        if (!t_loops.empty() && *t_loops.back())
            return G_SOURCE_CONTINUE;
        std::lock_guard lock(g_queueMutex);
        if (g_queue.empty())
            return G_SOURCE_CONTINUE;
        msg = g_queue.front();
        g_queue.pop_front();
    }
    DispatchPosted(msg);
    return G_SOURCE_CONTINUE;
}

GSourceFuncs g_queueFuncs = {QueuePrepare, QueueCheck, QueueDispatch, nullptr, nullptr, nullptr};

void AttachQueueSource()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GSource* source = g_source_new(&g_queueFuncs, sizeof(GSource));
        g_source_set_name(source, "winshim posted messages");
        // Modal loops run inside the dispatch of a posted message and must go on dispatching.
        g_source_set_can_recurse(source, TRUE);
        g_source_attach(source, g_main_context_default());
        g_source_unref(source);
    });
}

void DropPostedMessages(HWND hwnd)
{
    std::lock_guard lock(g_queueMutex);
    std::erase_if(g_queue, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
}

} // namespace

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Trace("PostMessageW(%p, 0x%04X, %#lx, %#lx)", static_cast<void*>(hWnd), Msg, static_cast<unsigned long>(wParam),
          static_cast<unsigned long>(lParam));
    AttachQueueSource();
    {
        std::lock_guard windows(g_windowMutex);
        if (!hWnd || !g_windows.count(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        std::lock_guard queue(g_queueMutex);
        g_queue.push_back({hWnd, Msg, wParam, lParam, 0, {0, 0}});
    }
    WakeMessageLoop();
    return TRUE;
}

namespace winshim {

void RunMessageLoop(const bool* done)
{
    AttachQueueSource();
    t_loops.push_back(done);
    while (!*done)
        g_main_context_iteration(nullptr, TRUE);
    t_loops.pop_back();
}

void WakeMessageLoop()
{
    g_main_context_wakeup(g_main_context_default());
}

} // namespace winshim

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return 0;
    switch (nIndex) {
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_ID: return w->id;
    case GWLP_USERDATA: return w->userData;
    }
    if (LONG_PTR* slot = ExtraSlot(w, nIndex))
        return *slot;
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return 0;
    LONG_PTR previous = GetWindowLongPtrW(hWnd, nIndex);
    switch (nIndex) {
    case GWL_STYLE: w->style = static_cast<DWORD>(dwNewLong); return previous;
    case GWL_EXSTYLE: w->exStyle = static_cast<DWORD>(dwNewLong); return previous;
    case GWLP_WNDPROC: w->proc = reinterpret_cast<WNDPROC>(dwNewLong); return previous;
    case GWLP_HINSTANCE: w->instance = reinterpret_cast<HINSTANCE>(dwNewLong); return previous;
    case GWLP_ID: w->id = dwNewLong; return previous;
    case GWLP_USERDATA: w->userData = dwNewLong; return previous;
    }
    if (LONG_PTR* slot = ExtraSlot(w, nIndex)) {
        *slot = dwNewLong;
        return previous;
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

// The default window procedure

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* w = FindWindowObject(hWnd);
    if (!w)
        return 0;
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        Changed(hWnd, WindowChange::Text);
        InvalidateRect(hWnd, nullptr, TRUE);
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        LPWSTR buffer = reinterpret_cast<LPWSTR>(lParam);
        size_t n = w->text.size() < wParam - 1 ? w->text.size() : wParam - 1;
        w->text.copy(buffer, n);
        buffer[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w->text.size());
    case WM_SETFONT:
        w->font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam))
            InvalidateRect(hWnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(w->font);
    case WM_SETICON: {
        HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
        HICON previous = slot;
        slot = reinterpret_cast<HICON>(lParam);
        Changed(hWnd, WindowChange::Icon);
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
        return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w->bigIcon : w->smallIcon);
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        WindowClass cls;
        if (!FindClass(w->className, &cls) || !cls.background)
            return 0;
        RECT rc = {};
        GetClientRect(hWnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, cls.background);
        return 1;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        HDC hdc = reinterpret_cast<HDC>(wParam);
        bool window = Msg == WM_CTLCOLOREDIT || Msg == WM_CTLCOLORLISTBOX;
        SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(hdc, GetSysColor(window ? COLOR_WINDOW : COLOR_3DFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(window ? COLOR_WINDOW : COLOR_3DFACE));
    }
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: return SendMessageW(hWnd, WM_CLOSE, 0, 0);
        case SC_MINIMIZE: ShowWindow(hWnd, SW_MINIMIZE); return 0;
        case SC_RESTORE: ShowWindow(hWnd, SW_RESTORE); return 0;
        }
        return 0;
    case WM_QUERYDRAGICON:
        return 0;
    }
    return 0;
}

// Window text and geometry

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    if (!IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    Trace("SetWindowTextW(%p, \"%s\")", static_cast<void*>(hWnd), ToUtf8(lpString).c_str());
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = 0;
    return static_cast<int>(SendMessageW(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount),
                                         reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextLengthW(HWND hWnd)
{
    return static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    Window* w = FindWindowObject(hWnd);
    if (!w || !lpRect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *lpRect = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    Window* w = FindWindowObject(hWnd);
    if (!w || !lpRect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *lpRect = w->rect;
    if (IsChild(*w)) {
        RECT parent = {};
        GetWindowRect(w->parent, &parent);
        lpRect->left += parent.left;
        lpRect->right += parent.left;
        lpRect->top += parent.top;
        lpRect->bottom += parent.top;
    }
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return FALSE;
    RECT r = w->rect;
    if (!(uFlags & SWP_NOMOVE))
        r = {X, Y, X + (r.right - r.left), Y + (r.bottom - r.top)};
    if (!(uFlags & SWP_NOSIZE))
        r = {r.left, r.top, r.left + (cx > 0 ? cx : 0), r.top + (cy > 0 ? cy : 0)};
    bool moved = r.left != w->rect.left || r.top != w->rect.top;
    bool sized = r.right - r.left != w->rect.right - w->rect.left || r.bottom - r.top != w->rect.bottom - w->rect.top;
    w->rect = r;
    if (moved)
        SendMessageW(hWnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
    if (sized)
        SendMessageW(hWnd, WM_SIZE, 0, MAKELPARAM(r.right - r.left, r.bottom - r.top));
    if (moved || sized)
        Changed(hWnd, WindowChange::Position);
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint)
{
    BOOL done = SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight, SWP_NOZORDER);
    if (done && bRepaint)
        InvalidateRect(hWnd, nullptr, TRUE);
    return done;
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    Window* w = FindWindowObject(hWnd);
    return w && IsChild(*w) ? static_cast<int>(w->id) : 0;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Window* w = WindowOrError(hDlg);
    if (!w)
        return nullptr;
    for (HWND child : w->children)
        if (GetDlgCtrlID(child) == nIDDlgItem)
            return child;
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SendMessageW(item, Msg, wParam, lParam) : 0;
}

// The dialog manager

namespace {

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    LONG_PTR id = 0;
    std::u16string className;
    std::u16string text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::u16string className;
    std::u16string title;
    bool hasFont = false;
    WORD points = 8;
    WORD weight = FW_NORMAL;
    bool italic = false;
    std::u16string face;
    std::vector<DialogItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const void* start) : m_start(static_cast<const BYTE*>(start)), m_p(m_start) {}

    WORD Word()
    {
        WORD v = static_cast<WORD>(m_p[0] | (m_p[1] << 8));
        m_p += 2;
        return v;
    }
    DWORD Dword()
    {
        DWORD lo = Word();
        return lo | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *m_p++; }
    std::u16string String()
    {
        std::u16string s;
        for (WORD c = Word(); c != 0; c = Word())
            s.push_back(static_cast<char16_t>(c));
        return s;
    }
    // A name or an ordinal: empty, 0xFFFF followed by the ordinal, or a text.
    std::u16string NameOrOrdinal(WORD* ordinal)
    {
        *ordinal = 0;
        WORD first = Word();
        if (first == 0)
            return {};
        if (first == 0xFFFF) {
            *ordinal = Word();
            return {};
        }
        std::u16string s(1, static_cast<char16_t>(first));
        for (WORD c = Word(); c != 0; c = Word())
            s.push_back(static_cast<char16_t>(c));
        return s;
    }
    void Skip(size_t bytes) { m_p += bytes; }
    void AlignDword() { m_p = m_start + ((m_p - m_start + 3) & ~static_cast<ptrdiff_t>(3)); }

private:
    const BYTE* m_start;
    const BYTE* m_p;
};

std::u16string ControlClassFromAtom(WORD atom)
{
    switch (atom) {
    case 0x0080: return u"Button";
    case 0x0081: return u"Edit";
    case 0x0082: return u"Static";
    case 0x0083: return u"ListBox";
    case 0x0084: return u"ScrollBar";
    case 0x0085: return u"ComboBox";
    default: return u"#" + ToUtf16(std::to_string(atom));
    }
}

// Reads a DLGTEMPLATEEX (version 1, signature 0xFFFF) or an original DLGTEMPLATE.
DialogTemplate ParseTemplate(const void* data)
{
    DialogTemplate t;
    TemplateReader r(data);
    WORD version = r.Word();
    WORD signature = r.Word();
    bool extended = version == 1 && signature == 0xFFFF;
    WORD count;
    if (extended) {
        r.Dword(); // help ID
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        TemplateReader again(data);
        t.style = again.Dword();
        t.exStyle = again.Dword();
        r = again;
    }
    count = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    WORD ordinal;
    r.NameOrOrdinal(&ordinal); // menu: dialogs here have none
    t.className = r.NameOrOrdinal(&ordinal);
    t.title = r.String();
    if (t.style & (DS_SETFONT | DS_FIXEDSYS)) {
        t.hasFont = true;
        t.points = r.Word();
        if (extended) {
            t.weight = r.Word();
            t.italic = r.Byte() != 0;
            r.Byte(); // character set
        }
        t.face = r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        DialogItem item;
        if (extended) {
            r.Dword(); // help ID
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = extended ? static_cast<LONG_PTR>(static_cast<int32_t>(r.Dword())) : static_cast<LONG_PTR>(r.Word());
        item.className = r.NameOrOrdinal(&ordinal);
        if (item.className.empty())
            item.className = ControlClassFromAtom(ordinal);
        item.text = r.NameOrOrdinal(&ordinal);
        if (item.text.empty() && ordinal)
            item.text = u"#" + ToUtf16(std::to_string(ordinal));
        r.Skip(r.Word()); // creation data
        t.items.push_back(std::move(item));
    }
    return t;
}

RECT DialogUnitsToPixels(SIZE base, short x, short y, short cx, short cy)
{
    int left = MulDivRound(x, base.cx, 4), top = MulDivRound(y, base.cy, 8);
    return {left, top, left + MulDivRound(cx, base.cx, 4), top + MulDivRound(cy, base.cy, 8)};
}

HWND FirstTabStop(const Window& dialog)
{
    for (HWND child : dialog.children)
        if (Window* c = FindWindowObject(child); c && (c->style & WS_TABSTOP) && c->visible && c->enabled)
            return child;
    return nullptr;
}

HWND CreateDialogFromTemplate(HINSTANCE instance, const void* data, HWND owner, DLGPROC proc, LPARAM param)
{
    DialogTemplate t = ParseTemplate(data);
    HFONT font = t.hasFont ? CreateDialogFont(t.face, t.points, t.weight, t.italic)
                           : static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    SIZE base = DialogBaseUnits(font);
    RECT frame = DialogUnitsToPixels(base, t.x, t.y, t.cx, t.cy);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT area = {};
    if (!owner || !GetWindowRect(owner, &area)) {
        SIZE screen = CurrentBackend().ScreenSize();
        area = {0, 0, screen.cx, screen.cy};
    }
    int x = area.left + frame.left, y = area.top + frame.top;
    if ((t.x == 0 && t.y == 0) || (t.style & DS_CENTER)) {
        // A dialog without a position of its own is centred over its owner or on the screen.
        x = area.left + (area.right - area.left - width) / 2;
        y = area.top + (area.bottom - area.top - height) / 2;
    }

    HWND hwnd = CreateWindowExW(t.exStyle, t.className.empty() ? u"#32770" : t.className.c_str(), t.title.c_str(),
                                t.style & ~WS_VISIBLE, x, y, width, height, owner, nullptr, instance, nullptr);
    if (!hwnd) {
        if (t.hasFont)
            DeleteObject(font);
        return nullptr;
    }
    Window* w = FindWindowObject(hwnd);
    w->dialog = true;
    w->baseUnits = base;
    w->ownedFont = t.hasFont ? font : nullptr;
    SetWindowLongPtrW(hwnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);

    for (const DialogItem& item : t.items) {
        RECT r = DialogUnitsToPixels(base, item.x, item.y, item.cx, item.cy);
        HWND child = CreateWindowExW(item.exStyle, item.className.c_str(), item.text.c_str(), item.style | WS_CHILD,
                                     r.left, r.top, r.right - r.left, r.bottom - r.top, hwnd,
                                     reinterpret_cast<HMENU>(item.id), instance, nullptr);
        if (!child) {
            std::fprintf(stderr, "winshim: dialog control %ld of class \"%s\" cannot be created\n",
                         static_cast<long>(item.id), ToUtf8(item.className).c_str());
            DestroyWindow(hwnd);
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    }

    HWND first = FirstTabStop(*w);
    if (SendMessageW(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && first && IsWindow(first))
        SetFocus(first);
    w = FindWindowObject(hwnd);
    if (w && (t.style & WS_VISIBLE) && !w->dialogEnded)
        ShowWindow(hwnd, SW_SHOWNORMAL);
    return hwnd;
}

} // namespace

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    if (!hDialogTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    HWND hwnd = CreateDialogFromTemplate(hInstance, hDialogTemplate, hWndParent, lpDialogFunc, dwInitParam);
    if (!hwnd)
        return -1;
    Window* w = FindWindowObject(hwnd);
    bool ownerDisabled = false;
    if (!w->dialogEnded && hWndParent && IsWindow(hWndParent))
        ownerDisabled = !EnableWindow(hWndParent, FALSE);
    if (!w->dialogEnded) {
        Trace("DialogBox %p: modal loop", static_cast<void*>(hwnd));
        RunMessageLoop(&w->dialogEnded);
    }
    INT_PTR result = w->dialogResult;
    if (ownerDisabled && IsWindow(hWndParent))
        EnableWindow(hWndParent, TRUE);
    DestroyWindow(hwnd);
    Trace("DialogBox %p: ended with %ld", static_cast<void*>(hwnd), static_cast<long>(result));
    return result;
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    HRSRC info = FindResourceW(hInstance, lpTemplateName, RT_DIALOG);
    const void* data = LockResource(LoadResource(hInstance, info));
    if (!data) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    return DialogBoxIndirectParamW(hInstance, static_cast<LPCDLGTEMPLATEW>(data), hWndParent, lpDialogFunc,
                                   dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Window* w = FindWindowObject(hDlg);
    if (!w || !w->dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    Trace("EndDialog(%p, %ld)", static_cast<void*>(hDlg), static_cast<long>(nResult));
    w->dialogEnded = true;
    w->dialogResult = nResult;
    ShowWindow(hDlg, SW_HIDE);
    WakeMessageLoop();
    return TRUE;
}

LRESULT WINAPI DefDlgProcW(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    DLGPROC proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hDlg, DWLP_DLGPROC));
    SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, 0);
    INT_PTR handled = proc ? proc(hDlg, Msg, wParam, lParam) : 0;
    if (!IsWindow(hDlg))
        return 0;
    if (handled) {
        // These messages take the dialog procedure's own result; the others its DWLP_MSGRESULT.
        switch (Msg) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
            return handled;
        }
        return GetWindowLongPtrW(hDlg, DWLP_MSGRESULT);
    }
    switch (Msg) {
    case WM_INITDIALOG:
        return 0;
    case WM_ERASEBKGND: {
        HDC hdc = reinterpret_cast<HDC>(wParam);
        HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageW(hDlg, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(hDlg)));
        if (!brush)
            brush = reinterpret_cast<HBRUSH>(DefWindowProcW(hDlg, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(hDlg)));
        RECT rc = {};
        GetClientRect(hDlg, &rc);
        FillRect(hdc, &rc, brush);
        return 1;
    }
    case WM_CLOSE:
        // The close command of a dialog is its Cancel button.
        PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
        return 0;
    }
    return DefWindowProcW(hDlg, Msg, wParam, lParam);
}

BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg)
{
    if (!lpMsg || lpMsg->message != WM_KEYDOWN || !IsWindow(hDlg))
        return FALSE;
    switch (lpMsg->wParam) {
    case VK_ESCAPE:
        SendMessageW(hDlg, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
        return TRUE;
    case VK_RETURN: {
        HWND focus = GetFocus();
        Window* f = FindWindowObject(focus);
        bool button = f && f->parent == hDlg && FoldClassName(f->className) == u"button";
        int id = button ? static_cast<int>(f->id) : IDOK;
        SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button ? focus : GetDlgItem(hDlg, IDOK)));
        return TRUE;
    }
    }
    return FALSE;
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect)
{
    Window* w = FindWindowObject(hDlg);
    if (!w || !w->dialog || !lpRect) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    lpRect->left = MulDivRound(lpRect->left, w->baseUnits.cx, 4);
    lpRect->right = MulDivRound(lpRect->right, w->baseUnits.cx, 4);
    lpRect->top = MulDivRound(lpRect->top, w->baseUnits.cy, 8);
    lpRect->bottom = MulDivRound(lpRect->bottom, w->baseUnits.cy, 8);
    return TRUE;
}

// Painting

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint)
{
    Window* w = FindWindowObject(hWnd);
    if (!w || !lpPaint) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    RECT client = {};
    GetClientRect(hWnd, &client);
    *lpPaint = {};
    lpPaint->hdc = CreateDeviceContext(hWnd, CurrentBackend().PaintTarget(hWnd), client.right, client.bottom);
    lpPaint->rcPaint = client;
    w->invalid = false;
    lpPaint->fErase = SendMessageW(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(lpPaint->hdc), 0) ? FALSE : TRUE;
    return lpPaint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT* lpPaint)
{
    return lpPaint ? DeleteDC(lpPaint->hdc) : FALSE;
}

HDC WINAPI GetDC(HWND hWnd)
{
    RECT client = {0, 0, 1, 1};
    if (hWnd && !GetClientRect(hWnd, &client))
        return nullptr;
    return CreateDeviceContext(hWnd, nullptr, client.right, client.bottom);
}

int WINAPI ReleaseDC(HWND, HDC hDC)
{
    return DeleteDC(hDC) ? 1 : 0;
}

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT*, BOOL)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return FALSE;
    w->invalid = true;
    Changed(hWnd, WindowChange::Invalidated);
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    Window* w = WindowOrError(hWnd);
    if (!w)
        return FALSE;
    if (w->invalid && IsWindowVisible(hWnd))
        CurrentBackend().PaintNow(hWnd);
    return TRUE;
}

BOOL WINAPI RedrawWindow(HWND hWnd, const RECT* lprcUpdate, void*, UINT flags)
{
    if ((flags & RDW_INVALIDATE) && !InvalidateRect(hWnd, lprcUpdate, (flags & RDW_ERASE) != 0))
        return FALSE;
    return (flags & RDW_UPDATENOW) ? UpdateWindow(hWnd) : TRUE;
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr)
{
    DeviceContext* dc = FindDeviceContext(hDC);
    COLORREF color;
    if (!dc || !lprc || !BrushColor(hbr, &color))
        return 0;
    cairo_save(dc->cr);
    SetSourceColor(dc->cr, color);
    cairo_rectangle(dc->cr, lprc->left, lprc->top, lprc->right - lprc->left, lprc->bottom - lprc->top);
    cairo_fill(dc->cr);
    cairo_restore(dc->cr);
    return 1;
}

namespace {

// "&x" marks a mnemonic and "&&" stands for "&"; the mark itself is not drawn.
std::u16string WithoutPrefixes(std::u16string_view text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        else if (text[i] == u'&')
            continue;
        out.push_back(text[i]);
    }
    return out;
}

} // namespace

int WINAPI DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, LPRECT lprc, UINT format)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc || !lprc || !lpchText) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view text(lpchText, cchText < 0 ? std::char_traits<char16_t>::length(lpchText)
                                                   : static_cast<size_t>(cchText));
    std::u16string shown = (format & DT_NOPREFIX) ? std::u16string(text) : WithoutPrefixes(text);
    PangoLayout* layout = CreateTextLayout(dc, shown);
    int width = lprc->right - lprc->left;
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE)) {
        pango_layout_set_width(layout, width * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_alignment(layout, (format & DT_CENTER)  ? PANGO_ALIGN_CENTER
                                       : (format & DT_RIGHT) ? PANGO_ALIGN_RIGHT
                                                             : PANGO_ALIGN_LEFT);
    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    int x = lprc->left, y = lprc->top;
    if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) {
        if (format & DT_CENTER)
            x += (width - textWidth) / 2;
        else if (format & DT_RIGHT)
            x += width - textWidth;
    }
    if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
        y += (lprc->bottom - lprc->top - textHeight) / 2;
    cairo_save(dc->cr);
    cairo_rectangle(dc->cr, lprc->left, lprc->top, width, lprc->bottom - lprc->top);
    cairo_clip(dc->cr);
    ShowTextLayout(dc, layout, x, y);
    cairo_restore(dc->cr);
    g_object_unref(layout);
    return textHeight;
}

// The Button and Static controls

namespace {

HBRUSH ControlBrush(HWND hwnd, UINT message, HDC hdc)
{
    HWND parent = GetParent(hwnd);
    HBRUSH brush = reinterpret_cast<HBRUSH>(
        SendMessageW(parent, message, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
    if (!brush)
        brush = reinterpret_cast<HBRUSH>(
            DefWindowProcW(parent, message, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
    return brush;
}

} // namespace

namespace winshim {

LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETTEXT: {
        // A new text is painted at once, also when the thread is about to be busy for a while.
        LRESULT result = DefWindowProcW(hwnd, msg, wParam, lParam);
        UpdateWindow(hwnd);
        return result;
    }
    case WM_ERASEBKGND:
        return 1; // the paint fills the background with the parent's brush
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hwnd, &ps);
        Window* w = FindWindowObject(hwnd);
        if (w->font)
            SelectObject(hdc, w->font);
        HBRUSH brush = ControlBrush(hwnd, WM_CTLCOLORSTATIC, hdc);
        RECT rc = {};
        GetClientRect(hwnd, &rc);
        FillRect(hdc, &rc, brush);
        UINT align = (w->style & 0x1F) == SS_CENTER ? DT_CENTER : (w->style & 0x1F) == SS_RIGHT ? DT_RIGHT : DT_LEFT;
        UINT format = align | DT_WORDBREAK | DT_EXPANDTABS | ((w->style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
        std::u16string text = w->text;
        DrawTextW(hdc, text.c_str(), static_cast<int>(text.size()), &rc, format);
        EndPaint(hwnd, &ps);
        return 0;
    }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case BM_CLICK:
        SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE)
            return SendMessageW(hwnd, BM_CLICK, 0, 0);
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hwnd, &ps);
        Window* w = FindWindowObject(hwnd);
        if (w->font)
            SelectObject(hdc, w->font);
        RECT rc = {};
        GetClientRect(hwnd, &rc);
        FillRect(hdc, &rc, ControlBrush(hwnd, WM_CTLCOLORBTN, hdc));
        RECT inner = {rc.left + 1, rc.top + 1, rc.right - 1, rc.bottom - 1};
        FillRect(hdc, &rc, GetSysColorBrush(COLOR_WINDOWTEXT));
        FillRect(hdc, &inner, GetSysColorBrush(COLOR_BTNFACE));
        SetBkMode(hdc, TRANSPARENT);
        std::u16string text = w->text;
        DrawTextW(hdc, text.c_str(), static_cast<int>(text.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(hwnd, &ps);
        return 0;
    }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace winshim

// Icons

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14);

uint32_t ReadLe32(const BYTE* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadLe16(const BYTE* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct PngSource {
    const BYTE* data;
    size_t size;
    size_t pos;
};

cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length)
{
    PngSource* s = static_cast<PngSource*>(closure);
    if (s->pos + length > s->size)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, s->data + s->pos, length);
    s->pos += length;
    return CAIRO_STATUS_SUCCESS;
}

// An icon image as stored in RT_ICON: a PNG file, or a BITMAPINFOHEADER with the colour bitmap
// (bottom-up, with a palette up to 8 bits per pixel) followed by the 1-bit AND mask.
cairo_surface_t* DecodeIconImage(const BYTE* data, DWORD size)
{
    static const BYTE pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(data, pngSignature, 8) == 0) {
        PngSource source{data, size, 0};
        cairo_surface_t* png = cairo_image_surface_create_from_png_stream(ReadPng, &source);
        if (cairo_surface_status(png) == CAIRO_STATUS_SUCCESS)
            return png;
        cairo_surface_destroy(png);
        return nullptr;
    }
    if (size < 40 || ReadLe32(data) < 40)
        return nullptr;
    DWORD headerSize = ReadLe32(data);
    int width = static_cast<int32_t>(ReadLe32(data + 4));
    int height = static_cast<int32_t>(ReadLe32(data + 8)) / 2;
    int bpp = ReadLe16(data + 14);
    DWORD compression = ReadLe32(data + 16);
    DWORD colorsUsed = ReadLe32(data + 32);
    if (width <= 0 || height <= 0 || width > 1024 || height > 1024 || compression != 0 ||
        (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32))
        return nullptr;
    size_t paletteCount = bpp <= 8 ? (colorsUsed ? colorsUsed : (1u << bpp)) : 0;
    size_t colorStride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
    const BYTE* palette = data + headerSize;
    const BYTE* colors = palette + paletteCount * 4;
    const BYTE* mask = colors + colorStride * height;
    bool hasMask = mask + maskStride * height <= data + size;
    if (colors + colorStride * height > data + size)
        return nullptr;

    bool alphaChannel = false;
    if (bpp == 32)
        for (int y = 0; y < height && !alphaChannel; ++y)
            for (int x = 0; x < width && !alphaChannel; ++x)
                alphaChannel = colors[y * colorStride + x * 4 + 3] != 0;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_surface_flush(surface);
    unsigned char* pixels = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        const BYTE* row = colors + (height - 1 - y) * colorStride;
        const BYTE* maskRow = mask + (height - 1 - y) * maskStride;
        uint32_t* out = reinterpret_cast<uint32_t*>(pixels + y * stride);
        for (int x = 0; x < width; ++x) {
            BYTE b, g, r, a = 255;
            if (bpp >= 24) {
                const BYTE* p = row + x * (bpp / 8);
                b = p[0];
                g = p[1];
                r = p[2];
                if (alphaChannel)
                    a = p[3];
            } else {
                int index = (row[x * bpp / 8] >> (8 - bpp - (x * bpp) % 8)) & ((1 << bpp) - 1);
                const BYTE* p = palette + 4 * (static_cast<size_t>(index) < paletteCount ? index : 0);
                b = p[0];
                g = p[1];
                r = p[2];
            }
            if (!alphaChannel && hasMask && ((maskRow[x / 8] >> (7 - x % 8)) & 1))
                a = 0;
            out[x] = (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r * a / 255) << 16) |
                     (static_cast<uint32_t>(g * a / 255) << 8) | static_cast<uint32_t>(b * a / 255);
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

std::mutex g_iconMutex;
std::map<HICON, std::unique_ptr<Icon>> g_icons;
std::map<std::pair<HINSTANCE, std::u16string>, HICON> g_sharedIcons;
ULONG_PTR g_nextIcon = 0x60000;

std::u16string IconKey(LPCWSTR name)
{
    return IS_INTRESOURCE(name) ? u"#" + ToUtf16(std::to_string(reinterpret_cast<ULONG_PTR>(name))) : name;
}

} // namespace

namespace winshim {

Icon::~Icon()
{
    for (IconImage& image : images)
        cairo_surface_destroy(image.surface);
}

const IconImage* Icon::Best(int size) const
{
    const IconImage* larger = nullptr;
    const IconImage* largest = nullptr;
    for (const IconImage& image : images) {
        if (image.width == size)
            return &image;
        if (image.width > size && (!larger || image.width < larger->width))
            larger = &image;
        if (!largest || image.width > largest->width)
            largest = &image;
    }
    return larger ? larger : largest;
}

const Icon* FindIcon(HICON icon)
{
    std::lock_guard lock(g_iconMutex);
    auto it = g_icons.find(icon);
    return it == g_icons.end() ? nullptr : it->second.get();
}

DWORD IconCount()
{
    std::lock_guard lock(g_iconMutex);
    return static_cast<DWORD>(g_icons.size());
}

} // namespace winshim

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName)
{
    if (!lpIconName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto key = std::make_pair(hInstance, IconKey(lpIconName));
    {
        std::lock_guard lock(g_iconMutex);
        auto it = g_sharedIcons.find(key);
        if (it != g_sharedIcons.end())
            return it->second;
    }
    HRSRC groupInfo = hInstance ? FindResourceW(hInstance, lpIconName, RT_GROUP_ICON) : nullptr;
    const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(hInstance, groupInfo)));
    DWORD groupSize = SizeofResource(hInstance, groupInfo);
    if (!group || groupSize < 6 || ReadLe16(group + 2) != 1) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto icon = std::make_unique<Icon>();
    WORD count = ReadLe16(group + 4);
    for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(GroupIconEntry) <= groupSize; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group + 6 + i * sizeof(GroupIconEntry), sizeof entry);
        HRSRC info = FindResourceW(hInstance, MAKEINTRESOURCEW(entry.id), RT_ICON);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(hInstance, info)));
        cairo_surface_t* surface = data ? DecodeIconImage(data, SizeofResource(hInstance, info)) : nullptr;
        if (!surface) {
            std::fprintf(stderr, "winshim: icon image %u of icon %s cannot be read\n", entry.id,
                         ToUtf8(key.second).c_str());
            continue;
        }
        icon->images.push_back(
            {cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface), surface});
    }
    if (icon->images.empty()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lock(g_iconMutex);
    auto [shared, inserted] = g_sharedIcons.emplace(key, nullptr);
    if (inserted) {
        shared->second = reinterpret_cast<HICON>(g_nextIcon);
        g_nextIcon += 4;
        g_icons.emplace(shared->second, std::move(icon));
    }
    return shared->second;
}

BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon)
{
    Trace("DrawIcon(%p, %d, %d, %p)", static_cast<void*>(hDC), X, Y, static_cast<void*>(hIcon));
    DeviceContext* dc = FindDeviceContext(hDC);
    const Icon* icon = FindIcon(hIcon);
    if (!dc || !icon) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    const IconImage* image = icon->Best(cx);
    cairo_save(dc->cr);
    cairo_rectangle(dc->cr, X, Y, cx, cy);
    cairo_clip(dc->cr);
    cairo_translate(dc->cr, X, Y);
    cairo_scale(dc->cr, static_cast<double>(cx) / image->width, static_cast<double>(cy) / image->height);
    cairo_set_source_surface(dc->cr, image->surface, 0, 0);
    // The edge pixels are repeated outwards, so that scaling blends nothing in from outside the image.
    cairo_pattern_set_extend(cairo_get_source(dc->cr), CAIRO_EXTEND_PAD);
    cairo_paint(dc->cr);
    cairo_restore(dc->cr);
    return TRUE;
}

BOOL WINAPI DestroyIcon(HICON hIcon)
{
    // Icons loaded from resources are shared and stay for the life of the process.
    if (!FindIcon(hIcon)) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// System metrics and colours

int WINAPI GetSystemMetrics(int nIndex)
{
    switch (nIndex) {
    case SM_CXSCREEN: return CurrentBackend().ScreenSize().cx;
    case SM_CYSCREEN: return CurrentBackend().ScreenSize().cy;
    case SM_CXICON:
    case SM_CYICON: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    }
    return 0;
}

DWORD WINAPI GetSysColor(int nIndex)
{
    switch (nIndex) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT: return RGB(51, 153, 255);
    }
    return RGB(240, 240, 240);
}

DWORD WINAPI GetGuiResources(HANDLE, DWORD uiFlags)
{
    if (uiFlags == GR_GDIOBJECTS)
        return GdiObjectCount();
    if (uiFlags == GR_USEROBJECTS) {
        std::lock_guard lock(g_windowMutex);
        return static_cast<DWORD>(g_windows.size()) + IconCount();
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}
