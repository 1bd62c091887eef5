// transferd: the per-user background transfer service. Started on demand by its
// first client; one instance per user (a lock in the state folder); ends by
// itself when no client is connected and no job needs it.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <glib-unix.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "clock.h"
#include "config.h"
#include "log.h"
#include "paths.h"
#include "server.h"
#include "service.h"
#include "store.h"

namespace transferd {
namespace {

constexpr auto kLockWait = std::chrono::seconds(10);

bool Listening(const std::string& socket_path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return listening;
}

enum class LockResult { Taken, OtherInstance, Failed };

// Takes the single-instance lock. An instance that is ending still holds it for a
// moment: wait for it unless another one is already serving the socket.
LockResult TakeLock(int fd, const std::string& socket_path) {
  auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return LockResult::Failed;
    if (Listening(socket_path) || std::chrono::steady_clock::now() > deadline) return LockResult::OtherInstance;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid.data(), pid.size(), 0);
  return LockResult::Taken;
}

class Daemon {
 public:
  Daemon(Service& service, IpcServer& server, int idle_exit_seconds)
      : m_service(service), m_server(server), m_idle_exit_seconds(idle_exit_seconds) {}
  ~Daemon() {
    if (m_idle) g_source_remove(m_idle);
  }

  // Arms the idle exit when nothing needs transferd, disarms it otherwise.
  void CheckIdle() {
    bool idle = m_server.Clients() == 0 && !m_service.Busy();
    if (idle && !m_idle) {
      m_idle = g_timeout_add_seconds(static_cast<guint>(m_idle_exit_seconds), &Daemon::OnIdle, this);
    } else if (!idle && m_idle) {
      g_source_remove(m_idle);
      m_idle = 0;
    }
  }

  int Run() {
    m_loop = g_main_loop_new(nullptr, FALSE);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(signal, &Daemon::OnSignal, this);
    CheckIdle();
    g_main_loop_run(m_loop);
    g_main_loop_unref(m_loop);
    Log("ending: " + m_reason);
    return 0;
  }

 private:
  static gboolean OnIdle(gpointer self) {
    auto* daemon = static_cast<Daemon*>(self);
    daemon->m_idle = 0;
    daemon->m_reason = "no client and no job needing transferd for " + std::to_string(daemon->m_idle_exit_seconds) + " s";
    g_main_loop_quit(daemon->m_loop);
    return G_SOURCE_REMOVE;
  }
  static gboolean OnSignal(gpointer self) {
    auto* daemon = static_cast<Daemon*>(self);
    daemon->m_reason = "asked to end by a signal";
    g_main_loop_quit(daemon->m_loop);
    return G_SOURCE_CONTINUE;
  }

  Service& m_service;
  IpcServer& m_server;
  int m_idle_exit_seconds;
  guint m_idle = 0;
  GMainLoop* m_loop = nullptr;
  std::string m_reason;
};

int Main(bool foreground) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string state_dir = StateDir();
  if (!MakeDirs(state_dir, 0700)) {
    std::fprintf(stderr, "transferd: cannot create %s: %s\n", state_dir.c_str(), std::strerror(errno));
    return 1;
  }
  OpenLog(state_dir + "/transferd.log", foreground);
  std::string error;
  std::string runtime_dir = RuntimeDir(&error);
  if (runtime_dir.empty()) {
    Log("cannot start: " + error);
    return 1;
  }
  std::string socket_path = SocketPath(runtime_dir);
  std::string lock_path = state_dir + "/transferd.lock";
  int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  LockResult locked = lock < 0 ? LockResult::Failed : TakeLock(lock, socket_path);
  if (locked == LockResult::Failed) {
    Log("cannot start: cannot lock " + lock_path + ": " + std::strerror(errno));
    return 1;
  }
  if (locked == LockResult::OtherInstance) {
    Log("not starting: another transferd of this user holds " + lock_path);
    return 0;
  }
  unlink(socket_path.c_str());  // left by an instance that did not end cleanly

  Store store;
  if (!store.Open(state_dir + "/jobs.db", &error)) {
    Log("cannot start: " + error);
    return 1;
  }
  Config config = LoadConfig(ConfigFile());
  int result = 0;
  {
    SystemClock clock;
    Service service(store, clock, config);
    IpcServer server(service);
    Daemon daemon(service, server, config.idle_exit_seconds);
    service.SetBusyHandler([&daemon] { daemon.CheckIdle(); });
    server.SetClientsHandler([&daemon] { daemon.CheckIdle(); });
    service.Start();
    if (!server.Listen(socket_path, &error)) {
      Log("cannot start: " + error);
      result = 1;
    } else {
      Log("serving " + socket_path + " (pid " + std::to_string(getpid()) + ")");
      result = daemon.Run();
    }
    service.SetBusyHandler(nullptr);
    server.SetClientsHandler(nullptr);
  }
  close(lock);
  return result;
}

}  // namespace
}  // namespace transferd

int main(int argc, char** argv) {
  bool foreground = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--foreground" || argument == "-f") {
      foreground = true;
    } else {
      std::fprintf(stderr,
                   "usage: transferd [--foreground]\n"
                   "The per-user background transfer service; its clients start it when they need it.\n");
      return 2;
    }
  }
  return transferd::Main(foreground);
}
