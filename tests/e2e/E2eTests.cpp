// The whole program, as a user meets it: the real sorvane (headless), the real transferd, nginx
// serving the sample product, all inside a temporary home.
#include <windows.h>
#include <bits.h>
#include <winreg.h>
#include <winshim_sanitizers.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include "FileText.h"
#include "NginxServer.h"
#include "SorvaneProcess.h"
#include "TempHome.h"
#include "TransferdDaemon.h"
#include "Utf16Text.h"

namespace fs = std::filesystem;
using namespace sorvane_test;

namespace {

const char kArchiveName[] = "LorvasKaldo2018NovembrisWebArchive.exe";
const char kProductFolder[] = "Lorvas Kaldo 2018 Novembris Web";
const char16_t kSettingsKey[] = u"Software\\Lorva\\Sorvane\\";
const char16_t kJobName[] = u"Lorvas Kaldo 2018 Novembris";
constexpr long kPayloadBytes = 24L << 20;

// The status lines the headless window showed, in order.
std::vector<std::string> StatusLines(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("[window 1001] ", 0) == 0)
            lines.push_back(line.substr(14));
    return lines;
}

// Bytes transferred, read back from "Lejupielādēti: <a> no <b>" in the units it shows.
double ShownBytes(const std::string& statusLine)
{
    static const std::regex pattern("Lejupielādēti: ([0-9.,]+) (bytes|KB|MB|GB) no ");
    std::smatch m;
    if (!std::regex_search(statusLine, m, pattern))
        return -1;
    std::string number = m[1];
    std::replace(number.begin(), number.end(), ',', '.');
    double scale = m[2] == "bytes" ? 1 : m[2] == "KB" ? 1024 : m[2] == "MB" ? 1048576 : 1073741824.0;
    return std::stod(number) * scale;
}

class E2e : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_product = new fs::path(fs::temp_directory_path() / ("sorvane-e2e-product-" + std::to_string(getpid())));
        std::string command = std::string(SORVANE_SOURCE_DIR "/tools/make-sample-product '") +
                              (*s_product / "kaldo").string() + "' " + std::to_string(kPayloadBytes);
        ASSERT_EQ(0, std::system(command.c_str())) << command;
    }

    static void TearDownTestSuite()
    {
        fs::remove_all(*s_product);
        delete s_product;
    }

    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }

    // nginx serving the sample product at the product's own URL, through transferd's pinning.
    void Serve(const std::string& limitRate)
    {
        m_server.emplace(*s_product, NginxServer::Options{limitRate});
        StartTransferd(m_server->Port());
    }

    void StartTransferd(int port)
    {
        m_transferd.emplace(std::vector<std::string>{
            "connect-to=download.lorva.example:80:127.0.0.1:" + std::to_string(port)});
    }

    std::map<std::string, std::string> Environment(const std::string& replies = "")
    {
        return {{"WINSHIM_UI", "headless"},
                {"WINSHIM_MSGBOX_REPLIES", replies},
                {"SORVANE_SAMPLE_LOG", (m_home.Path() / "setup.log").string()},
                {"SORVANE_SAMPLE_SECONDS", "2"}};
    }

    // Waits until the window is shown and a poll has written the progress into it: from then on
    // Ctrl-C is the window's close button.
    static bool WaitForWindowWithProgress(SorvaneProcess& sorvane)
    {
        if (!sorvane.WaitForOutput("[window] shown:", 20))
            return false;
        size_t shown = sorvane.Output().find("[window] shown:");
        return sorvane.WaitForOutput("[window 1001] Lejupielādēti:", 20, shown);
    }

    fs::path Archive() const { return m_home.Downloads() / kArchiveName; }
    fs::path Setup() const { return m_home.Downloads() / kProductFolder / "Setup.exe"; }
    std::string SetupLog() const { return ReadFile(m_home.Path() / "setup.log"); }

    bool WaitForSetupStart(double seconds)
    {
        for (int i = 0; i < seconds * 20; ++i) {
            if (SetupLog().find("started") != std::string::npos)
                return true;
            usleep(50000);
        }
        return false;
    }

    // The job that the registry remembers (a reference the caller releases), or NULL.
    IBackgroundCopyJob* RememberedJob()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return nullptr;
        WCHAR text[256] = {};
        DWORD size = sizeof text;
        LSTATUS status = RegQueryValueExW(key, kJobName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        GUID id{};
        if (status != ERROR_SUCCESS || FAILED(IIDFromString(text, &id)))
            return nullptr;
        IBackgroundCopyManager* manager = nullptr;
        if (FAILED(CoCreateInstance(CLSID_BackgroundCopyManager, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IBackgroundCopyManager, reinterpret_cast<void**>(&manager))))
            return nullptr;
        IBackgroundCopyJob* job = nullptr;
        manager->GetJob(id, &job);
        manager->Release();
        return job;
    }

    std::optional<BG_JOB_STATE> RememberedJobState()
    {
        IBackgroundCopyJob* job = RememberedJob();
        if (!job)
            return std::nullopt;
        BG_JOB_STATE state = BG_JOB_STATE_CANCELLED;
        job->GetState(&state);
        job->Release();
        return state;
    }

    bool WaitForRememberedState(BG_JOB_STATE wanted, double seconds)
    {
        for (int i = 0; i < seconds * 10; ++i) {
            if (RememberedJobState() == wanted)
                return true;
            usleep(100000);
        }
        return false;
    }

    // Any file that transferd left beside the archive while it downloaded.
    std::vector<fs::path> TemporaryFiles() const
    {
        std::vector<fs::path> found;
        if (fs::exists(m_home.Downloads()))
            for (const fs::directory_entry& e : fs::directory_iterator(m_home.Downloads()))
                if (e.is_regular_file() && e.path().filename() != kArchiveName)
                    found.push_back(e.path());
        return found;
    }

    static fs::path* s_product;
    TempHome m_home;
    std::optional<NginxServer> m_server;
    std::optional<TransferdDaemon> m_transferd;
};

