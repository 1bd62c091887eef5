// winshim's user interface on the headless back end: the dialog manager with the program's own
// template, message loops and posted messages, Esc and the close button, message boxes, the
// progress bar, icons, GDI objects and StrFormatByteSizeW.
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>
#include <winshim_ext.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "TempHome.h"
#include <winshim_sanitizers.h>
#include "WinshimUi.h"

namespace {

using namespace sorvane_test;

const int kIdcProgress = 1000;
const int kIdcStatus = 1001;
const int kMainDialog = 102;

void OffsetRectBy(RECT& r, int dx, int dy)
{
    r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

int MulDiv(int number, int numerator, int denominator)
{
    long long product = static_cast<long long>(number) * numerator;
    return static_cast<int>((product + (product >= 0 ? denominator / 2 : -denominator / 2)) / denominator);
}

class WinshimUiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_program = WinshimLoadResourceFile(PROGRAM_RES);
        INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&init);
    }
    void SetUp() override { ASSERT_NE(nullptr, s_program) << "cannot read " << PROGRAM_RES; }

    static HMODULE s_program;
};

HMODULE WinshimUiTest::s_program = nullptr;

// StrFormatByteSizeW

TEST(StrFormatByteSize, ThreeSignificantDigitsCutOff)
{
    setenv("LC_ALL", "C", 1); // the decimal point of the documented examples
    struct Case {
        LONGLONG bytes;
        const char16_t* expected;
    };
    const Case cases[] = {
        // Windows' documented examples
        {532, u"532 bytes"},
        {1340, u"1.30 KB"},
        {23506, u"22.9 KB"},
        {2400016, u"2.28 MB"},
        {2400000000LL, u"2.23 GB"},
        // the edges between the forms
        {0, u"0 bytes"},
        {1023, u"1023 bytes"},
        {1024, u"1.00 KB"},
        {10239, u"9.99 KB"},
        {10240, u"10.0 KB"},
        {102399, u"99.9 KB"},
        {102400, u"100 KB"},
        {1023999, u"999 KB"},
        {1024000, u"0.97 MB"},
        {1048576, u"1.00 MB"},
        {1099511627776LL, u"1.00 TB"},
        {1125899906842624LL, u"1.00 PB"},
        {9223372036854775807LL, u"7.99 EB"},
    };
    for (const Case& c : cases) {
        WCHAR buffer[64];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(buffer, StrFormatByteSizeW(c.bytes, buffer, 64)) << c.bytes;
        EXPECT_EQ(std::u16string(c.expected), std::u16string(buffer)) << c.bytes;
    }
}

TEST(StrFormatByteSize, BufferTooSmallGivesNull)
{
    WCHAR buffer[8];
    EXPECT_EQ(nullptr, StrFormatByteSizeW(1340, buffer, 7)); // "1.30 KB" needs 8
    EXPECT_EQ(buffer, StrFormatByteSizeW(1340, buffer, 8));
}

// The dialog manager, with the program's own template

struct SeenControl {
    int id;
    std::u16string className;
    std::u16string text;
    DWORD style;
    DWORD exStyle;
    RECT rect; // in the dialog's client area
};

struct SeenDialog {
    std::u16string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT window = {};
    SIZE baseUnits = {};
    int focusArgumentId = 0;
    std::vector<SeenControl> controls;
};

INT_PTR CALLBACK RecordingDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    auto* seen = reinterpret_cast<SeenDialog*>(lParam);
    seen->title = WindowText(hwnd);
    seen->style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    seen->exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    GetWindowRect(hwnd, &seen->window);
    RECT units = {0, 0, 4, 8};
    MapDialogRect(hwnd, &units);
    seen->baseUnits = {units.right, units.bottom};
    seen->focusArgumentId = GetDlgCtrlID(reinterpret_cast<HWND>(wParam));
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        SeenControl c{GetDlgCtrlID(child), {}, WindowText(child), static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE)),
                      static_cast<DWORD>(GetWindowLongPtrW(child, GWL_EXSTYLE)), {}};
        WCHAR cls[64];
        GetClassNameW(child, cls, 64);
        c.className = cls;
        GetWindowRect(child, &c.rect);
        OffsetRectBy(c.rect, -seen->window.left, -seen->window.top);
        seen->controls.push_back(c);
    }
    EndDialog(hwnd, 42);
    return TRUE;
}

