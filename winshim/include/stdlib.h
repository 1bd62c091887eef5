// The C library's stdlib.h, and with it the path functions of Microsoft's C run time (msvcrt)
// that programs on winshim call, as they do on Windows after #include <stdlib.h>.
#pragma once

#include_next <stdlib.h>

#ifdef __cplusplus

#include <stddef.h>

#ifndef _ERRNO_T_DEFINED
#define _ERRNO_T_DEFINED
typedef int errno_t;
#endif

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

// Joins drive letter and colon, folder (a backslash is added unless it ends in one or in a
// slash), file name and extension. 0, or ERANGE with an empty path when it does not fit.
extern "C" errno_t _wmakepath_s(char16_t* path, size_t sizeInWords, const char16_t* drive, const char16_t* dir,
                                const char16_t* fname, const char16_t* ext);
// Splits a path into drive, folder (up to the last backslash or slash), file name and
// extension; a NULL buffer with size 0 is not wanted. 0, or ERANGE with every wanted buffer
// emptied when a part does not fit.
extern "C" errno_t _wsplitpath_s(const char16_t* path, char16_t* drive, size_t driveNumberOfElements, char16_t* dir,
                                 size_t dirNumberOfElements, char16_t* fname, size_t nameNumberOfElements,
                                 char16_t* ext, size_t extNumberOfElements);

#endif
