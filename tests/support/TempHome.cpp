#include "TempHome.h"

#include <cstdlib>
#include <stdexcept>

#include <sys/stat.h>

namespace sorvane_test {

namespace {

const char* const kVariables[6] = {"HOME",           "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                   "XDG_RUNTIME_DIR", "XDG_DATA_HOME",   "XDG_CACHE_HOME"};

} // namespace

TempHome::TempHome()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary home folder in " + pattern);
    m_path = pattern;
    const std::filesystem::path folders[6] = {m_path, m_path / ".config", m_path / ".local/state", m_path / "run",
                                              m_path / ".local/share", m_path / ".cache"};
    for (int i = 0; i < 6; ++i) {
        const char* old = std::getenv(kVariables[i]);
        m_saved[i] = old ? old : std::string("\x01"); // \x01: the variable was not set
        std::filesystem::create_directories(folders[i]);
        setenv(kVariables[i], folders[i].c_str(), 1);
    }
    chmod((m_path / "run").c_str(), 0700);
}

TempHome::~TempHome()
{
    for (int i = 0; i < 6; ++i) {
        if (m_saved[i] == "\x01")
            unsetenv(kVariables[i]);
        else
            setenv(kVariables[i], m_saved[i].c_str(), 1);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace sorvane_test
