// Roads 1 and 4 of the start-up with the real sorvane (headless), the real transferd and a server
// that holds the download open: a new job is created and remembered, the next start follows it
// before anything lying in Downloads, and the failures of road 4 end without a window. Also a
// registry error that escapes the program: reported under the title, and the program ends.
#include <windows.h>
#include <objbase.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "FaultServer.h"
#include "SorvaneProcess.h"
#include "JobStoreSupport.h"
#include "TempHome.h"
#include "TransferdDaemon.h"
#include "Utf16Text.h"

namespace fs = std::filesystem;
using namespace sorvane_test;

namespace {

const char kArchiveName[] = "LorvasKaldo2018NovembrisWebArchive.exe";
const char kTitle[] = "Sistēma „Lorvas Kaldo” – instalācijas lejupielāde";
const WCHAR kSettingsKey[] = u"Software\\Lorva\\Sorvane\\";

// With WINSHIM_TRACE, every ShowWindow is traced; a command other than SW_HIDE shows the window.
bool WindowShown(const std::string& output)
{
    return std::regex_search(output, std::regex(R"(ShowWindow\(0x[0-9a-f]+, [1-9])"));
}

// The remembered text, or "<no key>" / "<no value>".
std::string Remembered()
{
    StoredValue value = ReadRememberedValue();
    if (!value.keyExists)
        return "<no key>";
    return value.status == ERROR_SUCCESS ? Utf8(value.Text().c_str()) : "<no value>";
}

void WriteScript(const fs::path& path, const std::string& marker)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\necho ran >> '" << marker << "'\n";
    fs::permissions(path, fs::perms::owner_all);
}

class JobStoreRoads : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server.SetFile(std::string("/kaldo/") + kArchiveName, std::string(1 << 20, 'z'));
        FaultServer::Behaviour stall;
        stall.stallAfter = 4096;
        m_server.Script({stall});
    }

    // transferd with the product's host pinned to the server, which never finishes a transfer.
    void StartTransferd()
    {
        m_transferd.emplace(std::vector<std::string>{
            "connect-to=download.lorva.example:80:127.0.0.1:" + std::to_string(m_server.Port()), "stall-timeout=600"});
    }

    std::map<std::string, std::string> Environment(const std::string& replies)
    {
        return {{"WINSHIM_UI", "headless"}, {"WINSHIM_TRACE", "1"}, {"WINSHIM_MSGBOX_REPLIES", replies}};
    }

    std::string Jobs() const { return RunCommand(TransferdDaemon::Controller() + " list"); }

    // Runs sorvane until its window shows, then presses the close button and answers Yes
    // (continue later); returns the output.
    std::string RunUntilWindowThenSuspend()
    {
        SorvaneProcess sorvane(Environment("YES"));
        EXPECT_TRUE(sorvane.WaitForOutput("modal loop", 30)) << sorvane.Output();
        EXPECT_TRUE(WindowShown(sorvane.Output()));
        m_whileRunning = Remembered();
        m_whileRunningSize = ReadRememberedValue().bytes.size();
        m_jobsWhileRunning = Jobs();
        sorvane.Signal(SIGINT);
        EXPECT_EQ(0, sorvane.WaitForExit(30)) << sorvane.Output();
        return sorvane.Output();
    }

    TempHome m_home;
    FaultServer m_server;
    std::optional<TransferdDaemon> m_transferd;
    std::string m_whileRunning, m_jobsWhileRunning;
    size_t m_whileRunningSize = 0;
};

