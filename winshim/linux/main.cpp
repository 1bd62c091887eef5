// The process entry: prepares the executable's resources and hands over to the application
// object, as the platform's start-up does on Windows.
#include <afxwin.h>
#include <winshim_ext.h>
#include <winshim_sanitizers.h>

extern "C" const unsigned char winshim_resources_begin[];
extern "C" const unsigned char winshim_resources_end[];

int main()
{
    WinshimSetExecutableResources(winshim_resources_begin,
                                  static_cast<SIZE_T>(winshim_resources_end - winshim_resources_begin));
    WCHAR commandLine[] = u"";
    return AfxWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}
