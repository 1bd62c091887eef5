// comctl32: the common controls.
#include <windows.h>
#include <commctrl.h>

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce)
{
    if (!picce || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The control classes are built into the dialog manager; nothing needs registering.
    return TRUE;
}
