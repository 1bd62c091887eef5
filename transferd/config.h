// transferd's settings: `key=value` lines in transferd.conf, plus the environment
// it was started with.
#pragma once

#include <string>
#include <vector>

namespace transferd {

struct Config {
  // Host pinning in curl's --connect-to syntax (HOST1:PORT1:HOST2:PORT2).
  std::vector<std::string> connect_to;
  // How long transferd stays with no client and no job that needs it.
  int idle_exit_seconds = 30;
  // A connection that brings no byte for this long is broken off (a time-out).
  int stall_timeout_seconds = 60;
  int connect_timeout_seconds = 30;
  // Jobs transferring at the same time; the others wait queued.
  int max_active_jobs = 4;
  // Jobs a user may have (an administrator's limit, as on Windows).
  int max_jobs_per_user = 60;
};

// Reads `path` (missing is fine) and TRANSFERD_CONNECT_TO. Problems with single
// lines are logged and the line skipped.
Config LoadConfig(const std::string& path);

}  // namespace transferd
