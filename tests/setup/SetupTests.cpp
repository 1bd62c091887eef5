// Unpacking the downloaded archive and starting the setup program, against the real sample
// product (a self-extracting archive) in a temporary home.
#include "SetupFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include "DownloadFolder.h"
#include "Setup.h"
#include "Utf16Text.h"

namespace setup_test {
namespace {

using sorvane_test::Utf16;

class SetupArchive : public SetupTest {};

TEST_F(SetupArchive, UnpacksDeletesTheArchiveAndLaunchesTheSetupThatRunsOn)
{
    PlaceSampleArchive("with-setup");
    EXPECT_TRUE(IsArchivePresent());
    EXPECT_FALSE(IsSetupPresent());

    ASSERT_TRUE(ExtractArchive());
    EXPECT_FALSE(fs::exists(Archive())) << "the archive is deleted once the setup program is there";
    EXPECT_TRUE(fs::is_regular_file(SetupProgram()));
    EXPECT_EQ(fs::file_size(ProductFolder() / "payload.bin"), 1048576u);
    EXPECT_TRUE(IsSetupPresent());
    EXPECT_FALSE(IsArchivePresent());
    EXPECT_TRUE(SetupStarts().empty()) << "unpacking starts no setup program";

    ASSERT_TRUE(LaunchSetup());
    std::vector<SetupStart> starts = WaitForSetupStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].folder, ProductFolder().string()) << "the setup program runs in its own folder";
    EXPECT_TRUE(IsRunning(starts[0].pid)) << "LaunchSetup does not wait for the setup program";
    EXPECT_TRUE(LeadsOwnSession(starts[0].pid));
}

TEST_F(SetupArchive, AFolderInPlaceOfTheSetupProgramCountsAsPresent)
{
    fs::create_directories(SetupProgram());
    EXPECT_TRUE(IsSetupPresent());
    EXPECT_FALSE(IsArchivePresent());
}

TEST_F(SetupArchive, AnArchiveThatCannotBeStartedStays)
{
    struct Case {
        const char* what;
        std::string content;
    } cases[] = {
        {"a damaged program", std::string("\x7f" "ELF", 4) + std::string(100, '\x01')},
        {"no program, and no application opens it", "plain text"},
    };
    for (const Case& c : cases) {
        WriteFile(Archive(), c.content);
        EXPECT_FALSE(ExtractArchive()) << c.what;
        EXPECT_EQ(ReadFile(Archive()), c.content) << c.what << ": the archive stays as it was";
        EXPECT_FALSE(fs::exists(ProductFolder())) << c.what;
    }
}

TEST_F(SetupArchive, AnArchiveThatLeavesNoSetupProgramStays)
{
    struct Case {
        const char* what;
        const char* variant;
        bool truncate; // cut in half: the archive finds itself damaged and unpacks nothing
    } cases[] = {
        {"unpacks, ends with success, but without the setup program", "without-setup", false},
        {"damaged archive", "with-setup", true},
    };
    for (const Case& c : cases) {
        PlaceSampleArchive(c.variant);
        if (c.truncate)
            fs::resize_file(Archive(), fs::file_size(Archive()) / 2);
        const std::string before = ReadFile(Archive());
        EXPECT_FALSE(ExtractArchive()) << c.what;
        EXPECT_EQ(ReadFile(Archive()), before) << c.what << ": the archive stays as it was";
        EXPECT_FALSE(fs::exists(SetupProgram())) << c.what;
        fs::remove_all(ProductFolder());
    }
}

TEST_F(SetupArchive, AnArchiveThatCannotBeDeletedStillCounts)
{
    // Read-only: the file system's deletion refuses it, as Windows does.
    PlaceSampleArchive("with-setup", fs::perms(0555));
    EXPECT_TRUE(ExtractArchive());
    EXPECT_TRUE(fs::exists(Archive()));
    EXPECT_TRUE(IsSetupPresent());
}

TEST_F(SetupArchive, TheSetupRunsInItsOwnFolderInItsOwnSessionWithNoneOfOurFiles)
{
    // A setup program without execute permission, and files of ours open without close-on-exec.
    PlaceProbe(SetupProgram(), fs::perms(0644));
    int file = open(Archive().parent_path().c_str(), O_RDONLY);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);

    ASSERT_TRUE(LaunchSetup());
    ProbeReport report = WaitForProbeReport();
    close(file);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    EXPECT_EQ(report["folder"], ProductFolder().string());
    EXPECT_EQ(report["own-session"], "yes");
    EXPECT_EQ(report["files"], "0 1 2");
    EXPECT_EQ(report["stdin"], "/dev/null");
}

