// The program's settings key under HKEY_CURRENT_USER, and the error raised when the registry
// fails unexpectedly.
#pragma once

#include "stdafx.h"

// The one settings key of the program. A local object of the function that uses it: opened once,
// closed by the destructor, also when an exception leaves the function.
class CRegistryKey : public CObject {
public:
    CRegistryKey();
    virtual ~CRegistryKey();

    // Opens the key for writing, creating it and its parents when missing.
    BOOL OpenForWrite();
    // Opens the key for reading; creates nothing.
    BOOL OpenForRead();
    // TRUE with the value's text; FALSE with the empty text when the value does not exist.
    // Any other failure raises CRegistryException. Call only after OpenForRead succeeded.
    BOOL QueryString(LPCWSTR pszName, CString& strValue);

    HKEY m_hKey;

private:
    // Shared by every key object and every call: one thread at a time.
    static BYTE s_buffer[512];
};

// An unexpected registry failure, thrown by pointer; the catcher ends it with Delete.
class CRegistryException : public CException {
    DECLARE_DYNAMIC(CRegistryException)
public:
    explicit CRegistryException(LSTATUS lError);
    virtual ~CRegistryException();

    using CException::GetErrorMessage;
    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext = NULL) override;

    LSTATUS m_lError;
};

[[noreturn]] void ThrowRegistryException(LSTATUS lError);
