// user32: strings from resources and message boxes.
#include <windows.h>
#include <winshim_ext.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "backend.h"
#include "text.h"

using namespace winshim;

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

namespace winshim {

std::vector<MessageBoxButton> MessageBoxButtons(UINT type)
{
    static const MessageBoxButton ok{IDOK, "OK", "OK"}, cancel{IDCANCEL, "CANCEL", "Cancel"},
        abort{IDABORT, "ABORT", "Abort"}, retry{IDRETRY, "RETRY", "Retry"}, ignore{IDIGNORE, "IGNORE", "Ignore"},
        yes{IDYES, "YES", "Yes"}, no{IDNO, "NO", "No"};
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {ok, cancel};
    case MB_ABORTRETRYIGNORE: return {abort, retry, ignore};
    case MB_YESNOCANCEL: return {yes, no, cancel};
    case MB_YESNO: return {yes, no};
    case MB_RETRYCANCEL: return {retry, cancel};
    default: return {ok};
    }
}

int MessageBoxDefaultButton(UINT type)
{
    std::vector<MessageBoxButton> buttons = MessageBoxButtons(type);
    size_t index = (type & MB_DEFMASK) >> 8;
    return buttons[index < buttons.size() ? index : 0].id;
}

} // namespace winshim

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    return CurrentBackend().MessageBox(hWnd, lpText ? lpText : u"", lpCaption ? lpCaption : u"Error", uType);
}
