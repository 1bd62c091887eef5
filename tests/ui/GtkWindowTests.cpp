// The main dialog as a real GTK window on an X display of its own (Xvfb): the window is
// photographed from the X server and the picture checked: its size, the white band, the label, the
// progress bar with its filled part, the status line and the Cancel button where the template
// puts them, and the title.
#include "UiFixture.h"
#include "Xvfb.h"

#include <cstring>

#include <cairo.h>

namespace ui_test {
namespace {

struct Picture {
    cairo_surface_t* surface = nullptr;
    ~Picture()
    {
        if (surface)
            cairo_surface_destroy(surface);
    }
    int Width() const { return cairo_image_surface_get_width(surface); }
    int Height() const { return cairo_image_surface_get_height(surface); }
    COLORREF At(int x, int y) const
    {
        const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // The smallest rectangle holding every pixel that is not the black of the empty screen.
    RECT Drawn() const
    {
        RECT r = {Width(), Height(), 0, 0};
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                if (At(x, y) != RGB(0, 0, 0))
                    r = {std::min<LONG>(r.left, x), std::min<LONG>(r.top, y), std::max<LONG>(r.right, x + 1),
                         std::max<LONG>(r.bottom, y + 1)};
        return r;
    }
    // How many pixels of the rectangle (relative to origin) have a colour other than background.
    int CountOther(POINT origin, RECT r, COLORREF background) const
    {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                n += At(origin.x + x, origin.y + y) != background ? 1 : 0;
        return n;
    }
};

bool TakeScreenshot(const std::string& path, Picture& picture)
{
    std::string command = "import -window root 'png:" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return false;
    if (picture.surface)
        cairo_surface_destroy(picture.surface);
    picture.surface = cairo_image_surface_create_from_png(path.c_str());
    cairo_surface_flush(picture.surface);
    return cairo_surface_status(picture.surface) == CAIRO_STATUS_SUCCESS;
}

void SaveWindow(const Picture& screen, RECT r, const std::string& path)
{
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, r.right - r.left, r.bottom - r.top);
    cairo_t* cr = cairo_create(out);
    cairo_set_source_surface(cr, screen.surface, -r.left, -r.top);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(out, path.c_str());
    cairo_surface_destroy(out);
}

TEST(GtkWindow, ScreenshotShowsTheTemplate)
{
    if (!OnPath("Xvfb"))
        GTEST_SKIP() << "Xvfb is not installed: the GTK window cannot be shown here";
    if (!OnPath("import") || !OnPath("xwininfo") || !OnPath("xprop"))
        GTEST_SKIP() << "ImageMagick's import, xwininfo or xprop is missing: the window cannot be photographed";
    Xvfb server;
    ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", server.Display().c_str(), 1);
    setenv("WINSHIM_UI", "gtk", 1);
    setenv("NO_AT_BRIDGE", "1", 1); // no accessibility bus on the test's display

    UiWorld world;
    CSorvaneDlg dlg;
    FakeBitsJob& job = world.manager.Job(0);
    job.m_state = BG_JOB_STATE_TRANSFERRING;
    job.SetProgress(3000, 1000); // the window's first poll sets a third of the bar

    const std::string shot = std::string(SCREENSHOT_DIR) + "/screen.png";
    Picture screen, busy;
    int changedPixels = 0;
    RECT size = {0, 0, 317, 80}, band = {0, 0, 317, 55}, label = {8, 6, 308, 34}, bar = {8, 37, 308, 51},
         status = {8, 58, 217, 66}, button = {259, 59, 309, 73};
    RECT drawn = {};
    std::string windows, title;
    world.RunModal(dlg, [&](CSorvaneDlg& d) {
        HWND hwnd = d.GetSafeHwnd();
        for (RECT* r : {&size, &band, &label, &bar, &status, &button})
            MapDialogRect(hwnd, r);
        // Photographed once the first poll has been shown and the window is fully on the screen.
        PumpUntil([&] { return WindowText(Control(d, IDC_STATUS)).size() > 0; });
        PumpUntil(
            [&] {
                if (!TakeScreenshot(shot, screen))
                    return false;
                drawn = screen.Drawn();
                return drawn.right - drawn.left == size.right && drawn.bottom - drawn.top == size.bottom &&
                       screen.CountOther({drawn.left, drawn.top}, status, GetSysColor(COLOR_3DFACE)) > 0 &&
                       screen.CountOther({drawn.left, drawn.top}, label, RGB(255, 255, 255)) > 0;
            },
            std::chrono::seconds(20));
        // A new status text is on the screen at once, before the loop runs again: as when the
        // unpacking that follows keeps the thread busy.
        SetWindowTextW(Control(d, IDC_STATUS), u"Tiek veikta failu atarhivēšana...");
        if (TakeScreenshot(std::string(SCREENSHOT_DIR) + "/screen-busy.png", busy)) {
            for (int y = status.top; y < status.bottom; ++y)
                for (int x = status.left; x < status.right; ++x)
                    changedPixels += busy.At(drawn.left + x, drawn.top + y) != screen.At(drawn.left + x, drawn.top + y);
        }
        windows = CommandOutput("xwininfo -root -children");
        title = CommandOutput("LC_ALL=C.UTF-8 xprop -id $(xwininfo -root -children | awk '/" +
                              std::to_string(size.right) + "x" + std::to_string(size.bottom) +
                              "/ {print $1; exit}') _NET_WM_NAME");
        world.boxes.answers = {IDYES};
        SendMessageW(Control(d, IDCANCEL), BM_CLICK, 0, 0);
    });
    unsetenv("DISPLAY");
    ASSERT_NE(nullptr, screen.surface) << "no screenshot";

    // The window: its client area is the template's 317 by 80 dialog units, and nothing else.
    EXPECT_EQ(size.right, drawn.right - drawn.left);
    EXPECT_EQ(size.bottom, drawn.bottom - drawn.top);
    POINT at = {drawn.left, drawn.top};
    SaveWindow(screen, drawn, std::string(SCREENSHOT_DIR) + "/sorvane-window.png");

    // The white band across the top, under the label and the bar; the dialog's grey below it.
    const COLORREF white = RGB(255, 255, 255), grey = GetSysColor(COLOR_3DFACE);
    EXPECT_EQ(white, screen.At(at.x + 2, at.y + 2));
    EXPECT_EQ(white, screen.At(at.x + size.right - 3, at.y + band.bottom - 3));
    EXPECT_EQ(grey, screen.At(at.x + 2, at.y + band.bottom + 2));
    EXPECT_EQ(grey, screen.At(at.x + size.right - 3, at.y + size.bottom - 3));
    EXPECT_EQ(0, screen.CountOther(at, {0, band.bottom, status.left, size.bottom}, grey))
        << "only the dialog's background left of the status line";

    // The label's text on the band, the status line's text on the grey.
    EXPECT_GT(screen.CountOther(at, label, white), 50) << "the label";
    EXPECT_GT(screen.CountOther(at, status, grey), 20) << "the status line";

    // The bar: a third filled, in another colour than the rest of its trough.
    int y = (bar.top + bar.bottom) / 2, third = bar.left + (bar.right - bar.left) / 3;
    COLORREF filled = screen.At(at.x + bar.left + (third - bar.left) / 2, at.y + y);
    COLORREF empty = screen.At(at.x + third + (bar.right - third) / 2, at.y + y);
    EXPECT_NE(filled, empty) << "the filled part of the bar";
    EXPECT_NE(white, filled);

    // The Cancel button: drawn where the template puts it, below the band on the right.
    EXPECT_GT(screen.CountOther(at, button, grey), 50) << "the Cancel button";
    // (GTK's theme draws a shadow of a few pixels around its button.)
    EXPECT_EQ(0, screen.CountOther(at, {status.right + 2, band.bottom + 1, button.left - 4, size.bottom}, grey))
        << "between the status line and the button there is nothing";

    EXPECT_GT(changedPixels, 20) << "the status line painted at once";

    EXPECT_NE(std::string::npos, title.find("Sistēma „Lorvas Kaldo” – instalācijas lejupielāde")) << title << windows;
    EXPECT_EQ("job1.Suspend()", world.manager.Calls().back()) << "the GTK button is the Cancel button";
}

} // namespace
} // namespace ui_test
