#include "SorvaneProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sorvane_test {

SorvaneProcess::SorvaneProcess(std::map<std::string, std::string> environment, std::string program)
{
    if (program.empty())
        program = SORVANE_BINARY_DIR "/sorvane";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe for sorvane's output");
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork for sorvane");
    if (m_pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    m_reader = std::thread([this, fd = fds[0]] { ReadOutput(fd); });
}

SorvaneProcess::~SorvaneProcess()
{
    if (WaitForExit(0) == -1) {
        kill(m_pid, SIGKILL);
        WaitForExit(10);
    }
    m_reader.join();
}

void SorvaneProcess::ReadOutput(int fd)
{
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        std::lock_guard lock(m_mutex);
        m_output.append(buffer, static_cast<size_t>(n));
        m_changed.notify_all();
    }
    close(fd);
    std::lock_guard lock(m_mutex);
    m_outputClosed = true;
    m_changed.notify_all();
}

bool SorvaneProcess::WaitForOutput(const std::string& text, double seconds, size_t from)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
        return m_output.find(text, from) != std::string::npos || m_outputClosed;
    }) && m_output.find(text, from) != std::string::npos;
}

std::string SorvaneProcess::Output() const
{
    std::lock_guard lock(m_mutex);
    return m_output;
}

void SorvaneProcess::Signal(int signal)
{
    if (m_status == -1)
        kill(m_pid, signal);
}

int SorvaneProcess::WaitForExit(double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (m_status == -1) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_status;
}

} // namespace sorvane_test