TEST_F(JobStoreRoads, ANewJobIsRememberedAndTheNextStartFollowsItBeforeAnythingInDownloads)
{
    StartTransferd();
    std::string first = RunUntilWindowThenSuspend();
    ASSERT_TRUE(std::regex_match(m_whileRunning, std::regex(R"(\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\})")))
        << m_whileRunning << "\n" << first;
    EXPECT_EQ(78u, m_whileRunningSize);
    EXPECT_NE(std::string::npos, m_jobsWhileRunning.find(m_whileRunning + "  ")) << m_jobsWhileRunning;
    EXPECT_NE(std::string::npos, Jobs().find("SUSPENDED")) << "Yes suspended it";
    const std::string remembered = m_whileRunning;

    // A setup program and an archive lie in Downloads; the remembered job still comes first.
    fs::path marker = m_home.Path() / "ran.log";
    WriteScript(m_home.Downloads() / "Lorvas Kaldo 2018 Novembris Web" / "Setup.exe", marker);
    WriteScript(m_home.Downloads() / kArchiveName, marker);
    std::string second = RunUntilWindowThenSuspend();
    EXPECT_EQ(remembered, m_whileRunning) << "the same job, no new one";
    EXPECT_EQ(std::string::npos, m_jobsWhileRunning.find("SUSPENDED")) << "resumed: " << m_jobsWhileRunning;
    EXPECT_FALSE(fs::exists(marker)) << "neither the setup program nor the archive ran\n" << second;
    EXPECT_EQ(remembered, Remembered());
    std::string jobs = Jobs();
    EXPECT_EQ(1, std::count(jobs.begin(), jobs.end(), '\n')) << jobs;
}

TEST_F(JobStoreRoads, FailuresOfRoadFourShowTheirMessageAndNoWindow)
{
    struct {
        const char* message;
        bool downloadsBlocked;
        bool serviceReachable;
        std::string expected;
    } const cases[] = {
        {"the download folder cannot be made", true, true,
         "Neizdevās atvērt/izveidot lokālo lejupielādes direktoriju! Lejupielāde ir atcelta."},
        {"transferd cannot be reached", false, false,
         "Neizdevās izveidot lejupielādes uzdevumu! Lejupielāde ir atcelta."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempHome home;
        if (c.downloadsBlocked) { // the Downloads folder, and the one below Documents that stands in for it
            std::ofstream(home.Downloads()) << "a file where the folder should be";
            std::ofstream(home.Documents()) << "a file where the folder should be";
        }
        if (c.serviceReachable)
            StartTransferd();
        std::map<std::string, std::string> environment = Environment("");
        if (!c.serviceReachable)
            environment["TRANSFERD_PATH"] = (home.Path() / "no-such-transferd").string();
        SorvaneProcess sorvane(environment);
        ASSERT_EQ(0, sorvane.WaitForExit(30)) << sorvane.Output();
        std::string out = sorvane.Output();
        EXPECT_NE(std::string::npos, out.find(std::string("[message box] ") + kTitle + " | " + c.expected +
                                              " | icon error | buttons OK"))
            << out;
        EXPECT_FALSE(WindowShown(out)) << out;
        EXPECT_EQ("<no key>", Remembered());
        m_transferd.reset();
    }
}

TEST_F(JobStoreRoads, ARegistryErrorThatEscapesTheProgramIsReportedAndTheProgramEnds)
{
    StartTransferd();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    RegCloseKey(key);
    std::string out;
    int status = -1;
    {
        // Another process is in the middle of a write past sorvane's patience.
        StoreWriteLock lock(m_home.Path() / ".config/winshim/registry.sqlite");
        ASSERT_TRUE(lock.Locked());
        std::map<std::string, std::string> environment = Environment("");
        environment["WINSHIM_REGISTRY_BUSY_TIMEOUT_MS"] = "300";
        SorvaneProcess sorvane(environment);
        status = sorvane.WaitForExit(30);
        out = sorvane.Output();
    }
    ASSERT_TRUE(WIFEXITED(status)) << "ended, not crashed: status " << status << "\n" << out;
    EXPECT_NE(0, WEXITSTATUS(status));
    EXPECT_NE(std::string::npos,
              out.find(std::string("[message box] ") + kTitle +
                       " | Neizdevās nolasīt vai saglabāt iestatījumus reģistrā "
                       "(HKEY_CURRENT_USER\\Software\\Lorva\\Sorvane): The registry key could not be written."))
        << out;
    EXPECT_NE(std::string::npos, out.find("| icon error | buttons OK")) << out;
    EXPECT_FALSE(WindowShown(out)) << out;
    EXPECT_EQ("<no value>", Remembered()) << "nothing half-written";
    std::string jobs = Jobs();
    EXPECT_NE(std::string::npos, jobs.find("Lorvas Kaldo 2018 Novembris")) << "the started job stays: " << jobs;
}

} // namespace
