// comctl32: the common controls. The progress bar keeps its range, position and step in its
// window extra words.
#include <windows.h>
#include <commctrl.h>

#include <mutex>

#include "gui.h"

using namespace winshim;

namespace {

enum ProgressSlot { kMin = 0, kMax, kPos, kStep, kSlots };

LONG_PTR Get(HWND hwnd, ProgressSlot slot)
{
    return GetWindowLongPtrW(hwnd, slot * static_cast<int>(sizeof(LONG_PTR)));
}

void Set(HWND hwnd, ProgressSlot slot, LONG_PTR value)
{
    SetWindowLongPtrW(hwnd, slot * static_cast<int>(sizeof(LONG_PTR)), value);
}

// Moves the bar to pos, kept inside the range; returns the previous position.
LRESULT MoveTo(HWND hwnd, LONG_PTR pos)
{
    LONG_PTR low = Get(hwnd, kMin), high = Get(hwnd, kMax), previous = Get(hwnd, kPos);
    pos = pos < low ? low : (pos > high ? high : pos);
    if (pos != previous) {
        Set(hwnd, kPos, pos);
        InvalidateRect(hwnd, nullptr, FALSE);
    }
    return previous;
}

LRESULT SetRange(HWND hwnd, LONG_PTR low, LONG_PTR high)
{
    LRESULT previous = MAKELONG(Get(hwnd, kMin), Get(hwnd, kMax));
    Set(hwnd, kMin, low);
    Set(hwnd, kMax, high);
    MoveTo(hwnd, Get(hwnd, kPos));
    InvalidateRect(hwnd, nullptr, FALSE);
    return previous;
}

void Paint(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    RECT rc = {};
    GetClientRect(hwnd, &rc);
    FillRect(hdc, &rc, GetSysColorBrush(COLOR_3DFACE));
    LONG_PTR low = Get(hwnd, kMin), high = Get(hwnd, kMax), pos = Get(hwnd, kPos);
    if (high > low) {
        RECT bar = rc;
        bar.right = rc.left + static_cast<LONG>((rc.right - rc.left) * (pos - low) / (high - low));
        FillRect(hdc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    EndPaint(hwnd, &ps);
}

} // namespace

namespace winshim {

LRESULT CALLBACK ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        Set(hwnd, kMin, 0);
        Set(hwnd, kMax, 100);
        Set(hwnd, kPos, 0);
        Set(hwnd, kStep, 10);
        return 0;
    case PBM_SETRANGE:
        return SetRange(hwnd, LOWORD(lParam), HIWORD(lParam));
    case PBM_SETRANGE32:
        return SetRange(hwnd, static_cast<int>(wParam), static_cast<int>(lParam));
    case PBM_GETRANGE: {
        PBRANGE* range = reinterpret_cast<PBRANGE*>(lParam);
        if (range) {
            range->iLow = static_cast<int>(Get(hwnd, kMin));
            range->iHigh = static_cast<int>(Get(hwnd, kMax));
        }
        return wParam ? Get(hwnd, kMin) : Get(hwnd, kMax);
    }
    case PBM_SETPOS:
        return MoveTo(hwnd, static_cast<int>(wParam));
    case PBM_DELTAPOS:
        return MoveTo(hwnd, Get(hwnd, kPos) + static_cast<int>(wParam));
    case PBM_GETPOS:
        return Get(hwnd, kPos);
    case PBM_SETSTEP: {
        LRESULT previous = Get(hwnd, kStep);
        Set(hwnd, kStep, static_cast<int>(wParam));
        return previous;
    }
    case PBM_STEPIT: {
        // Stepping past the end starts again from the beginning.
        LONG_PTR next = Get(hwnd, kPos) + Get(hwnd, kStep);
        if (next > Get(hwnd, kMax))
            next = Get(hwnd, kMin) + (next - Get(hwnd, kMax));
        return MoveTo(hwnd, next);
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterProgressClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW cls = {};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = ProgressWndProc;
        cls.cbWndExtra = kSlots * sizeof(LONG_PTR);
        cls.lpszClassName = PROGRESS_CLASSW;
        RegisterClassExW(&cls);
    });
}

} // namespace winshim

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce)
{
    if (!picce || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (picce->dwICC & ICC_PROGRESS_CLASS)
        RegisterProgressClass();
    return TRUE;
}
