// winshim's ShellExecuteExW with the default verb: program files start as programs, other files
// with the desktop's default application; process handles can be waited for.
#include "SetupFixture.h"

#include <shellapi.h>

#include <fcntl.h>
#include <unistd.h>

#include "Utf16Text.h"

namespace setup_test {
namespace {

using sorvane_test::Utf16;

class SetupShellExecute : public SetupTest {
protected:
    // ShellExecuteExW as the program calls it; the last error when it fails, else 0.
    DWORD Execute(const fs::path& file, const fs::path& folder, ULONG mask = SEE_MASK_NOCLOSEPROCESS)
    {
        const std::u16string fileText = Utf16(file.string()), folderText = Utf16(folder.string());
        m_info = {};
        m_info.cbSize = sizeof(m_info);
        m_info.fMask = mask;
        m_info.lpFile = fileText.c_str();
        m_info.lpDirectory = folder.empty() ? nullptr : folderText.c_str();
        m_info.nShow = SW_SHOWNORMAL;
        SetLastError(0);
        return ShellExecuteExW(&m_info) ? 0 : GetLastError();
    }

    SHELLEXECUTEINFOW m_info = {};
};

TEST_F(SetupShellExecute, ProgramFilesStartWhateverTheirPermissions)
{
    struct Case {
        const char* what;
        bool script;
        fs::perms permissions;
    } cases[] = {
        {"executable program", false, fs::perms(0755)},
        {"program without execute permission", false, fs::perms(0644)},
        {"script without execute permission", true, fs::perms(0644)},
        {"script in a folder with a space, named as a Windows program", true, fs::perms(0755)},
    };
    // Files of ours open without close-on-exec: no child may receive them.
    int file = open(Home().Path().c_str(), O_RDONLY);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    for (const Case& c : cases) {
        fs::remove(ProbeReportPath());
        const fs::path folder = Home().Path() / (c.script ? "with space" : "programs");
        const fs::path program = folder / (c.script ? "Setup.exe" : "probe");
        if (c.script)
            WriteFile(program, "#!/bin/sh\nexec '" + std::string(SETUP_PROBE) + "'\n", c.permissions);
        else
            PlaceProbe(program, c.permissions);
        const fs::path workingFolder = Home().Path() / "working folder";
        fs::create_directories(workingFolder);

        ASSERT_EQ(Execute(program, workingFolder), 0u) << c.what;
        EXPECT_GT(reinterpret_cast<INT_PTR>(m_info.hInstApp), 32) << c.what;
        ProbeReport report = WaitForProbeReport();
        EXPECT_EQ(report["folder"], workingFolder.string()) << c.what;
        EXPECT_EQ(report["own-session"], "yes") << c.what;
        EXPECT_EQ(report["files"], "0 1 2") << c.what;
        EXPECT_EQ(report["stdin"], "/dev/null") << c.what;
        EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), WAIT_OBJECT_0) << c.what;
        EXPECT_TRUE(CloseHandle(m_info.hProcess)) << c.what;
    }
    close(file);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST_F(SetupShellExecute, FailuresSayWhatWentWrong)
{
    const fs::path folder = Home().Path();
    WriteFile(folder / "damaged.exe", std::string("\x7f" "ELF", 4) + std::string(64, '\x02'));
    WriteFile(folder / "notes.unknown", "no application opens this");
    PlaceProbe(folder / "probe");
    struct Case {
        const char* what;
        fs::path file;
        fs::path folder;
        DWORD error;
    } cases[] = {
        {"missing file", folder / "missing.exe", folder, ERROR_FILE_NOT_FOUND},
        {"missing working folder", folder / "probe", folder / "missing", ERROR_DIRECTORY},
        {"damaged program", folder / "damaged.exe", folder, ERROR_BAD_EXE_FORMAT},
        {"no application for the file", folder / "notes.unknown", folder, ERROR_NO_ASSOCIATION},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Execute(c.file, c.folder), c.error) << c.what;
        EXPECT_EQ(m_info.hProcess, nullptr) << c.what;
        EXPECT_LE(reinterpret_cast<INT_PTR>(m_info.hInstApp), 32) << c.what;
    }
    EXPECT_EQ(Execute(folder / "missing.exe", folder), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(m_info.hInstApp), SE_ERR_FNF);
    EXPECT_FALSE(fs::exists(ProbeReportPath())) << "nothing was started";
}

TEST_F(SetupShellExecute, TheProcessHandleIsSignalledWhenTheProgramEnds)
{
    const fs::path program = Home().Path() / "probe";
    PlaceProbe(program);
    CloseProbeGate();
    ASSERT_EQ(Execute(program, Home().Path()), 0u);
    ASSERT_NE(m_info.hProcess, nullptr);
    WaitForProbeReport();
    EXPECT_EQ(WaitForSingleObject(m_info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    OpenProbeGate();
    EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(m_info.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "and stays signalled";
    EXPECT_TRUE(CloseHandle(m_info.hProcess));
    EXPECT_FALSE(CloseHandle(m_info.hProcess));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    fs::remove(ProbeReportPath());
    ASSERT_EQ(Execute(program, Home().Path(), SEE_MASK_DEFAULT), 0u);
    EXPECT_EQ(m_info.hProcess, nullptr) << "no handle unless asked for";
    WaitForProbeReport();
}

TEST_F(SetupShellExecute, OtherFilesOpenWithTheDesktopsDefaultApplication)
{
    // A viewer installed into the test's home as the default application for text: it notes the
    // file it was given and then becomes the probe.
    const fs::path viewer = Home().Path() / "viewer";
    const fs::path given = Home().Path() / "viewer-was-given";
    WriteFile(viewer,
              "#!/bin/sh\nprintf '%s' \"$1\" > '" + given.string() + "'\nexec '" + std::string(SETUP_PROBE) + "'\n",
              fs::perms(0755));
    WriteFile(Home().Path() / ".local/share/applications/sorvane-test-viewer.desktop",
              "[Desktop Entry]\nType=Application\nName=Test viewer\nExec=" + viewer.string() +
                  " %f\nMimeType=text/plain;\n");
    WriteFile(Home().Path() / ".config/mimeapps.list",
              "[Default Applications]\ntext/plain=sorvane-test-viewer.desktop\n");
    const fs::path document = Home().Path() / "Lasi mani.txt";
    WriteFile(document, "Sveiki!\n");
    const fs::path workingFolder = Home().Path() / "working";
    fs::create_directories(workingFolder);

    ASSERT_EQ(Execute(document, workingFolder), 0u);
    ProbeReport report = WaitForProbeReport();
    EXPECT_EQ(ReadFile(given), document.string());
    EXPECT_EQ(report["folder"], workingFolder.string());
    EXPECT_EQ(report["own-session"], "yes");
    EXPECT_EQ(report["files"], "0 1 2");
    EXPECT_EQ(report["stdin"], "/dev/null");
    ASSERT_NE(m_info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(m_info.hProcess);
}

} // namespace
} // namespace setup_test
