// The kernel's handle table: every HANDLE that kernel32 gives out names one object here.
#pragma once

#include <memory>

#include "windef.h"

namespace winshim {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // WAIT_OBJECT_0 once the object is signalled, WAIT_TIMEOUT when the time ran out first.
    virtual DWORD Wait(DWORD milliseconds) = 0;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

} // namespace winshim
