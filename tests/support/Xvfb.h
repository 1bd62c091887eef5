// An X server of a test's own (Xvfb) for GTK windows, and the small shell helpers that GUI tests
// use with it.
#pragma once

#include <string>

#include <sys/types.h>

namespace sorvane_test {

// Xvfb on a display number that it picks free itself; stopped with the object. Display() is empty
// when it did not start.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Display() const { return m_display; }

private:
    pid_t m_pid = 0;
    std::string m_display;
};

// Whether `program` is found on PATH.
bool OnPath(const char* program);

// What a shell command wrote to its standard output.
std::string CommandOutput(const std::string& command);

} // namespace sorvane_test
