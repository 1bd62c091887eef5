#include "NginxServer.h"

#include "FileText.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sorvane_test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(10);
constexpr int kStartAttempts = 3;

std::string NginxProgram()
{
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"})
        if (access(candidate, X_OK) == 0)
            return candidate;
    return "nginx";
}

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits for a child to end; false when it did not end in time.
bool WaitForExit(pid_t pid, std::chrono::steady_clock::duration timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

int FreeLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("cannot find a free loopback port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool LoopbackPortOpen(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    bool open = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return open;
}

NginxServer::NginxServer(std::filesystem::path root, Options options)
    : m_root(std::filesystem::absolute(root)), m_options(std::move(options))
{
    std::string pattern = (std::filesystem::temp_directory_path() / "nginx-fixture-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a folder for nginx in " + pattern);
    m_prefix = pattern;
    std::filesystem::create_directories(m_prefix / "temp");
    // A port can be taken between finding it free and nginx binding it: try another.
    for (int attempt = 0; attempt < kStartAttempts; ++attempt)
        if (TryStart(FreeLoopbackPort()))
            return;
    std::string log = ReadFile(m_prefix / "error.log");
    std::error_code ignored;
    std::filesystem::remove_all(m_prefix, ignored);
    throw std::runtime_error("nginx did not start: " + log);
}

NginxServer::~NginxServer()
{
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_prefix, ignored);
}

bool NginxServer::TryStart(int port)
{
    const std::string prefix = m_prefix.string();
    std::ofstream config(m_prefix / "nginx.conf");
    config << "worker_processes 1;\n"
           << "daemon off;\n"
           << "pid " << prefix << "/nginx.pid;\n"
           << "error_log " << prefix << "/error.log warn;\n"
           // As root nginx would hand its workers to an unprivileged user that cannot read the test's files.
           << (geteuid() == 0 ? "user root root;\n" : "")
           << "events { worker_connections 64; }\n"
           << "http {\n"
           << "  log_format fixture '$request_method\\t$uri\\t$status\\t$body_bytes_sent\\t"
              "$http_range\\t$http_if_range';\n"
           << "  access_log " << prefix << "/access.log fixture;\n"
           << "  client_body_temp_path " << prefix << "/temp/body;\n"
           << "  proxy_temp_path " << prefix << "/temp/proxy;\n"
           << "  fastcgi_temp_path " << prefix << "/temp/fastcgi;\n"
           << "  uwsgi_temp_path " << prefix << "/temp/uwsgi;\n"
           << "  scgi_temp_path " << prefix << "/temp/scgi;\n"
           << "  default_type application/octet-stream;\n"
           << "  sendfile on;\n"
           << "  server {\n"
           << "    listen 127.0.0.1:" << port << ";\n"
           << "    root " << m_root.string() << ";\n"
           << (m_options.limitRate.empty() ? "" : "    limit_rate " + m_options.limitRate + ";\n")
           << "  }\n"
           << "}\n";
    config.close();

    std::string program = NginxProgram();
    std::string configPath = (m_prefix / "nginx.conf").string();
    std::string errorLog = (m_prefix / "error.log").string();
    pid_t pid = fork();
    if (pid == 0) {
        // nginx must not outlive a test that crashed, nor hold the test's output open.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(program.c_str(), "nginx", "-p", prefix.c_str(), "-c", configPath.c_str(), "-e", errorLog.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0)
        return false;
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return false; // it ended: most likely the port was taken
        if (LoopbackPortOpen(port)) {
            m_pid = pid;
            m_port = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

void NginxServer::Stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM); // nginx's fast shutdown; the master ends its worker
    if (!WaitForExit(m_pid, kStopTimeout)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

std::string NginxServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
}

std::vector<std::string> NginxServer::AccessLog() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_prefix / "access.log");
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace sorvane_test
