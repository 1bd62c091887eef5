#include "client.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "paths.h"

namespace transferd {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kConnectPoll = std::chrono::milliseconds(20);
constexpr int kCallTimeoutMs = 15000;
constexpr const char* kObjectPath = "/org/transferd/Manager1";

bool IsExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

std::string ErrorText(GError* error) {
  std::string text = error ? error->message : "unknown error";
  g_clear_error(&error);
  return text;
}

TransferdManager1* TryConnect(const std::string& address, std::string* error) {
  GError* gerror = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address.c_str(), G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr, nullptr, &gerror);
  if (!connection) {
    *error = ErrorText(gerror);
    return nullptr;
  }
  TransferdManager1* proxy = transferd_manager1_proxy_new_sync(
      connection, G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES, nullptr, kObjectPath, nullptr, &gerror);
  g_object_unref(connection);
  if (!proxy) {
    *error = ErrorText(gerror);
    return nullptr;
  }
  g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(proxy), kCallTimeoutMs);
  return proxy;
}

// Starts the daemon detached from this process (own session, no inherited
// descriptors). Reports whether the program could be executed.
bool StartDaemon(std::string* error) {
  std::string program = DaemonProgram();
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = std::string("cannot start transferd: pipe: ") + std::strerror(errno);
    return false;
  }
  pid_t child = fork();
  if (child < 0) {
    *error = std::string("cannot start transferd: fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    setsid();
    if (fork() != 0) _exit(0);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    close_range(3, UINT_MAX, CLOSE_RANGE_CLOEXEC);
    execl(program.c_str(), "transferd", static_cast<char*>(nullptr));
    int failure = errno;
    (void)!write(report[1], &failure, sizeof failure);
    _exit(127);
  }
  close(report[1]);
  waitpid(child, nullptr, 0);
  int failure = 0;
  ssize_t got = read(report[0], &failure, sizeof failure);
  close(report[0]);
  if (got == sizeof failure) {
    *error = "cannot start transferd (" + program + "): " + std::strerror(failure);
    return false;
  }
  return true;
}

}  // namespace

std::string DaemonProgram() {
  if (const char* path = std::getenv("TRANSFERD_PATH"); path && *path) return path;
  char self[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string beside(self, static_cast<std::size_t>(length));
    beside = beside.substr(0, beside.rfind('/') + 1) + "transferd";
    if (IsExecutable(beside)) return beside;
  }
#ifdef TRANSFERD_BUILD_PATH
  if (IsExecutable(TRANSFERD_BUILD_PATH)) return TRANSFERD_BUILD_PATH;
#endif
  gchar* found = g_find_program_in_path("transferd");
  std::string program = found ? found : "transferd";
  g_free(found);
  return program;
}

Channel::~Channel() {
  if (m_proxy) g_object_unref(m_proxy);
}

bool Channel::Connect(std::string* error) {
  TransferdManager1* proxy = Proxy(error);
  if (proxy) g_object_unref(proxy);
  return proxy != nullptr;
}

TransferdManager1* Channel::Proxy(std::string* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_proxy && !g_dbus_connection_is_closed(g_dbus_proxy_get_connection(G_DBUS_PROXY(m_proxy)))) {
    return TRANSFERD_MANAGER1(g_object_ref(m_proxy));
  }
  g_clear_object(&m_proxy);
  std::string runtime_dir = RuntimeDir(error);
  if (runtime_dir.empty()) return nullptr;
  std::string address = SocketAddress(runtime_dir);
  m_proxy = TryConnect(address, error);
  if (!m_proxy) {
    if (!StartDaemon(error)) return nullptr;
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!(m_proxy = TryConnect(address, error)) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kConnectPoll);
    }
    if (!m_proxy) {
      *error = "transferd (" + DaemonProgram() + ") did not open " + SocketPath(runtime_dir) + ": " + *error;
      return nullptr;
    }
  }
  return TRANSFERD_MANAGER1(g_object_ref(m_proxy));
}

void Channel::Drop(TransferdManager1* proxy) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_proxy == proxy) g_clear_object(&m_proxy);
}

bool Channel::Invoke(const Call& call, std::string* error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    TransferdManager1* proxy = Proxy(error);
    if (!proxy) return false;
    GError* gerror = nullptr;
    bool done = call(proxy, &gerror);
    bool gone = !done && (g_dbus_connection_is_closed(g_dbus_proxy_get_connection(G_DBUS_PROXY(proxy))) ||
                          gerror->domain == G_IO_ERROR ||
                          g_error_matches(gerror, G_DBUS_ERROR, G_DBUS_ERROR_DISCONNECTED));
    if (gone) Drop(proxy);
    g_object_unref(proxy);
    if (done) return true;
    *error = ErrorText(gerror);
    if (!gone) return false;
  }
  return false;
}

}  // namespace transferd
