#include "paths.h"

#include <gio/gio.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace transferd {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string Home() {
  std::string home = Env("HOME");
  return home.empty() ? std::string("/") : home;
}

std::string XdgDir(const char* variable, const char* fallback_below_home) {
  std::string dir = Env(variable);
  return dir.empty() ? Home() + "/" + fallback_below_home : dir;
}

}  // namespace

bool MakeDirs(const std::string& path, unsigned mode) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string RuntimeDir(std::string* error) {
  std::string base = Env("XDG_RUNTIME_DIR");
  std::string dir;
  if (!base.empty()) {
    dir = base + "/transferd";
  } else {
    const char* tmp = std::getenv("TMPDIR");
    dir = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/transferd-" + std::to_string(getuid());
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    if (errno != ENOENT || !MakeDirs(base, 0700) || (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)) {
      *error = "cannot create " + dir + ": " + std::strerror(errno);
      return {};
    }
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) {
    *error = "cannot examine " + dir + ": " + std::strerror(errno);
    return {};
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0) {
    *error = dir + " is not a private folder of this user (it must be a directory owned by uid " +
             std::to_string(getuid()) + " with mode 0700)";
    return {};
  }
  return dir;
}

std::string SocketPath(const std::string& runtime_dir) { return runtime_dir + "/socket"; }

std::string SocketAddress(const std::string& runtime_dir) {
  gchar* escaped = g_dbus_address_escape_value(SocketPath(runtime_dir).c_str());
  std::string address = std::string("unix:path=") + escaped;
  g_free(escaped);
  return address;
}

std::string StateDir() { return XdgDir("XDG_STATE_HOME", ".local/state") + "/transferd"; }

std::string ConfigFile() { return XdgDir("XDG_CONFIG_HOME", ".config") + "/transferd/transferd.conf"; }

}  // namespace transferd
