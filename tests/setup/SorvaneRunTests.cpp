// The whole program, headless, in a temporary home, on the two roads that need no download:
// the setup program is already unpacked (road 2), or the archive is already downloaded (road 3).
#include "SetupFixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TransferdDaemon.h"

extern char** environ;

namespace setup_test {
namespace {

const char* const kTitle = "Sistēma „Lorvas Kaldo” – instalācijas lejupielāde";
const char* const kExtractFailed = "Failu izguve no arhīva netika pabeigta! Uzstādīšana atcelta.";

struct ShownBox {
    std::string caption;
    std::string text;
    std::string icon;
    std::string buttons;
};

struct ProgramRun {
    bool ended = false; // by itself, without a signal, in time
    std::string log;    // standard error, with winshim's trace

    std::vector<ShownBox> MessageBoxes() const
    {
        std::vector<ShownBox> boxes;
        static const std::regex box(R"(\[message box\] (.*) \| (.*) \| icon (\S+) \| buttons (\S+))");
        for (std::sregex_iterator it(log.begin(), log.end(), box), end; it != end; ++it)
            boxes.push_back({(*it)[1], (*it)[2], (*it)[3], (*it)[4]});
        return boxes;
    }

    // A window counts as shown when it was made visible or its modal loop ran.
    bool WindowShown() const
    {
        static const std::regex shown(R"(ShowWindow\([^,]*, [1-9][0-9]*\)|: modal loop)");
        return std::regex_search(log, shown);
    }
};

class SetupSorvane : public SetupTest {
protected:
    // Runs the program until it ends (or 60 seconds have passed, when it is killed).
    ProgramRun RunSorvane(const std::string& program = SORVANE_PROGRAM)
    {
        const fs::path log = Home().Path() / "sorvane.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        setenv("WINSHIM_UI", "headless", 1);
        setenv("WINSHIM_TRACE", "1", 1);
        std::string path = program;
        char* argv[] = {path.data(), nullptr};
        pid_t pid = 0;
        int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ProgramRun run;
        if (error != 0) {
            ADD_FAILURE() << "cannot start " << program << ": " << strerror(error);
            return run;
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        run.ended = WIFEXITED(status);
        run.log = ReadFile(log);
        return run;
    }

    sorvane_test::TransferdDaemon m_transferd;
};

TEST_F(SetupSorvane, ADownloadedArchiveIsUnpackedDeletedAndItsSetupStartedWithoutAWindow)
{
    PlaceSampleArchive("with-setup");
    ProgramRun run = RunSorvane();
    ASSERT_TRUE(run.ended) << run.log;

    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_TRUE(fs::is_regular_file(SetupProgram()));
    std::vector<SetupStart> starts = WaitForSetupStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].folder, ProductFolder().string());
    EXPECT_TRUE(IsRunning(starts[0].pid)) << "the setup program runs on after the program has ended";
    EXPECT_TRUE(LeadsOwnSession(starts[0].pid));
    EXPECT_TRUE(run.MessageBoxes().empty()) << run.log;
    EXPECT_FALSE(run.WindowShown()) << run.log;
}

TEST_F(SetupSorvane, AnUnpackedSetupIsStartedAtOnceAndNothingIsDownloaded)
{
    // An earlier run unpacked the product and left the archive beside it.
    PlaceProbe(SetupProgram());
    PlaceSampleArchive("with-setup");
    const std::string archive = ReadFile(Archive());

    ProgramRun run = RunSorvane();
    ASSERT_TRUE(run.ended) << run.log;
    ProbeReport report = WaitForProbeReport();
    EXPECT_EQ(report["folder"], ProductFolder().string());
    EXPECT_EQ(report["own-session"], "yes");
    EXPECT_EQ(report["files"], "0 1 2") << "the setup program has none of the program's files";
    EXPECT_EQ(ReadFile(Archive()), archive) << "the archive was neither run nor deleted";
    std::vector<std::string> downloads;
    for (const fs::directory_entry& entry : fs::directory_iterator(Downloads()))
        downloads.push_back(entry.path().filename().string());
    std::sort(downloads.begin(), downloads.end());
    EXPECT_EQ(downloads, (std::vector<std::string>{kProductFolder, kArchiveName})) << "nothing was downloaded";
    EXPECT_TRUE(run.MessageBoxes().empty()) << run.log;
    EXPECT_FALSE(run.WindowShown()) << run.log;
}

TEST_F(SetupSorvane, AnArchiveThatFailsToUnpackIsReportedAndStays)
{
    PlaceSampleArchive("with-setup");
    fs::resize_file(Archive(), fs::file_size(Archive()) / 2);
    const std::string archive = ReadFile(Archive());

    ProgramRun run = RunSorvane();
    ASSERT_TRUE(run.ended) << run.log;
    std::vector<ShownBox> boxes = run.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << run.log;
    EXPECT_EQ(boxes[0].caption, kTitle);
    EXPECT_EQ(boxes[0].text, kExtractFailed);
    EXPECT_EQ(boxes[0].icon, "error");
    EXPECT_EQ(boxes[0].buttons, "OK");
    EXPECT_EQ(ReadFile(Archive()), archive) << "the archive stays for the next run";
    EXPECT_FALSE(fs::exists(SetupProgram()));
    EXPECT_FALSE(run.WindowShown()) << run.log;
}

TEST_F(SetupSorvane, WithoutASetupPathTheDownloadedArchiveIsStartedAsTheSetup)
{
    // The archive is the probe: it shows where it runs, and runs on until the gate opens.
    PlaceProbe(Archive());
    CloseProbeGate();
    ProgramRun run = RunSorvane(SORVANE_EMPTY_SETUP_PATH_PROGRAM);
    ASSERT_TRUE(run.ended) << run.log;
    ProbeReport report = WaitForProbeReport();
    EXPECT_EQ(report["folder"], Downloads().string());
    EXPECT_TRUE(IsRunning(std::stoi(report["pid"]))) << "started, not waited for";
    EXPECT_TRUE(fs::exists(Archive())) << "nothing was unpacked, nothing deleted";
    EXPECT_TRUE(run.MessageBoxes().empty()) << run.log;
    EXPECT_FALSE(run.WindowShown()) << run.log;
}

} // namespace
} // namespace setup_test
