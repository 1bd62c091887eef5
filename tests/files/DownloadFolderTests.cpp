// The download folder and the paths inside it, against real folders in a temporary home: the
// Downloads known folder on current systems, "Downloads" below the documents on older ones.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <winshim_ext.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "DownloadFolder.h"
#include "TempHome.h"
#include "Utf16Text.h"

namespace fs = std::filesystem;
using sorvane_test::Utf16;
using sorvane_test::Utf8;

namespace {

const std::u16string kMarker = u"<unset>";

// What a replaced SHGetKnownFolderPath answers: its result, and a text or none.
struct KnownFolderAnswer {
    HRESULT result;
    bool giveText;
    std::u16string text;
};

// The answer it gives, and what it was given.
struct FakeKnownFolder {
    KnownFolderAnswer answer = {S_OK, false, u""};
    int calls = 0;
    bool createFlag = false;
    bool nullToken = false;
    bool downloadsId = false;
    bool outStartsNull = false;
} g_fake;

HRESULT WINAPI FakeGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath)
{
    ++g_fake.calls;
    g_fake.createFlag = dwFlags == KF_FLAG_CREATE;
    g_fake.nullToken = hToken == nullptr;
    g_fake.downloadsId = IsEqualGUID(rfid, FOLDERID_Downloads);
    g_fake.outStartsNull = *ppszPath == nullptr;
    const KnownFolderAnswer& answer = g_fake.answer;
    if (answer.giveText) {
        auto copy = static_cast<PWSTR>(CoTaskMemAlloc((answer.text.size() + 1) * sizeof(WCHAR)));
        std::copy(answer.text.c_str(), answer.text.c_str() + answer.text.size() + 1, copy);
        *ppszPath = copy;
    }
    return answer.result;
}

FARPROC AsExport(HRESULT(WINAPI* function)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*))
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

class FilesDownloadFolder : public ::testing::Test {
protected:
    void TearDown() override
    {
        WinshimResetExports();
        unsetenv("WINSHIM_WINDOWS_VERSION");
        g_fake = FakeKnownFolder();
    }

    static void ReportOlderSystem() { setenv("WINSHIM_WINDOWS_VERSION", "5.1.2600", 1); }

    static void UseFake(const KnownFolderAnswer& answer)
    {
        g_fake = FakeKnownFolder();
        g_fake.answer = answer;
        WinshimSetExport("shell32.dll", "SHGetKnownFolderPath", AsExport(&FakeGetKnownFolderPath));
    }

    // GetDownloadFolder's result, and its output (the marker when it wrote nothing).
    static std::pair<bool, std::string> Folder()
    {
        std::u16string out = kMarker + std::u16string(MAX_PATH, u'#');
        out[kMarker.size()] = 0;
        bool found = GetDownloadFolder(out.data());
        return {found, Utf8(out.c_str())};
    }

    std::string KnownDownloads() const { return m_home.Downloads().string(); }
    std::string DocumentsDownloads() const { return m_home.Documents().string() + "\\Downloads\\"; }

    sorvane_test::TempHome m_home;
};

TEST_F(FilesDownloadFolder, KnownFolderIsTheXdgDownloadFolderAndExistsAfterwards)
{
    struct Case {
        const char* what;
        const char* userDirs; // the line of user-dirs.dirs; none when null
        bool existsBefore;
        std::string folder;   // relative to the home folder
    } cases[] = {
        {"missing: created", nullptr, false, "Downloads"},
        {"existing: taken as it is", nullptr, true, "Downloads"},
        {"named by user-dirs.dirs, with Latvian letters", "XDG_DOWNLOAD_DIR=\"$HOME/Lejupielādes\"", false,
         "Lejupielādes"},
        {"named with a trailing slash: none in the result", "XDG_DOWNLOAD_DIR=\"$HOME/Saņemtie/\"", true,
         "Saņemtie"},
    };
    for (const Case& c : cases) {
        sorvane_test::TempHome home;
        const fs::path folder = home.Path() / c.folder;
        if (c.userDirs)
            std::ofstream(home.Path() / ".config/user-dirs.dirs") << "# written by a test\n" << c.userDirs << "\n";
        if (c.existsBefore) {
            fs::create_directories(folder);
            std::ofstream(folder / "kept.txt") << "kept";
        }
        EXPECT_EQ(Folder(), std::make_pair(true, folder.string())) << c.what;
        EXPECT_TRUE(fs::is_directory(folder)) << c.what;
        EXPECT_EQ(fs::exists(folder / "kept.txt"), c.existsBefore) << c.what;
        EXPECT_FALSE(fs::exists(home.Documents())) << c.what << ": the documents road was not taken";
    }
}

