// The window back end: a real GTK display, or headless for tests and automation.
// WINSHIM_UI=gtk|headless chooses; without it, GTK when a display is available.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "windef.h"

namespace winshim {

struct MessageBoxButton {
    int id;             // IDOK, IDCANCEL, ...
    const char* name;   // "OK", "CANCEL", ... as written in WINSHIM_MSGBOX_REPLIES
    const char* label;  // the text on the button
};

// The buttons of an MB_ button set, in the order Windows shows them, and the default one.
std::vector<MessageBoxButton> MessageBoxButtons(UINT type);
int MessageBoxDefaultButton(UINT type);

class UiBackend {
public:
    virtual ~UiBackend() = default;
    virtual int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) = 0;
};

UiBackend& CurrentBackend();
UiBackend& HeadlessBackend();

} // namespace winshim
