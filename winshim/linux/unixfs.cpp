#include "unixfs.h"

#include <algorithm>
#include <cerrno>

#include "text.h"
#include "winerror.h"

namespace winshim {

std::string UnixPath(std::u16string_view path)
{
    std::string unix = ToUtf8(path);
    std::replace(unix.begin(), unix.end(), '\\', '/');
    return unix;
}

std::string UnixPath(LPCWSTR path)
{
    return UnixPath(std::u16string_view(path ? path : u""));
}

DWORD Win32ErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case ETXTBSY:
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace winshim