TEST_F(FilesDownloadFolder, OlderSystemsUseDownloadsBelowTheDocuments)
{
    ReportOlderSystem();
    struct Case {
        const char* what;
        bool documentsBefore;
        bool downloadsBefore;
    } cases[] = {
        {"neither exists: both created", false, false},
        {"documents only: Downloads created", true, false},
        {"both exist: accepted", true, true},
    };
    for (const Case& c : cases) {
        sorvane_test::TempHome home;
        if (c.documentsBefore)
            fs::create_directories(home.Documents());
        if (c.downloadsBefore)
            fs::create_directories(home.Documents() / "Downloads");
        EXPECT_EQ(Folder(), std::make_pair(true, home.Documents().string() + "\\Downloads\\")) << c.what;
        EXPECT_TRUE(fs::is_directory(home.Documents() / "Downloads")) << c.what;
        EXPECT_FALSE(fs::exists(home.Downloads())) << c.what << ": the known folder was not asked for";
    }
}

TEST_F(FilesDownloadFolder, WithoutTheKnownFolderEntryPointTheDocumentsServe)
{
    WinshimSetExport("shell32.dll", "SHGetKnownFolderPath", nullptr);
    EXPECT_EQ(Folder(), std::make_pair(true, DocumentsDownloads()));
    EXPECT_TRUE(fs::is_directory(m_home.Documents() / "Downloads"));
    EXPECT_FALSE(fs::exists(m_home.Downloads()));
}

TEST_F(FilesDownloadFolder, KnownFolderCallIsMadeAsTheShellExpectsIt)
{
    UseFake({S_OK, true, u"/srv/lejupielādes"});
    EXPECT_EQ(Folder(), std::make_pair(true, std::string("/srv/lejupielādes")));
    EXPECT_EQ(g_fake.calls, 1);
    EXPECT_TRUE(g_fake.downloadsId);
    EXPECT_TRUE(g_fake.createFlag);
    EXPECT_TRUE(g_fake.nullToken);
    EXPECT_TRUE(g_fake.outStartsNull);
}

TEST_F(FilesDownloadFolder, KnownFolderFailures)
{
    struct Case {
        const char* what;
        KnownFolderAnswer answer;
        std::pair<bool, std::string> expected; // "documents": the documents road's folder
    } cases[] = {
        {"failure without a text: the documents road", {E_FAIL, false, u""}, {true, "documents"}},
        {"failure that hands back a text: false, no documents road", {E_FAIL, true, u"/srv/x"},
         {false, Utf8(kMarker)}},
        {"a path of 259 characters fits", {S_OK, true, u"/" + std::u16string(258, u'p')},
         {true, "/" + std::string(258, 'p')}},
        {"a path of 260 characters is not cut off: false, empty output",
         {S_OK, true, u"/" + std::u16string(259, u'p')}, {false, ""}},
    };
    for (Case& c : cases) {
        sorvane_test::TempHome home;
        UseFake(c.answer);
        std::pair<bool, std::string> expected = c.expected;
        if (expected.second == "documents")
            expected.second = home.Documents().string() + "\\Downloads\\";
        EXPECT_EQ(Folder(), expected) << c.what;
        EXPECT_EQ(fs::exists(home.Documents()), c.expected.second == "documents") << c.what;
    }
}

