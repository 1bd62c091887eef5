// The client side of transferd's socket, shared by winshim's BITS client and
// transferctl: connects to the user's transferd, starting it when its socket is
// not reachable (as a COM local server is started on first activation).
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "transferd-ipc.h"

namespace transferd {

// The program started on demand: $TRANSFERD_PATH, else `transferd` beside the
// running executable, else the one this build produced, else from PATH.
std::string DaemonProgram();

class Channel {
 public:
  Channel() = default;
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Connects (starting transferd when needed); on failure says why in *error.
  bool Connect(std::string* error);

  // Runs one call on a live connection. When the connection has gone (transferd
  // ended or was killed), connects again, starting transferd, and repeats the
  // call once. False with the reason in *error when transferd cannot be reached.
  using Call = std::function<gboolean(TransferdManager1* proxy, GError** error)>;
  bool Invoke(const Call& call, std::string* error);

 private:
  TransferdManager1* Proxy(std::string* error);  // a new reference, or null
  void Drop(TransferdManager1* proxy);

  std::mutex m_mutex;
  TransferdManager1* m_proxy = nullptr;
};

}  // namespace transferd