TEST_F(SetupArchive, RunProgramWaitsOnlyWhenAskedTo)
{
    const fs::path program = Home().Path() / "probe";
    PlaceProbe(program);
    fs::create_directories(Downloads());
    CloseProbeGate();
    ASSERT_TRUE(RunProgram(Utf16(program.string()).c_str(), Utf16(Downloads().string()).c_str(), false));
    ProbeReport report = WaitForProbeReport();
    const pid_t pid = std::stoi(report["pid"]);
    EXPECT_TRUE(IsRunning(pid)) << "without waiting, RunProgram returns while the program runs";
    OpenProbeGate();

    fs::remove(ProbeReportPath());
    ASSERT_TRUE(RunProgram(Utf16(program.string()).c_str(), Utf16(Downloads().string()).c_str(), true));
    report = WaitForProbeReport();
    EXPECT_FALSE(IsRunning(std::stoi(report["pid"]))) << "with waiting, RunProgram returns once it has ended";
    EXPECT_EQ(report["folder"], Downloads().string());

    EXPECT_FALSE(RunProgram(Utf16((Home().Path() / "missing").string()).c_str(), nullptr, true));
}

TEST_F(SetupArchive, LaunchSetupStartsNothingWhenTheSetupFolderDoesNotFitItsBuffer)
{
    // A setup path "ab" in a download folder of 255 characters: the full path fits (258), its
    // folder part (256 with the separator) does not.
    UseStringTable(TestStringTable("SetupPathTwoChars.res"));
    std::string folder = Home().Path().string();
    while (folder.size() < 255)
        folder += "/" + std::string(std::min<size_t>(100, 255 - folder.size() - 1), 'd');
    ASSERT_EQ(folder.size(), 255u);
    WriteFile(Home().Path() / ".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"" + folder + "\"\n");
    PlaceProbe(fs::path(folder) / "ab");

    EXPECT_TRUE(IsSetupPresent());
    EXPECT_FALSE(LaunchSetup());
    EXPECT_FALSE(fs::exists(ProbeReportPath()));
}

// The setup-path rule: a setup path shorter than two characters means that the archive is
// itself the setup program.
TEST_F(SetupArchive, WithoutASetupPathTheArchiveIsTheSetupProgram)
{
    for (const char* table : {"SetupPathEmpty.res", "SetupPathOneChar.res"}) {
        sorvane_test::TempHome home;
        setenv("SETUP_PROBE_OUT", ProbeReportPath().c_str(), 1);
        fs::remove(ProbeReportPath());
        UseStringTable(TestStringTable(table));
        EXPECT_FALSE(IsSetupPresent()) << table;

        // The archive is the probe: whether and where it runs shows in its report.
        PlaceProbe(home.Downloads() / kArchiveName);
        EXPECT_TRUE(IsArchivePresent()) << table;
        EXPECT_TRUE(IsSetupPresent()) << table;
        EXPECT_TRUE(ExtractArchive()) << table << ": nothing to unpack";
        EXPECT_FALSE(fs::exists(ProbeReportPath())) << table << ": the archive was not run to unpack";
        EXPECT_TRUE(fs::exists(home.Downloads() / kArchiveName)) << table;

        ASSERT_TRUE(LaunchSetup()) << table;
        EXPECT_EQ(WaitForProbeReport()["folder"], home.Downloads().string())
            << table << ": the archive runs in the download folder";
    }
}

TEST_F(SetupArchive, ASetupPathOfTwoCharactersIsAPath)
{
    UseStringTable(TestStringTable("SetupPathTwoChars.res"));
    PlaceProbe(Archive());
    EXPECT_TRUE(IsArchivePresent());
    EXPECT_FALSE(IsSetupPresent());
    // The archive (the probe) runs and ends, but leaves no "ab": unpacking failed.
    EXPECT_FALSE(ExtractArchive());
    EXPECT_EQ(WaitForProbeReport()["folder"], Downloads().string());
    EXPECT_TRUE(fs::exists(Archive()));

    WriteFile(Downloads() / "ab", "#!/bin/sh\n");
    EXPECT_TRUE(IsSetupPresent());
}

} // namespace
} // namespace setup_test