TEST_F(FilesDownloadFolder, ReleasesTheShellLibraryOnlyWhenItLoadedIt)
{
    ASSERT_EQ(GetModuleHandleW(u"shell32.dll"), nullptr);
    EXPECT_TRUE(Folder().first);
    EXPECT_EQ(GetModuleHandleW(u"shell32.dll"), nullptr) << "loaded by GetDownloadFolder: released again";

    HMODULE shell = LoadLibraryW(u"shell32.dll");
    ASSERT_NE(shell, nullptr);
    EXPECT_TRUE(Folder().first);
    EXPECT_EQ(GetModuleHandleW(u"shell32.dll"), shell) << "loaded by the caller: still loaded";
    EXPECT_TRUE(FreeLibrary(shell));
    EXPECT_EQ(GetModuleHandleW(u"shell32.dll"), nullptr);
}

TEST_F(FilesDownloadFolder, FailsWhenNeitherFolderCanBeHad)
{
    // Files stand where the two folders belong: the known folder fails without a text and the
    // documents folder cannot be made.
    std::ofstream(m_home.Downloads()) << "a file";
    std::ofstream(m_home.Documents()) << "a file";
    EXPECT_EQ(Folder(), std::make_pair(false, Utf8(kMarker)));
    WCHAR path[MAX_PATH];
    EXPECT_FALSE(MakeDownloadPath(u"Setup.exe", path));
}

TEST_F(FilesDownloadFolder, MakeDownloadPathPutsOneBackslashBetweenFolderAndPathOnBothRoads)
{
    for (bool older : {false, true}) {
        sorvane_test::TempHome home;
        if (older)
            ReportOlderSystem();
        else
            unsetenv("WINSHIM_WINDOWS_VERSION");
        const std::string folder = older ? home.Documents().string() + "\\Downloads" : home.Downloads().string();
        // The relative path that makes a joined path of 259 characters, the most that fits.
        const size_t room = MAX_PATH - 1 - folder.size() - 1;
        struct Case {
            std::string relative;
            bool result;
            std::string expected;
        } cases[] = {
            {"Lorvas Kaldo 2018 Novembris Web\\Setup.exe", true,
             folder + "\\Lorvas Kaldo 2018 Novembris Web\\Setup.exe"},
            {"", true, folder + "\\"},
            {std::string(room, 'r'), true, folder + "\\" + std::string(room, 'r')},
            {std::string(room + 1, 'r'), false, ""},
        };
        for (const Case& c : cases) {
            std::u16string out = kMarker + std::u16string(MAX_PATH, u'#');
            out[kMarker.size()] = 0;
            const std::string what = std::string(older ? "documents road" : "known folder") + ", relative path of " +
                                     std::to_string(c.relative.size()) + " characters";
            EXPECT_EQ(MakeDownloadPath(Utf16(c.relative).c_str(), out.data()), c.result) << what;
            EXPECT_EQ(Utf8(out.c_str()), c.expected) << what;
        }
    }
}

TEST_F(FilesDownloadFolder, MakeDownloadPathWantsBothArguments)
{
    std::u16string out = kMarker;
    EXPECT_FALSE(MakeDownloadPath(nullptr, out.data()));
    EXPECT_EQ(Utf8(out), Utf8(kMarker));
    EXPECT_FALSE(MakeDownloadPath(u"Setup.exe", nullptr));
}

TEST(FilesGetVersion, ReportsWindows7UnlessToldOtherwise)
{
    struct Case {
        const char* setting; // none when null
        int major, minor, build;
    } cases[] = {
        {nullptr, 6, 1, 7601},
        {"5.1.2600", 5, 1, 2600},
        {"6.0", 6, 0, 0},
        {"not a version", 6, 1, 7601},
    };
    for (const Case& c : cases) {
        if (c.setting)
            setenv("WINSHIM_WINDOWS_VERSION", c.setting, 1);
        else
            unsetenv("WINSHIM_WINDOWS_VERSION");
        DWORD version = GetVersion();
        const std::string what = c.setting ? c.setting : "(not set)";
        EXPECT_EQ(LOBYTE(LOWORD(version)), c.major) << what;
        EXPECT_EQ(HIBYTE(LOWORD(version)), c.minor) << what;
        EXPECT_EQ(HIWORD(version), c.build) << what;
    }
    unsetenv("WINSHIM_WINDOWS_VERSION");
}

} // namespace
