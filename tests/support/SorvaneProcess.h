// The real sorvane as a child process: its environment, its output as it comes, signals, its end.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <sys/types.h>

namespace sorvane_test {

class SorvaneProcess {
public:
    // Starts `program` (default: the sorvane of this build) with the current environment plus
    // `environment`; standard output and error are collected together.
    explicit SorvaneProcess(std::map<std::string, std::string> environment, std::string program = {});
    ~SorvaneProcess();
    SorvaneProcess(const SorvaneProcess&) = delete;
    SorvaneProcess& operator=(const SorvaneProcess&) = delete;

    // Waits until the output holds `text` (after `from` characters); false when the time ran out
    // or the process ended first.
    bool WaitForOutput(const std::string& text, double seconds, size_t from = 0);
    std::string Output() const;
    void Signal(int signal);
    // The exit status (as from waitpid) once ended, or -1 when still running after `seconds`.
    int WaitForExit(double seconds);
    pid_t Pid() const { return m_pid; }

private:
    void ReadOutput(int fd);

    pid_t m_pid = -1;
    int m_status = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_output;
    bool m_outputClosed = false;
};

} // namespace sorvane_test