TEST_F(WinshimUiTest, DialogFromTheProgramTemplate)
{
    TraceRecorder trace;
    SeenDialog seen;
    INT_PTR result = DialogBoxParamW(s_program, MAKEINTRESOURCEW(kMainDialog), nullptr, RecordingDialogProc,
                                     reinterpret_cast<LPARAM>(&seen));
    EXPECT_EQ(42, result);
    EXPECT_FALSE(trace.Contains(R"(ShowWindow\([^,]*, [1-9])")) << "a dialog ended in WM_INITDIALOG is never shown";

    EXPECT_EQ(std::u16string(u"Sistēma „Lorvas Kaldo” – instalācijas lejupielāde"), seen.title);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT |
                                 DS_FIXEDSYS),
              seen.style)
        << "the template's style, WS_VISIBLE taken off until the dialog is shown";
    EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), seen.exStyle);

    // Dialog units from the font's metrics: the client area is 317 by 80 of them, centred on the screen.
    ASSERT_GT(seen.baseUnits.cx, 3);
    ASSERT_GT(seen.baseUnits.cy, 7);
    int width = MulDiv(317, seen.baseUnits.cx, 4), height = MulDiv(80, seen.baseUnits.cy, 8);
    EXPECT_EQ(width, seen.window.right - seen.window.left);
    EXPECT_EQ(height, seen.window.bottom - seen.window.top);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - width) / 2, seen.window.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - height) / 2, seen.window.top);

    struct Expected {
        int id;
        const char16_t* className;
        const char16_t* text;
        DWORD style;
        DWORD exStyle;
        int x, y, cx, cy;
    };
    const Expected expected[] = {
        {IDCANCEL, u"Button", u"Atcelt", 0x50010000, 0, 259, 59, 50, 14},
        {IDC_STATIC, u"Static", u"", 0x50020000, 0, 0, 0, 317, 55},
        {kIdcProgress, u"msctls_progress32", u"", 0x50800000, 0, 8, 37, 300, 14},
        {kIdcStatus, u"Static", u"", 0x50020000, 0, 8, 58, 209, 8},
        {IDC_STATIC, u"Static",
         u"Lejupielāde var aizņemt  10 minūtes un ilgāk, atkarībā no interneta pieslēguma veida. Lūdzu, uzgaidiet.",
         0x50020000, WS_EX_TRANSPARENT, 8, 6, 300, 28},
    };
    ASSERT_EQ(std::size(expected), seen.controls.size());
    for (size_t i = 0; i < seen.controls.size(); ++i) {
        const SeenControl& c = seen.controls[i];
        const Expected& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(std::u16string(e.className), c.className);
        EXPECT_EQ(std::u16string(e.text), c.text);
        EXPECT_EQ(e.style, c.style);
        EXPECT_EQ(e.exStyle, c.exStyle);
        int left = MulDiv(e.x, seen.baseUnits.cx, 4), top = MulDiv(e.y, seen.baseUnits.cy, 8);
        EXPECT_EQ(left, c.rect.left);
        EXPECT_EQ(top, c.rect.top);
        EXPECT_EQ(left + MulDiv(e.cx, seen.baseUnits.cx, 4), c.rect.right);
        EXPECT_EQ(top + MulDiv(e.cy, seen.baseUnits.cy, 8), c.rect.bottom);
    }
    EXPECT_EQ(IDCANCEL, seen.focusArgumentId) << "the Cancel button is the only tab stop";
}

TEST_F(WinshimUiTest, DialogWithAnUnregisteredControlClassIsNotCreated)
{
    // A DLGTEMPLATEEX whose one control names a class that nobody registered.
    std::vector<WORD> t = {1, 0xFFFF, 0, 0, 0, 0, 0x0040, 0x8000, 1, 0, 0, 100, 50, 0, 0, 0, 8, 400, 0,
                           'M', 'S', ' ', 'S', 'h', 'e', 'l', 'l', ' ', 'D', 'l', 'g', 0};
    if (t.size() % 2)
        t.push_back(0);
    const WORD item[] = {0, 0, 0, 0, 0, 0x5000, 1, 1, 10, 10, 7, 0, 'N', 'o', 'p', 'e', 0, 0, 0};
    t.insert(t.end(), std::begin(item), std::end(item));
    INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), nullptr,
                                             RecordingDialogProc, 0);
    EXPECT_EQ(-1, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS), GetLastError());
}

