// What user32, gdi32, comctl32 and the window back ends share: the window table, the posted
// message queue, device contexts, brushes, fonts and icons.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <cairo.h>
#include <pango/pangocairo.h>

#include <windows.h>

#include "trace.h"

namespace winshim {

// One window of the window table. Only the window's own thread reads or writes its fields;
// other threads may only ask whether a handle names a window (PostMessageW).
struct Window {
    HWND handle = nullptr;
    std::u16string className;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    LONG_PTR id = 0;
    HWND parent = nullptr;          // the parent of a child window, the owner of a popup
    std::vector<HWND> children;     // in creation order: z-order and tab order
    RECT rect = {};                 // a child's in its parent's client area; a top-level window's on the screen
    std::u16string text;
    HINSTANCE instance = nullptr;
    LONG_PTR userData = 0;
    std::vector<LONG_PTR> extra;    // the class's window extra words (DWLP_*, control state)
    HFONT font = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    bool visible = false;
    bool enabled = true;
    bool iconic = false;
    DWORD threadId = 0;

    bool invalid = false;           // waits to be painted

    // Dialog manager state of a dialog window.
    bool dialog = false;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
    SIZE baseUnits = {};            // of the dialog's font, for dialog units
    HFONT ownedFont = nullptr;      // the template's font, deleted with the dialog

    // The back end's own object for this window (a GTK widget), if any.
    void* peer = nullptr;
};

// Valid on the window's own thread until the window is destroyed; NULL for a stale handle.
Window* FindWindowObject(HWND hwnd);
std::vector<HWND> TopLevelWindows();

// Window procedures of the built-in control classes.
LRESULT CALLBACK ButtonWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ProgressWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void RegisterProgressClass();

// Runs the thread's message loop (GLib's main context) until *done is true.
void RunMessageLoop(const bool* done);
// Wakes a loop that waits, so that it looks at its condition again.
void WakeMessageLoop();

// Dialog base units of a font: the average character width and the character height in pixels.
SIZE DialogBaseUnits(HFONT font);
// The font a dialog template names (face, points, weight, italic).
HFONT CreateDialogFont(std::u16string_view face, int points, int weight, bool italic);

// Device contexts. A DC draws with cairo onto a window's paint target or onto an offscreen image.
struct DeviceContext {
    cairo_t* cr = nullptr;
    cairo_surface_t* ownSurface = nullptr; // an offscreen image, freed with the DC
    HWND hwnd = nullptr;
    int bkMode = OPAQUE;
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
};

// A DC on cr (borrowed; the DC keeps its own reference), or on a new offscreen image of width by height.
HDC CreateDeviceContext(HWND hwnd, cairo_t* cr, int width, int height);
DeviceContext* FindDeviceContext(HDC hdc);
bool BrushColor(HBRUSH brush, COLORREF* color); // false for a hollow or unknown brush
void SetSourceColor(cairo_t* cr, COLORREF color);

struct FontSpec {
    std::string family; // a Pango family list
    int pixelHeight = 11;
    int weight = FW_NORMAL;
    bool italic = false;
};
bool FindFont(HFONT font, FontSpec* spec);
FontSpec DefaultGuiFont();
// A layout of text in the DC's font (the default GUI font when none is selected); g_object_unref it.
PangoLayout* CreateTextLayout(DeviceContext* dc, std::u16string_view text);
// Fills the rectangle behind a text when the DC's background mode is OPAQUE, then draws the text
// in the DC's text colour.
void ShowTextLayout(DeviceContext* dc, PangoLayout* layout, int x, int y);

// An icon: the images of an icon group (or one image), each a premultiplied ARGB32 cairo image.
struct IconImage {
    int width = 0;
    int height = 0;
    cairo_surface_t* surface = nullptr;
};
struct Icon {
    std::vector<IconImage> images;
    ~Icon();
    // The image that serves best for a size: the same size, else the smallest larger, else the largest.
    const IconImage* Best(int size) const;
};
const Icon* FindIcon(HICON icon);

// Counts of objects for GetGuiResources.
DWORD GdiObjectCount();
DWORD IconCount();

// Optional tracing of calls (WINSHIM_TRACE=1, or a test's handler).

} // namespace winshim
