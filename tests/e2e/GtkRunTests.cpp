// One whole run of the real sorvane with its GTK window on an X server of the test's own (Xvfb),
// against the real transferd and a rate-limited nginx: the window is photographed from the X
// server twice while the download goes on, and the filled part of its progress bar must grow
// between the two pictures; then the run finishes as a user sees it end.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include <cairo.h>
#include <gtest/gtest.h>

#include "FileText.h"
#include "NginxServer.h"
#include "SorvaneProcess.h"
#include "TempHome.h"
#include "TransferdDaemon.h"
#include "Xvfb.h"

namespace fs = std::filesystem;
using namespace sorvane_test;
using Clock = std::chrono::steady_clock;

namespace {

const char kArchiveName[] = "LorvasKaldo2018NovembrisWebArchive.exe";
const char kProductFolder[] = "Lorvas Kaldo 2018 Novembris Web";
// The sample product's payload (tests/e2e/CMakeLists.txt makes it) takes about twelve seconds at
// this rate: time for the window to appear and for two pictures.
constexpr long kPayloadBytes = 24L << 20;
const char kRate[] = "2m";

// The dialog template's client area and its progress bar, in dialog units.
constexpr double kDialogWidth = 317, kDialogHeight = 80;
constexpr double kBarLeft = 8, kBarTop = 37, kBarWidth = 300, kBarHeight = 14;

// A picture of one window, as ImageMagick's import took it from the X server.
class WindowPicture {
public:
    explicit WindowPicture(const fs::path& png) : m_surface(cairo_image_surface_create_from_png(png.c_str())) {}
    ~WindowPicture() { cairo_surface_destroy(m_surface); }
    WindowPicture(const WindowPicture&) = delete;
    WindowPicture& operator=(const WindowPicture&) = delete;

    bool Valid() const { return cairo_surface_status(m_surface) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(m_surface); }
    int Height() const { return cairo_image_surface_get_height(m_surface); }

    // The filled part of the progress bar in pixels along its middle row while it is part-way;
    // 0 when it is empty or full. The bar lies where the template puts it, scaled from the window's
    // size in dialog units to its size in pixels; its trough is the colour at its right end.
    int BarFilled() const
    {
        double sx = Width() / kDialogWidth, sy = Height() / kDialogHeight;
        int left = static_cast<int>(kBarLeft * sx) + 3, right = static_cast<int>((kBarLeft + kBarWidth) * sx) - 3;
        int y = static_cast<int>((kBarTop + kBarHeight / 2) * sy);
        uint32_t trough = At(right - 1, y);
        int filled = 0;
        for (int x = left; x < right; ++x)
            filled += Distance(At(x, y), trough) > 60;
        return filled;
    }

private:
    uint32_t At(int x, int y) const
    {
        const unsigned char* row =
            cairo_image_surface_get_data(m_surface) + y * cairo_image_surface_get_stride(m_surface);
        return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
    }
    static int Distance(uint32_t a, uint32_t b)
    {
        int d = 0;
        for (int shift : {0, 8, 16})
            d += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
        return d;
    }

    cairo_surface_t* m_surface;
};

class E2eGtk : public ::testing::Test {
protected:
    // The X id of sorvane's window once it is on the screen: the viewable top-level window of the
    // program's class ("sorvane"); empty while there is none.
    std::string FindWindow() const
    {
        std::string tree = X("xwininfo -root -children");
        static const std::regex line(R"((0x[0-9a-f]+) .*\("sorvane" )");
        for (std::sregex_iterator it(tree.begin(), tree.end(), line), end; it != end; ++it) {
            std::string id = (*it)[1];
            if (X("xwininfo -id " + id).find("Map State: IsViewable") != std::string::npos)
                return id;
        }
        return {};
    }

    // A picture of the window, kept beside the test's build files for a person to look at.
    std::unique_ptr<WindowPicture> Photograph(const std::string& window, const std::string& name) const
    {
        fs::path png = fs::path(SCREENSHOT_DIR) / name;
        if (std::system(("DISPLAY=" + m_x.Display() + " import -window " + window + " 'png:" + png.string() +
                         "' 2>/dev/null").c_str()) != 0)
            return nullptr;
        auto picture = std::make_unique<WindowPicture>(png);
        return picture->Valid() ? std::move(picture) : nullptr;
    }