// Message loops

struct LoopCounts {
    std::thread poster;
    int fromThread = 0;
    int afterEnd = 0;
};

INT_PTR CALLBACK PostingDialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    static LoopCounts* counts;
    switch (message) {
    case WM_INITDIALOG:
        counts = reinterpret_cast<LoopCounts*>(lParam);
        // Posted from another thread once the loop waits.
        WhenIdle([hwnd] { counts->poster = std::thread([hwnd] { PostMessageW(hwnd, WM_APP + 1, 0, 0); }); });
        return TRUE;
    case WM_APP + 1:
        ++counts->fromThread;
        PostMessageW(hwnd, WM_APP + 2, 0, 0);
        PostMessageW(hwnd, WM_APP + 2, 0, 0);
        EndDialog(hwnd, 5);
        return TRUE;
    case WM_APP + 2:
        ++counts->afterEnd;
        return TRUE;
    }
    return FALSE;
}

TEST_F(WinshimUiTest, PostedMessagesWakeTheLoopAndStopAtItsEnd)
{
    LoopCounts counts;
    INT_PTR result = DialogBoxParamW(s_program, MAKEINTRESOURCEW(kMainDialog), nullptr, PostingDialogProc,
                                     reinterpret_cast<LPARAM>(&counts));
    counts.poster.join();
    EXPECT_EQ(5, result);
    EXPECT_EQ(1, counts.fromThread);
    EXPECT_EQ(0, counts.afterEnd) << "messages posted to an ended dialog are not dispatched";
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x12345678), WM_APP, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

struct CancelSeen {
    std::function<void(HWND)> press;
    WPARAM wParam = 0xDEAD;
    LPARAM lParam = 0xDEAD;
    HWND cancelButton = nullptr;
};

INT_PTR CALLBACK CancelDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    static CancelSeen* seen;
    if (message == WM_INITDIALOG) {
        seen = reinterpret_cast<CancelSeen*>(lParam);
        seen->cancelButton = GetDlgItem(hwnd, IDCANCEL);
        WhenIdle([hwnd] { seen->press(hwnd); });
        return TRUE;
    }
    if (message == WM_COMMAND) {
        seen->wParam = wParam;
        seen->lParam = lParam;
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

TEST_F(WinshimUiTest, EscTheCloseButtonAndSigintAreTheCancelButton)
{
    struct Case {
        const char* message;
        std::function<void(HWND)> press;
    };
    const Case cases[] = {
        {"Esc on the focused button",
         [](HWND dlg) { PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }},
        {"the close button", [](HWND dlg) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"SIGINT", [](HWND) { std::raise(SIGINT); }},
        {"the button itself", [](HWND dlg) { SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0); }},
    };
    for (const Case& c : cases) {
        CancelSeen seen;
        seen.press = c.press;
        INT_PTR result = DialogBoxParamW(s_program, MAKEINTRESOURCEW(kMainDialog), nullptr, CancelDialogProc,
                                         reinterpret_cast<LPARAM>(&seen));
        EXPECT_EQ(IDCANCEL, result) << c.message;
        EXPECT_EQ(static_cast<WPARAM>(MAKEWPARAM(IDCANCEL, BN_CLICKED)), seen.wParam) << c.message;
        EXPECT_EQ(reinterpret_cast<LPARAM>(seen.cancelButton), seen.lParam) << c.message;
    }
}

// Message boxes

struct BoxLoop {
    MessageBoxRecorder* boxes;
    std::thread poster;
    int handled = 0;
    int answer = 0;
    bool enabledAfter = false;
};

INT_PTR CALLBACK BoxDialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    static BoxLoop* loop;
    if (message == WM_INITDIALOG) {
        loop = reinterpret_cast<BoxLoop*>(lParam);
        WhenIdle([hwnd] {
            loop->boxes->answerer = [hwnd](const ShownMessageBox&) {
                if (!loop->poster.joinable())
                    loop->poster = std::thread([hwnd] { PostMessageW(hwnd, WM_APP + 3, 0, 0); });
                return loop->handled ? IDRETRY : 0;
            };
            loop->answer = MessageBoxW(hwnd, u"Teksts", u"Virsraksts", MB_RETRYCANCEL | MB_ICONEXCLAMATION);
            loop->enabledAfter = IsWindowEnabled(hwnd);
            EndDialog(hwnd, 1);
        });
        return TRUE;
    }
    if (message == WM_APP + 3) {
        ++loop->handled;
        return TRUE;
    }
    return FALSE;
}

