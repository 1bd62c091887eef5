// qmgr's class object, for COM activation in ole32.
#pragma once

#include <windows.h>

namespace winshim {

// Makes a background copy manager connected to the user's transferd (started when
// it is not running) and asks it for riid. CO_E_SERVER_EXEC_FAILURE when transferd
// cannot be reached.
HRESULT CreateBackgroundCopyManager(REFIID riid, void** ppv);

} // namespace winshim
