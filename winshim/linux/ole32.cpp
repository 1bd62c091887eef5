// ole32: apartments, activation, task memory and the texts of GUIDs.
#include <windows.h>
#include <objbase.h>
#include <bits.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "qmgr.h"
#include "trace.h"

extern "C" const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb)
{
    return std::malloc(cb ? cb : 1);
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    return std::realloc(pv, cb ? cb : 1);
}

void WINAPI CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}

namespace {

constexpr int kGuidTextLength = 38;

void PutHex(LPOLESTR out, unsigned long long value, int digits)
{
    static const char16_t hex[] = u"0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        out[i] = hex[value & 0xF];
}

int HexValue(OLECHAR c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool ReadHex(LPCOLESTR in, int digits, unsigned long long& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        int v = HexValue(in[i]);
        if (v < 0)
            return false;
        value = (value << 4) | static_cast<unsigned>(v);
    }
    return true;
}

bool ParseGuid(LPCOLESTR text, GUID& guid)
{
    if (!text)
        return false;
    for (int i = 0; i < kGuidTextLength; ++i)
        if (text[i] == 0)
            return false;
    if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-' ||
        text[37] != u'}' || text[38] != 0)
        return false;
    unsigned long long v = 0;
    if (!ReadHex(text + 1, 8, v))
        return false;
    guid.Data1 = static_cast<DWORD>(v);
    if (!ReadHex(text + 10, 4, v))
        return false;
    guid.Data2 = static_cast<WORD>(v);
    if (!ReadHex(text + 15, 4, v))
        return false;
    guid.Data3 = static_cast<WORD>(v);
    static const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + offsets[i], 2, v))
            return false;
        guid.Data4[i] = static_cast<BYTE>(v);
    }
    return true;
}

} // namespace

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    if (!lpsz || cchMax < kGuidTextLength + 1)
        return 0;
    lpsz[0] = u'{';
    PutHex(lpsz + 1, rguid.Data1, 8);
    lpsz[9] = u'-';
    PutHex(lpsz + 10, rguid.Data2, 4);
    lpsz[14] = u'-';
    PutHex(lpsz + 15, rguid.Data3, 4);
    lpsz[19] = u'-';
    PutHex(lpsz + 20, rguid.Data4[0], 2);
    PutHex(lpsz + 22, rguid.Data4[1], 2);
    lpsz[24] = u'-';
    for (int i = 2; i < 8; ++i)
        PutHex(lpsz + 25 + (i - 2) * 2, rguid.Data4[i], 2);
    lpsz[37] = u'}';
    lpsz[38] = 0;
    return kGuidTextLength + 1;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz)
{
    if (!lplpsz)
        return E_INVALIDARG;
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidTextLength + 1) * sizeof(OLECHAR)));
    if (!*lplpsz)
        return E_OUTOFMEMORY;
    StringFromGUID2(rclsid, *lplpsz, kGuidTextLength + 1);
    return S_OK;
}

HRESULT WINAPI StringFromIID(REFIID rclsid, LPOLESTR* lplpsz)
{
    return StringFromCLSID(rclsid, lplpsz);
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid)
{
    if (!lpiid)
        return E_INVALIDARG;
    GUID guid{};
    if (!ParseGuid(lpsz, guid))
        return E_INVALIDARG;
    *lpiid = guid;
    return S_OK;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (!pclsid)
        return E_INVALIDARG;
    GUID guid{};
    if (!ParseGuid(lpsz, guid))
        return CO_E_CLASSSTRING;
    *pclsid = guid;
    return S_OK;
}

namespace {

// The thread's apartment: how often it was entered, and as which kind.
struct Apartment {
    int entered = 0;
    DWORD model = COINIT_MULTITHREADED;
};
thread_local Apartment t_apartment;

} // namespace

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.entered > 0 && t_apartment.model != model)
        return RPC_E_CHANGED_MODE;
    t_apartment.model = model;
    return t_apartment.entered++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize()
{
    if (t_apartment.entered > 0)
        --t_apartment.entered;
}

extern "C" const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

struct RegisteredClass {
    CLSID clsid;
    DWORD context;
    IUnknown* object;
};

std::mutex g_classMutex;
std::map<DWORD, RegisteredClass> g_registeredClasses;
DWORD g_nextRegistration = 1;

// The class factory registered for the class in one of the contexts, with a reference; or NULL.
IClassFactory* RegisteredClassFactory(REFCLSID rclsid, DWORD context)
{
    std::lock_guard lock(g_classMutex);
    for (auto& [cookie, registered] : g_registeredClasses) {
        void* factory = nullptr;
        if (registered.clsid == rclsid && (registered.context & context) &&
            SUCCEEDED(registered.object->QueryInterface(IID_IClassFactory, &factory)))
            return static_cast<IClassFactory*>(factory);
    }
    return nullptr;
}

} // namespace

HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD, LPDWORD lpdwRegister)
{
    if (!pUnk || !lpdwRegister)
        return E_INVALIDARG;
    if (t_apartment.entered == 0)
        return CO_E_NOTINITIALIZED;
    pUnk->AddRef();
    std::lock_guard lock(g_classMutex);
    *lpdwRegister = g_nextRegistration++;
    g_registeredClasses[*lpdwRegister] = {rclsid, dwClsContext, pUnk};
    return S_OK;
}

HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister)
{
    IUnknown* object = nullptr;
    {
        std::lock_guard lock(g_classMutex);
        auto it = g_registeredClasses.find(dwRegister);
        if (it == g_registeredClasses.end())
            return E_INVALIDARG;
        object = it->second.object;
        g_registeredClasses.erase(it);
    }
    object->Release();
    return S_OK;
}

// A class object this process registered comes first; otherwise the one class served is the
// background copy manager, a local server: transferd.
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    winshim::Trace("CoCreateInstance(class %08X, context %u)", static_cast<unsigned>(rclsid.Data1),
          static_cast<unsigned>(dwClsContext));
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (t_apartment.entered == 0)
        return CO_E_NOTINITIALIZED;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    if (IClassFactory* factory = RegisteredClassFactory(rclsid, dwClsContext)) {
        HRESULT hr = factory->CreateInstance(nullptr, riid, ppv);
        factory->Release();
        return hr;
    }
    if (rclsid == CLSID_BackgroundCopyManager && (dwClsContext & CLSCTX_LOCAL_SERVER))
        return winshim::CreateBackgroundCopyManager(riid, ppv);
    return REGDB_E_CLASSNOTREG;
}
