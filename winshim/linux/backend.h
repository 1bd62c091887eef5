// The window back end: a real GTK display, or headless for tests and automation.
// WINSHIM_UI=gtk|headless chooses; without it, GTK when a display can be opened.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <cairo.h>

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
// The answer that closing the box (Esc, the close button) gives, or 0 when the box cannot be closed so.
int MessageBoxCloseAnswer(UINT type);
const char* MessageBoxIconName(UINT type);

enum class WindowChange {
    Visibility, // shown or hidden, minimised or restored
    Text,
    Position,
    Icon,
    Enabled,
    Focus,
    Invalidated, // its contents must be painted again
};

class UiBackend {
public:
    virtual ~UiBackend() = default;
    virtual const char* Name() const = 0;

    // Shows a message box and runs a nested message loop until it is answered.
    virtual int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) = 0;

    // Called on the window's thread: after a window has been created (a child after its parent),
    // before it is destroyed (children first), and when something the user sees has changed.
    virtual void WindowCreated(HWND hwnd) {}
    virtual void WindowDestroyed(HWND hwnd) {}
    virtual void WindowChanged(HWND hwnd, WindowChange change) {}

    // The cairo context of a paint of hwnd that is under way, or NULL.
    virtual cairo_t* PaintTarget(HWND hwnd) { return nullptr; }
    // Paints the window at once, outside the display's own drawing cycle (UpdateWindow).
    virtual void PaintNow(HWND hwnd);
    virtual SIZE ScreenSize() { return {1024, 768}; }
};

UiBackend& CurrentBackend();
UiBackend& HeadlessBackend();
// NULL when no display can be opened.
UiBackend* GtkBackend();

// True while a test's message box handler is installed; boxes then go to the headless back end.
bool MessageBoxHandlerInstalled();

} // namespace winshim