TEST_F(WinshimUiTest, MessageBoxKeepsDispatchingPostedMessages)
{
    MessageBoxRecorder boxes;
    BoxLoop loop;
    loop.boxes = &boxes;
    DialogBoxParamW(s_program, MAKEINTRESOURCEW(kMainDialog), nullptr, BoxDialogProc, reinterpret_cast<LPARAM>(&loop));
    loop.poster.join();
    EXPECT_EQ(1, loop.handled) << "posted while the box was open, handled before it was answered";
    EXPECT_EQ(IDRETRY, loop.answer);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(std::u16string(u"Teksts"), boxes.boxes[0].text);
    EXPECT_EQ(std::u16string(u"Virsraksts"), boxes.boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(0x35), boxes.boxes[0].type);
    EXPECT_FALSE(boxes.boxes[0].ownerEnabled) << "the owner takes no input while its box is open";
    EXPECT_TRUE(loop.enabledAfter);
}

// Controls

TEST_F(WinshimUiTest, ProgressBarRangeAndPosition)
{
    HWND parent = CreateWindowExW(0, u"Static", u"", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr, nullptr, nullptr);
    HWND bar = CreateWindowExW(0, u"MSCTLS_PROGRESS32", u"", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 100, 10, parent,
                               reinterpret_cast<HMENU>(7), nullptr, nullptr);
    ASSERT_NE(nullptr, bar) << "class names are compared without regard to case";
    EXPECT_EQ(MAKELONG(0, 100), SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1000))) << "the default range";
    PBRANGE range = {-1, -1};
    SendMessageW(bar, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(1000, range.iHigh);
    EXPECT_EQ(0, SendMessageW(bar, PBM_SETPOS, 333, 0)) << "returns the previous position";
    EXPECT_EQ(333, SendMessageW(bar, PBM_SETPOS, 1200, 0));
    EXPECT_EQ(1000, SendMessageW(bar, PBM_GETPOS, 0, 0)) << "kept inside the range";
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(-5), 0);
    EXPECT_EQ(0, SendMessageW(bar, PBM_GETPOS, 0, 0));
    DestroyWindow(parent);
    EXPECT_FALSE(IsWindow(bar)) << "children go with their parent";
}

// Icons

void Put16(std::vector<BYTE>& out, WORD v)
{
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}

void Put32(std::vector<BYTE>& out, DWORD v)
{
    Put16(out, static_cast<WORD>(v));
    Put16(out, static_cast<WORD>(v >> 16));
}

void PutResource(std::vector<BYTE>& out, WORD type, WORD name, const std::vector<BYTE>& data)
{
    Put32(out, static_cast<DWORD>(data.size()));
    Put32(out, 32);
    Put16(out, 0xFFFF);
    Put16(out, type);
    Put16(out, 0xFFFF);
    Put16(out, name);
    Put32(out, 0);
    Put16(out, 0x1010);
    Put16(out, 0x0426);
    Put32(out, 0);
    Put32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
    while (out.size() % 4)
        out.push_back(0);
}

// An icon group 1 of square, opaque 32-bit images, each of one colour.
std::filesystem::path WriteIconRes(const std::filesystem::path& folder, std::vector<std::pair<int, COLORREF>> images)
{
    std::vector<BYTE> res;
    PutResource(res, 0, 0, {});
    std::vector<BYTE> group;
    Put16(group, 0);
    Put16(group, 1);
    Put16(group, static_cast<WORD>(images.size()));
    WORD id = 1;
    for (auto [size, color] : images) {
        std::vector<BYTE> bmp;
        Put32(bmp, 40);
        Put32(bmp, static_cast<DWORD>(size));
        Put32(bmp, static_cast<DWORD>(2 * size));
        Put16(bmp, 1);
        Put16(bmp, 32);
        for (int i = 0; i < 6; ++i)
            Put32(bmp, 0);
        for (int i = 0; i < size * size; ++i) {
            bmp.push_back(GetBValue(color));
            bmp.push_back(GetGValue(color));
            bmp.push_back(GetRValue(color));
            bmp.push_back(255);
        }
        bmp.insert(bmp.end(), static_cast<size_t>((size + 31) / 32 * 4 * size), 0);
        PutResource(res, 3, id, bmp);
        group.push_back(static_cast<BYTE>(size));
        group.push_back(static_cast<BYTE>(size));
        group.push_back(0);
        group.push_back(0);
        Put16(group, 1);
        Put16(group, 32);
        Put32(group, static_cast<DWORD>(bmp.size()));
        Put16(group, id++);
    }
    PutResource(res, 14, 1, group);
    std::filesystem::path path = folder / ("icons" + std::to_string(images.size()) + ".res");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(res.data()),
                                                static_cast<std::streamsize>(res.size()));
    return path;
}

