// The root of our small MFC: run-time classes, CObject and exceptions.
#pragma once

#include <windows.h>

#include "afxstr.h"

#define afx_msg
#define PASCAL

class CObject;
class CArchive;

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    const CRuntimeClass* m_pBaseClass;

    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())
#define DECLARE_DYNAMIC(class_name)                                                                            \
public:                                                                                                        \
    static const CRuntimeClass* PASCAL GetThisClass();                                                         \
    const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                         \
    const CRuntimeClass* PASCAL class_name::GetThisClass()                                                     \
    {                                                                                                          \
        static const CRuntimeClass rc = {#class_name, sizeof(class_name), RUNTIME_CLASS(base_class_name)};      \
        return &rc;                                                                                            \
    }                                                                                                          \
    const CRuntimeClass* class_name::GetRuntimeClass() const { return GetThisClass(); }

class CObject {
public:
    static const CRuntimeClass* PASCAL GetThisClass();
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive& ar);
    BOOL IsKindOf(const CRuntimeClass* pClass) const;

protected:
    CObject() = default;

private:
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

// Exceptions are thrown by pointer and ended with Delete by their catcher.
class CException : public CObject {
    DECLARE_DYNAMIC(CException)
public:
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    void Delete();
    virtual BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const;
    virtual BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr);
    virtual int ReportError(UINT nType = MB_OK, UINT nMessageID = 0);

protected:
    BOOL m_bAutoDelete;
};

class CSimpleException : public CException {
    DECLARE_DYNAMIC(CSimpleException)
public:
    explicit CSimpleException(UINT nResourceID = 0) : m_nResourceID(nResourceID) {}
    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;

private:
    UINT m_nResourceID;
};

class CInvalidArgException : public CSimpleException {
    DECLARE_DYNAMIC(CInvalidArgException)
};

class CMemoryException : public CSimpleException {
    DECLARE_DYNAMIC(CMemoryException)
};

[[noreturn]] void AfxThrowInvalidArgException();
[[noreturn]] void AfxThrowMemoryException();