fs::path* E2e::s_product = nullptr;

TEST_F(E2e, FirstRunDownloadsUnpacksAndStartsSetup)
{
    Serve("8m");
    SorvaneProcess sorvane(Environment());
    ASSERT_EQ(0, sorvane.WaitForExit(60)) << sorvane.Output();

    std::vector<std::string> status = StatusLines(sorvane.Output());
    ASSERT_GE(status.size(), 2u) << sorvane.Output();
    double last = -1;
    int grew = 0;
    for (const std::string& line : status) {
        double shown = ShownBytes(line);
        if (shown < 0)
            continue;
        EXPECT_GE(shown, last) << "the transferred size never goes back: " << line;
        grew += shown > last;
        last = shown;
    }
    EXPECT_GE(grew, 2) << "the status line showed growing sizes:\n" << sorvane.Output();
    EXPECT_NE(std::string::npos, sorvane.Output().find("[window 1001] Tiek veikta failu atarhivēšana..."));

    EXPECT_TRUE(WaitForSetupStart(10)) << sorvane.Output();
    EXPECT_NE(std::string::npos, SetupLog().find((m_home.Downloads() / kProductFolder).string()))
        << "the setup program runs in its own folder: " << SetupLog();
    EXPECT_EQ(std::string::npos, SetupLog().find("finished")) << "setup still runs after sorvane ended";
    EXPECT_FALSE(fs::exists(Archive())) << "the archive is deleted after unpacking";
    EXPECT_TRUE(fs::exists(m_home.Downloads() / kProductFolder / "payload.bin"));
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_EQ(std::nullopt, RememberedJobState()) << "the completed job is gone from the service";
}

TEST_F(E2e, CancelAnsweredYesSuspendsAndTheNextRunResumesWithoutRefetching)
{
    Serve("4m");
    {
        SorvaneProcess first(Environment("YES"));
        ASSERT_TRUE(WaitForWindowWithProgress(first)) << first.Output();
        first.Signal(SIGINT);
        ASSERT_EQ(0, first.WaitForExit(20)) << first.Output();
        EXPECT_NE(std::string::npos,
                  first.Output().find("Produkta lejupielāde vēl nav pabeigta. Vai vēlaties to turpināt vēlāk?"));
    }
    ASSERT_EQ(BG_JOB_STATE_SUSPENDED, RememberedJobState()) << "Yes suspends the remembered job";
    std::vector<fs::path> partial = TemporaryFiles();
    ASSERT_EQ(1u, partial.size()) << "the suspended job keeps its bytes on disk";
    const long onDisk = static_cast<long>(fs::file_size(partial.front()));
    ASSERT_GT(onDisk, 0);
    const size_t requestsBefore = m_server->AccessLog().size();

    SorvaneProcess second(Environment());
    ASSERT_EQ(0, second.WaitForExit(60)) << second.Output();
    std::vector<std::string> status = StatusLines(second.Output());
    ASSERT_FALSE(status.empty()) << second.Output();
    EXPECT_GT(ShownBytes(status.front()), 0) << "the progress starts where it stopped: " << status.front();
    EXPECT_TRUE(WaitForSetupStart(10)) << second.Output();

    // The next request asks for the rest from the bytes on disk, and nginx sends only the rest.
    const long archiveSize = static_cast<long>(fs::file_size(*s_product / "kaldo" / kArchiveName));
    std::vector<std::string> log = m_server->AccessLog();
    ASSERT_GT(log.size(), requestsBefore);
    const std::string& resumed = log[requestsBefore];
    EXPECT_NE(std::string::npos, resumed.find("\t206\t" + std::to_string(archiveSize - onDisk) + "\t"))
        << resumed;
    EXPECT_NE(std::string::npos, resumed.find("bytes=" + std::to_string(onDisk) + "-")) << resumed;
}

