#include "backend.h"

namespace winshim {

UiBackend& CurrentBackend()
{
    // The GTK back end joins here; until a display is in use every run is headless.
    return HeadlessBackend();
}

} // namespace winshim
