// A fresh home folder for one test: HOME and the XDG folders point into it, so the registry
// stand-in, the Downloads folder and transferd's socket and store are the test's own.
#pragma once

#include <filesystem>
#include <string>

namespace sorvane_test {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path Downloads() const { return m_path / "Downloads"; }
    std::filesystem::path Documents() const { return m_path / "Documents"; }

private:
    std::filesystem::path m_path;
    std::string m_saved[6];
};

} // namespace sorvane_test