TEST_F(E2e, CancelAnsweredNoCancelsAndTheNextRunStartsAnew)
{
    Serve("4m");
    {
        SorvaneProcess first(Environment("NO"));
        ASSERT_TRUE(WaitForWindowWithProgress(first)) << first.Output();
        first.Signal(SIGINT);
        ASSERT_EQ(0, first.WaitForExit(20)) << first.Output();
    }
    EXPECT_EQ(std::nullopt, RememberedJobState()) << "No cancels the job";
    EXPECT_TRUE(TemporaryFiles().empty()) << "the cancelled job's temporary file is gone";
    EXPECT_FALSE(fs::exists(Archive()));

    SorvaneProcess second(Environment());
    ASSERT_TRUE(second.WaitForOutput("[window 1001] Lejupielādēti:", 20)) << second.Output();
    EXPECT_TRUE(RememberedJobState().has_value()) << "a new download was started and remembered";
}

TEST_F(E2e, JobFinishedWhileNoProgramRanIsCompletedWithoutAWindow)
{
    Serve("4m");
    {
        SorvaneProcess first(Environment("YES"));
        ASSERT_TRUE(WaitForWindowWithProgress(first)) << first.Output();
        first.Signal(SIGINT);
        ASSERT_EQ(0, first.WaitForExit(20)) << first.Output();
    }
    IBackgroundCopyJob* job = RememberedJob();
    ASSERT_NE(nullptr, job);
    EXPECT_EQ(S_OK, job->Resume()) << "the service goes on with the job while no program runs";
    job->Release();
    ASSERT_TRUE(WaitForRememberedState(BG_JOB_STATE_TRANSFERRED, 60));

    SorvaneProcess second(Environment());
    ASSERT_EQ(0, second.WaitForExit(30)) << second.Output();
    EXPECT_EQ(std::string::npos, second.Output().find("[window] shown")) << second.Output();
    EXPECT_TRUE(WaitForSetupStart(10));
    EXPECT_FALSE(fs::exists(Archive()));
}

TEST_F(E2e, MissingFileShowsTheServiceDescriptionAndCancels)
{
    fs::path empty = m_home.Path() / "empty-www";
    fs::create_directories(empty);
    m_server.emplace(empty, NginxServer::Options{});
    StartTransferd(m_server->Port());
    SorvaneProcess sorvane(Environment());
    ASSERT_EQ(0, sorvane.WaitForExit(30)) << sorvane.Output();
    std::string out = sorvane.Output();
    EXPECT_NE(std::string::npos, out.find("| icon error | buttons OK")) << out;
    EXPECT_EQ(std::nullopt, RememberedJobState()) << "the job is cancelled";
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(E2e, ServerDownAsksToRetryAndRetryFinishesOnceItIsBack)
{
    int port = FreeLoopbackPort();
    StartTransferd(port);
    SorvaneProcess sorvane(Environment("RETRY"));
    ASSERT_TRUE(sorvane.WaitForOutput("Nav iespējams pieslēgties interneta tīklam", 60)) << sorvane.Output();
    EXPECT_NE(std::string::npos, sorvane.Output().find("| icon warning | buttons RETRY,CANCEL"));
    // The server comes back on the pinned port; later boxes take their default, Retry.
    m_server.emplace(*s_product, NginxServer::Options{});
    m_transferd.reset();
    StartTransferd(m_server->Port());
    ASSERT_EQ(0, sorvane.WaitForExit(90)) << sorvane.Output();
    EXPECT_TRUE(WaitForSetupStart(10)) << sorvane.Output();
}

TEST_F(E2e, ServerDownAnsweredCancelCancelsTheJob)
{
    StartTransferd(FreeLoopbackPort());
    SorvaneProcess sorvane(Environment("CANCEL"));
    ASSERT_EQ(0, sorvane.WaitForExit(60)) << sorvane.Output();
    EXPECT_NE(std::string::npos, sorvane.Output().find("Nav iespējams pieslēgties interneta tīklam"));
    EXPECT_EQ(std::nullopt, RememberedJobState());
}

TEST_F(E2e, KilledProgramLeavesTheDownloadToTheServiceAndTheNextRunCompletesIt)
{
    Serve("4m");
    {
        SorvaneProcess first(Environment());
        ASSERT_TRUE(WaitForWindowWithProgress(first)) << first.Output();
        first.Signal(SIGKILL);
        first.WaitForExit(10);
    }
    ASSERT_TRUE(RememberedJobState().has_value());
    SorvaneProcess second(Environment());
    ASSERT_EQ(0, second.WaitForExit(60)) << second.Output();
    EXPECT_TRUE(WaitForSetupStart(10)) << second.Output();
    EXPECT_FALSE(fs::exists(Archive()));
}

} // namespace
