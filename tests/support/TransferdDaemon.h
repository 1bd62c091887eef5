// transferd for one test, inside a TempHome: its configuration, the program the clients start,
// and the certainty that it is gone afterwards. The test process becomes a child subreaper, so a
// transferd that a client started (detached, in its own session) is reaped here.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace sorvane_test {

class TransferdDaemon {
public:
    // Writes transferd.conf (a short idle exit and stall time-out, plus `extraConfig` lines) into
    // the current XDG_CONFIG_HOME and points TRANSFERD_PATH at the transferd of this build.
    explicit TransferdDaemon(std::vector<std::string> extraConfig = {});
    // Ends the running transferd (SIGTERM, then SIGKILL) and waits for it.
    ~TransferdDaemon();
    TransferdDaemon(const TransferdDaemon&) = delete;
    TransferdDaemon& operator=(const TransferdDaemon&) = delete;

    // The pid of the running transferd, or -1.
    pid_t Pid() const;
    // Sends `signal` to the running transferd and waits until it is gone; false if none ran.
    bool Kill(int signal);
    // Waits up to `seconds` for transferd to end by itself.
    bool WaitForExit(double seconds);

    static std::string Program();    // the transferd of this build
    static std::string Controller(); // the transferctl of this build
    std::string LogText() const;     // transferd's log
};

} // namespace sorvane_test
