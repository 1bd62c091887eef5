// A real nginx on a free loopback port, serving a folder, from a generated configuration in a
// temporary folder; stopped (and the folder removed) when the object goes. Ranges, ETag and
// Last-Modified work as nginx does them; limit_rate can slow every connection down.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace sorvane_test {

class NginxServer {
public:
    struct Options {
        std::string limitRate; // nginx's limit_rate per connection, e.g. "512k"; empty: no limit
    };

    // Starts nginx serving `root`; throws std::runtime_error with nginx's error log when it cannot.
    explicit NginxServer(std::filesystem::path root, Options options = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const; // path relative to the root, without a leading '/'

    // One line per answered request: method, URI, status, body bytes sent, the request's Range and
    // If-Range headers ("-" when absent), separated by tabs.
    std::vector<std::string> AccessLog() const;

private:
    bool TryStart(int port);
    void Stop();

    std::filesystem::path m_root;
    Options m_options;
    std::filesystem::path m_prefix;
    int m_port = 0;
    pid_t m_pid = -1;
};

// A loopback TCP port that was free a moment ago.
int FreeLoopbackPort();

// Whether something accepts connections on the loopback port.
bool LoopbackPortOpen(int port);

} // namespace sorvane_test
