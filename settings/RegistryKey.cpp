#include "stdafx.h"

#include "RegistryKey.h"

namespace {

const WCHAR kSettingsKey[] = _T("Software\\Lorva\\Sorvane\\");
const UINT kSystemTextSize = 256;

} // namespace

BYTE CRegistryKey::s_buffer[512];

CRegistryKey::CRegistryKey() : m_hKey(NULL)
{
}

CRegistryKey::~CRegistryKey()
{
    if (m_hKey != NULL && RegCloseKey(m_hKey) == ERROR_SUCCESS)
        m_hKey = NULL;
}

BOOL CRegistryKey::OpenForWrite()
{
    DWORD dwDisposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE, NULL, &m_hKey,
                        &dwDisposition) != ERROR_SUCCESS) {
        m_hKey = NULL;
        return FALSE;
    }
    return TRUE;
}

BOOL CRegistryKey::OpenForRead()
{
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &m_hKey) != ERROR_SUCCESS) {
        m_hKey = NULL;
        return FALSE;
    }
    return TRUE;
}

BOOL CRegistryKey::QueryString(LPCWSTR pszName, CString& strValue)
{
    DWORD cbData = sizeof(s_buffer);
    LSTATUS lStatus = RegQueryValueExW(m_hKey, pszName, NULL, NULL, s_buffer, &cbData);
    if (lStatus == ERROR_FILE_NOT_FOUND) {
        strValue.Empty();
        return FALSE;
    }
    if (lStatus != ERROR_SUCCESS)
        ThrowRegistryException(lStatus);

    // Whatever the value holds is text; one without a NUL ends at the buffer's end.
    const WCHAR* pszText = reinterpret_cast<const WCHAR*>(s_buffer);
    const int nMaxLength = sizeof(s_buffer) / sizeof(WCHAR);
    int nLength = 0;
    while (nLength < nMaxLength && pszText[nLength] != 0)
        ++nLength;
    strValue = CString(pszText, nLength);
    return TRUE;
}

IMPLEMENT_DYNAMIC(CRegistryException, CException)

CRegistryException::CRegistryException(LSTATUS lError) : m_lError(lError)
{
}

CRegistryException::~CRegistryException()
{
}

BOOL CRegistryException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext)
{
    CString strLocation;
    strLocation.LoadString(IDS_REGISTRY_LOCATION);

    WCHAR szSystemText[kSystemTextSize] = {0};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, NULL, static_cast<DWORD>(m_lError),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), szSystemText, kSystemTextSize, NULL);

    CString strMessage;
    strMessage.FormatMessage(IDS_REGISTRY_ERROR_FORMAT, static_cast<LPCWSTR>(strLocation),
                             static_cast<LPCWSTR>(szSystemText));
    lstrcpynW(lpszError, strMessage, static_cast<int>(nMaxError));

    if (pnHelpContext != NULL)
        *pnHelpContext = 0;
    return TRUE;
}

void ThrowRegistryException(LSTATUS lError)
{
    throw new CRegistryException(lError);
}
