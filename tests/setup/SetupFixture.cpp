#include "SetupFixture.h"

#include <afxwin.h>
#include <winshim_ext.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace setup_test {

namespace {

// Records of other processes are waited for; a test that sees none in this time fails.
constexpr auto kPatience = std::chrono::seconds(30);

template <class Ready>
bool WaitUntil(Ready ready)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

HMODULE SetupTest::s_resources = nullptr;

std::string ProgramStringTable()
{
    return PROGRAM_RES;
}

std::string TestStringTable(const char* name)
{
    return std::string(TEST_RES_DIR) + "/" + name;
}

SetupTest::SetupTest()
{
    fs::create_directories(m_home.Path() / "no-data-dirs");
    // No desktop application of this machine may open a test's files: only those that a test
    // installs into its own home.
    setenv("XDG_DATA_DIRS", (m_home.Path() / "no-data-dirs").c_str(), 1);
    setenv("SORVANE_SAMPLE_LOG", (m_home.Path() / "setup.log").c_str(), 1);
    setenv("SORVANE_SAMPLE_SECONDS", "10", 1);
    setenv("SETUP_PROBE_OUT", ProbeReportPath().c_str(), 1);
    UseStringTable(ProgramStringTable());
}

SetupTest::~SetupTest()
{
    // A sample setup program still running belongs to this test alone; it leads its own
    // process group (with its sleep).
    for (const SetupStart& start : SetupStarts())
        kill(-start.pid, SIGTERM);
    if (fs::exists(ProbeGatePath()))
        OpenProbeGate();
    unsetenv("SETUP_PROBE_GATE");
}

void SetupTest::UseStringTable(const std::string& resPath)
{
    HMODULE previous = s_resources;
    s_resources = WinshimLoadResourceFile(resPath.c_str());
    ASSERT_NE(s_resources, nullptr) << "cannot read " << resPath;
    AfxSetResourceHandle(s_resources);
    WinshimFreeResourceFile(previous);
}

void SetupTest::PlaceSampleArchive(const char* variant, fs::perms permissions)
{
    fs::create_directories(Downloads());
    fs::copy_file(fs::path(SAMPLE_DIR) / variant / kArchiveName, Archive(), fs::copy_options::overwrite_existing);
    fs::permissions(Archive(), permissions);
}

void SetupTest::PlaceProbe(const fs::path& path, fs::perms permissions)
{
    fs::create_directories(path.parent_path());
    fs::copy_file(SETUP_PROBE, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, permissions);
}

void SetupTest::WriteFile(const fs::path& path, const std::string& content, fs::perms permissions)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    fs::permissions(path, permissions);
}

std::string SetupTest::ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void SetupTest::CloseProbeGate()
{
    ASSERT_EQ(mkfifo(ProbeGatePath().c_str(), 0600), 0);
    setenv("SETUP_PROBE_GATE", ProbeGatePath().c_str(), 1);
}

void SetupTest::OpenProbeGate()
{
    // The probe waits at the gate's reading end; opening the writing end without blocking
    // fails while no probe waits there, which leaves nothing to release.
    int fd = open(ProbeGatePath().c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        close(fd);
    fs::remove(ProbeGatePath());
}

ProbeReport SetupTest::WaitForProbeReport() const
{
    ProbeReport report;
    if (!WaitUntil([&] { return fs::exists(ProbeReportPath()); })) {
        ADD_FAILURE() << "the probe wrote no report";
        return report;
    }
    std::istringstream lines(ReadFile(ProbeReportPath()));
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            report[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return report;
}

std::vector<SetupStart> SetupTest::SetupStarts() const
{
    std::vector<SetupStart> starts;
    std::istringstream lines(ReadFile(m_home.Path() / "setup.log"));
    std::string word;
    while (lines >> word) {
        if (word != "started")
            continue;
        SetupStart start{};
        lines >> start.pid;
        lines.get();
        std::getline(lines, start.folder);
        starts.push_back(start);
    }
    return starts;
}

std::vector<SetupStart> SetupTest::WaitForSetupStarts(size_t count) const
{
    if (!WaitUntil([&] { return SetupStarts().size() >= count; }))
        ADD_FAILURE() << "fewer than " << count << " starts of the sample setup program were recorded";
    return SetupStarts();
}

bool SetupTest::IsRunning(pid_t pid)
{
    // A process that has ended but is not yet reaped is no longer running.
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool SetupTest::LeadsOwnSession(pid_t pid)
{
    return getsid(pid) == pid;
}

} // namespace setup_test
