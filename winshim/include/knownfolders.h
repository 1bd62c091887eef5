// Identifiers of the shell's known folders.
#pragma once

#include "windef.h"

extern "C" const KNOWNFOLDERID FOLDERID_Downloads; // {374DE290-123F-4565-9164-39C4925E467B}
