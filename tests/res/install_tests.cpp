// Installing on a Linux desktop: `cmake --install` into a fresh prefix puts the programs, a
// desktop entry and the theme icons in place.
#include "res_file.h"

#include <glib.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace res_test {
namespace {

namespace fs = std::filesystem;

constexpr int kThemeSizes[] = {16, 22, 24, 32, 36, 48, 64, 72, 96, 128, 192, 256, 512};

struct ProgramRun {
    int status = -1; // the wait status: 0 is a normal exit with code 0
    std::string output;
};

ProgramRun RunProgram(std::vector<std::string> argv)
{
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    ProgramRun run;
    gchar* out = nullptr;
    gchar* err = nullptr;
    GError* error = nullptr;
    if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &run.status,
                      &error)) {
        run.output = error->message;
        g_error_free(error);
        return run;
    }
    run.output = std::string(out) + err;
    g_free(out);
    g_free(err);
    return run;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override
    {
        gchar* dir = g_dir_make_tmp("sorvane-install-XXXXXX", nullptr);
        ASSERT_NE(nullptr, dir);
        m_root = dir;
        g_free(dir);
        // Characters that the desktop entry's Exec line must quote or escape.
        m_prefix = m_root / "Lorva 100% \"$HOME\"";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    fs::path m_root;
    fs::path m_prefix;
};

TEST_F(Install, PutsProgramsDesktopEntryAndThemeIconsInPlace)
{
    const ProgramRun install = RunProgram({CMAKE_COMMAND_PATH, "--install", SORVANE_BINARY_DIR, "--prefix", m_prefix.string()});
    ASSERT_EQ(0, install.status) << install.output;

    const fs::path bin = m_prefix / "bin";
    std::vector<std::string> programs = {"sorvane"};
#ifdef SORVANE_HAVE_TRANSFERD
    programs.insert(programs.end(), {"transferd", "transferctl"});
#endif
    for (const std::string& program : programs)
        EXPECT_EQ(0, access((bin / program).c_str(), X_OK)) << program << " is installed and executable";

    for (int size : kThemeSizes) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        const fs::path icon = m_prefix / "share/icons/hicolor" / name / "apps/sorvane.png";
        ASSERT_TRUE(fs::exists(icon)) << icon;
        const std::vector<BYTE> png = ReadFileBytes(icon.string());
        ASSERT_GE(png.size(), 24u);
        EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16)) << name;
        const DWORD width = png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19];
        const DWORD height = png[20] << 24 | png[21] << 16 | png[22] << 8 | png[23];
        EXPECT_EQ(static_cast<DWORD>(size), width) << name;
        EXPECT_EQ(static_cast<DWORD>(size), height) << name;
    }

    const fs::path entry = m_prefix / "share/applications/sorvane.desktop";
    const ProgramRun validate = RunProgram({"desktop-file-validate", entry.string()});
    EXPECT_EQ(0, validate.status) << validate.output;
    EXPECT_EQ("", validate.output) << "no errors, warnings or hints";

    // What a desktop's menu does with the entry: TryExec names the program, and Exec, once its
    // field codes are expanded (%% is a percent sign) and split by the shell's quoting rules,
    // is that program alone, however the prefix is spelt.
    GKeyFile* keys = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_file(keys, entry.c_str(), G_KEY_FILE_NONE, nullptr));
    auto value = [keys](const char* key) {
        gchar* v = g_key_file_get_string(keys, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
        std::string result = v ? v : "<absent>";
        g_free(v);
        return result;
    };
    EXPECT_EQ((bin / "sorvane").string(), value(G_KEY_FILE_DESKTOP_KEY_TRY_EXEC));
    std::string commandLine = value(G_KEY_FILE_DESKTOP_KEY_EXEC);
    for (size_t at = commandLine.find("%%"); at != std::string::npos; at = commandLine.find("%%", at + 1))
        commandLine.erase(at, 1);
    gchar** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(commandLine.c_str(), nullptr, &argv, nullptr)) << commandLine;
    EXPECT_EQ(1u, g_strv_length(argv)) << commandLine;
    EXPECT_EQ((bin / "sorvane").string(), argv[0]);
    g_strfreev(argv);
    EXPECT_EQ("sorvane", value(G_KEY_FILE_DESKTOP_KEY_ICON));
    EXPECT_EQ("false", value(G_KEY_FILE_DESKTOP_KEY_TERMINAL));
    g_key_file_free(keys);
}

} // namespace
} // namespace res_test
