#include "TransferdDaemon.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sorvane_test {

namespace {

std::filesystem::path StateDir()
{
    return std::filesystem::path(std::getenv("XDG_STATE_HOME")) / "transferd";
}

bool Alive(pid_t pid)
{
    if (waitpid(pid, nullptr, WNOHANG) == pid)
        return false; // reaped just now
    if (kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

} // namespace

TransferdDaemon::TransferdDaemon(std::vector<std::string> extraConfig)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    setenv("TRANSFERD_PATH", Program().c_str(), 1);
    std::filesystem::path config = std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "transferd";
    std::filesystem::create_directories(config);
    std::ofstream file(config / "transferd.conf");
    file << "idle-exit=1\nstall-timeout=2\nconnect-timeout=5\n";
    for (const std::string& line : extraConfig)
        file << line << "\n";
}

TransferdDaemon::~TransferdDaemon()
{
    if (!Kill(SIGTERM) || Alive(Pid()))
        Kill(SIGKILL);
    unsetenv("TRANSFERD_PATH");
}

std::string TransferdDaemon::Program()
{
    return SORVANE_BINARY_DIR "/transferd/transferd";
}

std::string TransferdDaemon::Controller()
{
    return SORVANE_BINARY_DIR "/transferd/transferctl";
}

pid_t TransferdDaemon::Pid() const
{
    std::ifstream lock(StateDir() / "transferd.lock");
    pid_t pid = -1;
    if (!(lock >> pid) || pid <= 0 || !Alive(pid))
        return -1;
    return pid;
}

bool TransferdDaemon::Kill(int signal)
{
    pid_t pid = Pid();
    if (pid <= 0)
        return false;
    kill(pid, signal);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Alive(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

bool TransferdDaemon::WaitForExit(double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (Pid() > 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string TransferdDaemon::LogText() const
{
    std::ifstream log(StateDir() / "transferd.log");
    std::stringstream text;
    text << log.rdbuf();
    return text.str();
}

} // namespace sorvane_test