    std::string X(const std::string& command) const
    {
        return CommandOutput("DISPLAY=" + m_x.Display() + " " + command + " 2>/dev/null");
    }

    std::string SetupLog() const { return ReadFile(m_home.Path() / "setup.log"); }

    Xvfb m_x;
    TempHome m_home;
};

TEST_F(E2eGtk, WindowShowsTheBarGrowingAndTheRunFinishes)
{
    if (!OnPath("Xvfb"))
        GTEST_SKIP() << "Xvfb is not installed: the GTK window cannot be shown here";
    if (!OnPath("import"))
        GTEST_SKIP() << "ImageMagick's import is not installed: the window cannot be photographed";
    ASSERT_FALSE(m_x.Display().empty()) << "Xvfb did not start";

    NginxServer server(SAMPLE_PRODUCT_DIR, NginxServer::Options{kRate});
    TransferdDaemon transferd({"connect-to=download.lorva.example:80:127.0.0.1:" + std::to_string(server.Port())});
    SorvaneProcess sorvane({{"WINSHIM_UI", "gtk"},
                            {"GDK_BACKEND", "x11"},
                            {"DISPLAY", m_x.Display()},
                            {"NO_AT_BRIDGE", "1"}, // no accessibility bus on the test's display
                            {"SORVANE_SAMPLE_LOG", (m_home.Path() / "setup.log").string()},
                            {"SORVANE_SAMPLE_SECONDS", "2"}});

    std::string window;
    for (auto deadline = Clock::now() + std::chrono::seconds(20); window.empty() && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        window = FindWindow();
    }
    ASSERT_FALSE(window.empty()) << "sorvane's window never appeared:\n"
                                 << X("xwininfo -root -children") << sorvane.Output();

    // The first picture once a poll has filled part of the bar; the second once it has grown,
    // while it is still part-way.
    int first = 0, second = 0;
    for (auto deadline = Clock::now() + std::chrono::seconds(15); first == 0 && Clock::now() < deadline;) {
        std::unique_ptr<WindowPicture> picture = Photograph(window, "gtk-run-1.png");
        ASSERT_TRUE(picture) << "import could not photograph window " << window;
        first = picture->BarFilled();
    }
    ASSERT_GT(first, 0) << "the bar was never seen part-way (see gtk-run-1.png)\n" << sorvane.Output();
    for (auto deadline = Clock::now() + std::chrono::seconds(10); second <= first && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::unique_ptr<WindowPicture> picture = Photograph(window, "gtk-run-2.png");
        ASSERT_TRUE(picture) << "import could not photograph window " << window;
        second = picture->BarFilled();
    }
    EXPECT_GT(second, first) << "the filled part of the bar grows while it is part-way, from " << first
                             << " pixels (gtk-run-1.png); the last picture shows " << second
                             << " (gtk-run-2.png, 0: empty or full)";

    ASSERT_EQ(0, sorvane.WaitForExit(40)) << sorvane.Output();
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         SetupLog().find("started") == std::string::npos && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(std::string::npos, SetupLog().find("started")) << "the sample setup program ran\n" << sorvane.Output();
    EXPECT_NE(std::string::npos, SetupLog().find((m_home.Downloads() / kProductFolder).string()))
        << "the sample setup program runs in its own folder: " << SetupLog();
    EXPECT_FALSE(fs::exists(m_home.Downloads() / kArchiveName)) << "the archive is deleted after unpacking";
    EXPECT_EQ(static_cast<uintmax_t>(kPayloadBytes),
              fs::file_size(m_home.Downloads() / kProductFolder / "payload.bin"))
        << "the archive was unpacked whole";
    EXPECT_TRUE(FindWindow().empty()) << "the window is gone with the program";

    // The setup program was not waited for; it ends by itself within its two seconds.
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         SetupLog().find("finished") == std::string::npos && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

} // namespace
