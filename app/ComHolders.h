// Holders for what COM hands out: an interface reference, released on every way out unless
// Detach hands it on, and a text allocated with CoTaskMemAlloc, freed on leaving the scope.
#pragma once

#include <objbase.h>

template <class T>
class CInterfacePtr {
public:
    CInterfacePtr() : m_p(NULL) {}
    explicit CInterfacePtr(T* p) : m_p(p) {}
    CInterfacePtr(CInterfacePtr&& other) : m_p(other.Detach()) {}
    ~CInterfacePtr()
    {
        if (m_p != NULL)
            m_p->Release();
    }
    CInterfacePtr(const CInterfacePtr&) = delete;
    CInterfacePtr& operator=(const CInterfacePtr&) = delete;

    T** operator&() { return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    bool IsNull() const { return m_p == NULL; }
    explicit operator bool() const { return m_p != NULL; }
    T* Detach()
    {
        T* p = m_p;
        m_p = NULL;
        return p;
    }

private:
    T* m_p;
};

class CTaskMemText {
public:
    CTaskMemText() : m_psz(NULL) {}
    ~CTaskMemText() { CoTaskMemFree(m_psz); }
    CTaskMemText(const CTaskMemText&) = delete;
    CTaskMemText& operator=(const CTaskMemText&) = delete;

    LPWSTR* operator&() { return &m_psz; }
    LPCWSTR Get() const { return m_psz; }
    operator LPCWSTR() const { return m_psz; }

private:
    LPWSTR m_psz;
};
