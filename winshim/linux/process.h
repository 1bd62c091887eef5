// Processes started by winshim: kernel32 owns their handles; shell32 starts them.
#pragma once

#include <string>

#include <sys/types.h>

#include "windef.h"

namespace winshim {

// Starts the program file in the folder (none: the current one) without arguments, in a session
// of its own, with /dev/null as standard input and output and none of this process's other
// files. A process handle, or NULL with the last error set.
HANDLE StartProcess(const std::string& file, const std::string& directory);

// A process handle for a child that another spawner started and left for us to reap.
HANDLE AdoptChildProcess(pid_t pid);

} // namespace winshim