TEST_F(WinshimUiTest, LoadIconTakesTheImageForTheStandardSize)
{
    TempHome home;
    struct Case {
        const char* message;
        std::vector<std::pair<int, COLORREF>> images;
        COLORREF drawn;
    };
    const Case cases[] = {
        {"the 32-pixel image", {{16, RGB(255, 0, 0)}, {32, RGB(0, 255, 0)}, {48, RGB(0, 0, 255)}}, RGB(0, 255, 0)},
        {"without one, the next larger", {{16, RGB(255, 0, 0)}, {48, RGB(0, 0, 255)}, {64, RGB(9, 9, 9)}}, RGB(0, 0, 255)},
        {"without a larger one, the largest", {{16, RGB(255, 0, 0)}, {24, RGB(0, 0, 255)}}, RGB(0, 0, 255)},
    };
    HWND canvas = CreateWindowExW(0, u"Static", u"", WS_POPUP, 0, 0, 40, 40, nullptr, nullptr, nullptr, nullptr);
    std::vector<HMODULE> modules;
    for (const Case& c : cases) {
        HMODULE module = modules.emplace_back(WinshimLoadResourceFile(WriteIconRes(home.Path(), c.images).c_str()));
        ASSERT_NE(nullptr, module);
        HICON icon = LoadIconW(module, MAKEINTRESOURCEW(1));
        ASSERT_NE(nullptr, icon) << c.message;
        EXPECT_EQ(icon, LoadIconW(module, MAKEINTRESOURCEW(1))) << "a resource icon is shared";
        HDC dc = GetDC(canvas);
        ASSERT_TRUE(DrawIcon(dc, 4, 4, icon));
        EXPECT_EQ(c.drawn, GetPixel(dc, 4, 4)) << c.message;
        EXPECT_EQ(c.drawn, GetPixel(dc, 35, 35)) << c.message << ": drawn 32 pixels wide";
        EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 36, 36)) << c.message << ": and no wider";
        ReleaseDC(canvas, dc);
        EXPECT_EQ(nullptr, LoadIconW(module, MAKEINTRESOURCEW(2))) << "no such group";
    }
    DestroyWindow(canvas);
    for (HMODULE module : modules)
        WinshimFreeResourceFile(module);
}

TEST_F(WinshimUiTest, ProgramIconHasItsNineImages)
{
    HICON icon = LoadIconW(s_program, MAKEINTRESOURCEW(128));
    ASSERT_NE(nullptr, icon);
    HWND canvas = CreateWindowExW(0, u"Static", u"", WS_POPUP, 0, 0, 32, 32, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(canvas);
    EXPECT_TRUE(DrawIcon(dc, 0, 0, icon));
    ReleaseDC(canvas, dc);
    DestroyWindow(canvas);
}

// GDI

TEST_F(WinshimUiTest, BrushesAndDeviceContextsAreCountedUntilDeleted)
{
    DWORD before = GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS);
    HBRUSH brush = CreateSolidBrush(RGB(255, 255, 255));
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(before + 2, GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS));
    EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(brush));
    EXPECT_EQ(OPAQUE, SetBkMode(dc, TRANSPARENT)) << "a new DC draws text backgrounds";
    EXPECT_EQ(RGB(255, 255, 255), SetBkColor(dc, RGB(1, 2, 3)));
    EXPECT_EQ(RGB(1, 2, 3), GetBkColor(dc));
    EXPECT_FALSE(DeleteObject(dc)) << "a DC goes with DeleteDC";
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH))) << "stock objects are never deleted";
    EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(before, GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS));
}

} // namespace
