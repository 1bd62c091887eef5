// What the tests of unpacking and setup launch share: a temporary home whose Downloads folder
// they fill, the sample product, the probe program, and the records that both leave behind.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"

namespace setup_test {

namespace fs = std::filesystem;

inline const char* const kArchiveName = "LorvasKaldo2018NovembrisWebArchive.exe";
inline const char* const kProductFolder = "Lorvas Kaldo 2018 Novembris Web";

// What the probe program wrote about itself: folder, own-session, pid, files, stdin.
using ProbeReport = std::map<std::string, std::string>;

// A started sample Setup.exe, as its record says.
struct SetupStart {
    pid_t pid;
    std::string folder;
};

class SetupTest : public ::testing::Test {
protected:
    SetupTest();
    ~SetupTest() override;

    const sorvane_test::TempHome& Home() const { return m_home; }
    fs::path Downloads() const { return m_home.Downloads(); }
    fs::path Archive() const { return Downloads() / kArchiveName; }
    fs::path ProductFolder() const { return Downloads() / kProductFolder; }
    fs::path SetupProgram() const { return ProductFolder() / "Setup.exe"; }

    // The sample product's archive ("with-setup" or "without-setup") copied into Downloads
    // with the given permissions (a download has no execute permission).
    void PlaceSampleArchive(const char* variant, fs::perms permissions = fs::perms(0644));
    // The probe program copied to path with the given permissions.
    static void PlaceProbe(const fs::path& path, fs::perms permissions = fs::perms(0644));
    static void WriteFile(const fs::path& path, const std::string& content,
                          fs::perms permissions = fs::perms(0644));
    static std::string ReadFile(const fs::path& path);

    // Where a probe started now writes its report, and the FIFO that keeps it running.
    fs::path ProbeReportPath() const { return m_home.Path() / "probe-report"; }
    fs::path ProbeGatePath() const { return m_home.Path() / "probe-gate"; }
    // Makes probes wait at their gate until OpenProbeGate.
    void CloseProbeGate();
    void OpenProbeGate();
    // The report of the probe started last; fails the test when none comes in time.
    ProbeReport WaitForProbeReport() const;

    // The sample Setup.exe programs started so far; waits until there are at least count.
    std::vector<SetupStart> WaitForSetupStarts(size_t count) const;
    std::vector<SetupStart> SetupStarts() const;

    // The program's strings from a compiled string table (the shipped one by default).
    static void UseStringTable(const std::string& resPath);

    static bool IsRunning(pid_t pid);
    static bool LeadsOwnSession(pid_t pid);

private:
    sorvane_test::TempHome m_home;
    static HMODULE s_resources;
};

// The compiled string tables: the program's own, and test builds with other setup paths.
std::string ProgramStringTable();
std::string TestStringTable(const char* name);

} // namespace setup_test
