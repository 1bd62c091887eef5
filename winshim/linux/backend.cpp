#include "backend.h"

#include <windows.h>
#include <winshim_ext.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gui.h"

namespace winshim {

UiBackend& CurrentBackend()
{
    static UiBackend* backend = [] {
        const char* choice = std::getenv("WINSHIM_UI");
        if (choice && std::strcmp(choice, "headless") == 0)
            return &HeadlessBackend();
        if (choice && *choice && std::strcmp(choice, "gtk") != 0)
            std::fprintf(stderr, "winshim: WINSHIM_UI=%s is neither gtk nor headless; choosing by the display\n",
                         choice);
        if (UiBackend* gtk = GtkBackend())
            return gtk;
        if (choice && std::strcmp(choice, "gtk") == 0)
            std::fprintf(stderr, "winshim: WINSHIM_UI=gtk, but no display can be opened; running headless\n");
        return &HeadlessBackend();
    }();
    return *backend;
}

void UiBackend::PaintNow(HWND hwnd)
{
    SendMessageW(hwnd, WM_PAINT, 0, 0);
}

std::vector<MessageBoxButton> MessageBoxButtons(UINT type)
{
    static const MessageBoxButton ok{IDOK, "OK", "OK"}, cancel{IDCANCEL, "CANCEL", "Cancel"},
        abort{IDABORT, "ABORT", "_Abort"}, retry{IDRETRY, "RETRY", "_Retry"}, ignore{IDIGNORE, "IGNORE", "_Ignore"},
        yes{IDYES, "YES", "_Yes"}, no{IDNO, "NO", "_No"};
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

int MessageBoxCloseAnswer(UINT type)
{
    // A box can be closed only when it has a Cancel button, or when OK is its only button.
    std::vector<MessageBoxButton> buttons = MessageBoxButtons(type);
    for (const MessageBoxButton& b : buttons)
        if (b.id == IDCANCEL)
            return IDCANCEL;
    return buttons.size() == 1 ? buttons[0].id : 0;
}

const char* MessageBoxIconName(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONEXCLAMATION: return "warning";
    case MB_ICONASTERISK: return "information";
    default: return "none";
    }
}

} // namespace winshim
