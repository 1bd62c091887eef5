// Where transferd keeps its socket, lock, store, log and configuration, all per
// user from the XDG base directories. Read from the environment at each call, so
// a test that points HOME and XDG_* elsewhere is isolated.
#pragma once

#include <string>

namespace transferd {

// The folder of the socket: $XDG_RUNTIME_DIR/transferd, or a private folder in the
// system's temporary directory. Created 0700 when missing; refused (empty result,
// the reason in *error) when it exists but another user could enter it.
std::string RuntimeDir(std::string* error);
std::string SocketPath(const std::string& runtime_dir);
std::string SocketAddress(const std::string& runtime_dir);

// $XDG_STATE_HOME/transferd (default ~/.local/state/transferd): store, lock and log.
std::string StateDir();
// $XDG_CONFIG_HOME/transferd/transferd.conf (default ~/.config/...).
std::string ConfigFile();

// mkdir -p with the given mode for each folder created; false with errno on failure.
bool MakeDirs(const std::string& path, unsigned mode);

}  // namespace transferd
