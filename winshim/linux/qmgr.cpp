// qmgr: the client side of the background transfer service. The manager, job and
// error objects ask the user's transferd over its socket; a client whose transferd
// went away connects again (starting it) on its next call, and the job is the same.
#include <windows.h>
#include <bits.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "client.h"
#include "qmgr.h"
#include "text.h"
#include "unixfs.h"
#include "trace.h"

extern "C" const CLSID CLSID_BackgroundCopyManager = {
    0x4991D34B, 0x80A1, 0x4291, {0x83, 0xB6, 0x33, 0x28, 0x36, 0x6B, 0x90, 0x97}};
extern "C" const IID IID_IBackgroundCopyManager = {
    0x5CE34C0D, 0x0DC9, 0x4C1F, {0x89, 0x7C, 0xDA, 0xA1, 0xB7, 0x8C, 0xEE, 0x7C}};
extern "C" const IID IID_IBackgroundCopyJob = {
    0x37668D37, 0x507E, 0x4160, {0x93, 0x16, 0x26, 0x30, 0x6D, 0x15, 0x0B, 0x12}};
extern "C" const IID IID_IBackgroundCopyError = {
    0x19C613A0, 0xFCB8, 0x4F28, {0x81, 0xAE, 0x89, 0x7C, 0x3D, 0x07, 0x8F, 0x81}};

using namespace winshim;

namespace {

using ChannelRef = std::shared_ptr<transferd::Channel>;
using Call = std::function<gboolean(TransferdManager1* proxy, guint* result, GError** error)>;

// FILETIME counts 100 ns steps from 1601; transferd counts microseconds from 1970.
constexpr ULONGLONG kFiletimeAtUnixEpoch = 116444736000000000ULL;

// One call to transferd: the service's HRESULT, or RPC_E_SERVER_UNAVAILABLE when
// transferd cannot be reached even after starting it again.
HRESULT Invoke(transferd::Channel& channel, const Call& call)
{
    guint result = static_cast<guint>(E_FAIL);
    std::string error;
    bool answered = channel.Invoke(
        [&](TransferdManager1* proxy, GError** gerror) { return call(proxy, &result, gerror); }, &error);
    if (!answered) {
        std::fprintf(stderr, "qmgr: the transfer service cannot be reached: %s\n", error.c_str());
        return RPC_E_SERVER_UNAVAILABLE;
    }
    return static_cast<HRESULT>(result);
}

HRESULT CopyText(const std::string& utf8, LPWSTR* out)
{
    std::u16string text = ToUtf16(utf8);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (!copy)
        return E_OUTOFMEMORY;
    text.copy(copy, text.size());
    copy[text.size()] = 0;
    *out = copy;
    return S_OK;
}

FILETIME ToFiletime(gint64 micros)
{
    ULONGLONG ticks = micros > 0 ? static_cast<ULONGLONG>(micros) * 10 + kFiletimeAtUnixEpoch : 0;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::string GuidText(REFGUID guid)
{
    WCHAR text[39];
    StringFromGUID2(guid, text, 39);
    return ToUtf8(text);
}

// Reference counting and QueryInterface for an object with one interface.
template <class Interface>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == m_iid) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    explicit ComObject(REFIID iid) : m_iid(iid) {}
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> m_refs{1};
    REFIID m_iid;
};

class CBackgroundCopyError final : public ComObject<IBackgroundCopyError> {
public:
    CBackgroundCopyError(ChannelRef channel, BG_ERROR_CONTEXT context, HRESULT code)
        : ComObject(IID_IBackgroundCopyError), m_channel(std::move(channel)), m_context(context), m_code(code)
    {
    }

    STDMETHODIMP GetError(BG_ERROR_CONTEXT* pContext, HRESULT* pCode) override
    {
        if (!pContext || !pCode)
            return E_INVALIDARG;
        *pContext = m_context;
        *pCode = m_code;
        return S_OK;
    }

    STDMETHODIMP GetErrorDescription(DWORD LanguageId, LPWSTR* pErrorDescription) override
    {
        return Describe(transferd_manager1_call_get_error_description_sync, static_cast<guint>(m_code), LanguageId,
                        pErrorDescription);
    }

    STDMETHODIMP GetErrorContextDescription(DWORD LanguageId, LPWSTR* pContextDescription) override
    {
        return Describe(transferd_manager1_call_get_context_description_sync, static_cast<guint>(m_context),
                        LanguageId, pContextDescription);
    }

private:
    using DescribeCall = gboolean (*)(TransferdManager1*, guint, guint, guint*, gchar**, GCancellable*, GError**);

    HRESULT Describe(DescribeCall call, guint what, DWORD language, LPWSTR* out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        std::string text;
        HRESULT hr = Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            gchar* description = nullptr;
            gboolean done = call(proxy, what, language, result, &description, nullptr, error);
            if (done)
                text = description;
            g_free(description);
            return done;
        });
        return FAILED(hr) ? hr : CopyText(text, out);
    }

    ChannelRef m_channel;
    BG_ERROR_CONTEXT m_context;
    HRESULT m_code;
};

// The service's view of a job, in one answer.
struct JobView {
    std::string displayName;
    guint type = 0;
    guint state = 0;
    guint64 bytesTotal = 0;
    guint64 bytesTransferred = 0;
    guint filesTotal = 0;
    guint filesTransferred = 0;
    gint64 created = 0;
    gint64 modified = 0;
    gint64 completed = 0;
    guint errorContext = 0;
    guint errorCode = 0;
    guint retryDelay = 0;
    guint noProgressTimeout = 0;
};

class CBackgroundCopyJob final : public ComObject<IBackgroundCopyJob> {
public:
    CBackgroundCopyJob(ChannelRef channel, REFGUID id)
        : ComObject(IID_IBackgroundCopyJob), m_channel(std::move(channel)), m_id(id), m_idText(GuidText(id))
    {
    }

    STDMETHODIMP AddFile(LPCWSTR RemoteUrl, LPCWSTR LocalName) override
    {
        if (!RemoteUrl || !LocalName)
            return E_INVALIDARG;
        std::string url = ToUtf8(RemoteUrl);
        std::string local = UnixPath(LocalName); // the program speaks Windows paths
        Trace("IBackgroundCopyJob::AddFile %s: %s -> %s", m_idText.c_str(), url.c_str(), local.c_str());
        return Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            return transferd_manager1_call_add_file_sync(proxy, m_idText.c_str(), url.c_str(), local.c_str(), result,
                                                         nullptr, error);
        });
    }

    STDMETHODIMP Suspend() override { return Operation("Suspend", transferd_manager1_call_suspend_sync); }
    STDMETHODIMP Resume() override { return Operation("Resume", transferd_manager1_call_resume_sync); }
    STDMETHODIMP Cancel() override { return Operation("Cancel", transferd_manager1_call_cancel_sync); }
    STDMETHODIMP Complete() override { return Operation("Complete", transferd_manager1_call_complete_sync); }

    STDMETHODIMP GetId(GUID* pVal) override
    {
        if (!pVal)
            return E_INVALIDARG;
        *pVal = m_id;
        return S_OK;
    }

    STDMETHODIMP GetType(BG_JOB_TYPE* pVal) override
    {
        return Query(pVal, [](const JobView& view) { return static_cast<BG_JOB_TYPE>(view.type); });
    }

    STDMETHODIMP GetProgress(BG_JOB_PROGRESS* pVal) override
    {
        return Query(pVal, [](const JobView& view) {
            return BG_JOB_PROGRESS{view.bytesTotal, view.bytesTransferred, view.filesTotal, view.filesTransferred};
        });
    }

    STDMETHODIMP GetTimes(BG_JOB_TIMES* pVal) override
    {
        return Query(pVal, [](const JobView& view) {
            return BG_JOB_TIMES{ToFiletime(view.created), ToFiletime(view.modified), ToFiletime(view.completed)};
        });
    }

    STDMETHODIMP GetState(BG_JOB_STATE* pVal) override
    {
        return Query(pVal, [](const JobView& view) { return static_cast<BG_JOB_STATE>(view.state); });
    }

    STDMETHODIMP GetMinimumRetryDelay(ULONG* Seconds) override
    {
        return Query(Seconds, [](const JobView& view) { return static_cast<ULONG>(view.retryDelay); });
    }

    STDMETHODIMP GetNoProgressTimeout(ULONG* Seconds) override
    {
        return Query(Seconds, [](const JobView& view) { return static_cast<ULONG>(view.noProgressTimeout); });
    }

    STDMETHODIMP GetDisplayName(LPWSTR* pVal) override
    {
        if (!pVal)
            return E_INVALIDARG;
        *pVal = nullptr;
        JobView view;
        HRESULT hr = Fetch(view);
        return FAILED(hr) ? hr : CopyText(view.displayName, pVal);
    }

    STDMETHODIMP GetError(IBackgroundCopyError** ppError) override
    {
        if (!ppError)
            return E_INVALIDARG;
        *ppError = nullptr;
        JobView view;
        HRESULT hr = Fetch(view);
        if (FAILED(hr))
            return hr;
        if (view.state != BG_JOB_STATE_ERROR && view.state != BG_JOB_STATE_TRANSIENT_ERROR)
            return BG_E_ERROR_INFORMATION_UNAVAILABLE;
        *ppError = new CBackgroundCopyError(m_channel, static_cast<BG_ERROR_CONTEXT>(view.errorContext),
                                            static_cast<HRESULT>(view.errorCode));
        return S_OK;
    }

    STDMETHODIMP SetMinimumRetryDelay(ULONG Seconds) override
    {
        return Setting(transferd_manager1_call_set_minimum_retry_delay_sync, Seconds);
    }

    STDMETHODIMP SetNoProgressTimeout(ULONG Seconds) override
    {
        return Setting(transferd_manager1_call_set_no_progress_timeout_sync, Seconds);
    }

private:
    using OperationCall = gboolean (*)(TransferdManager1*, const gchar*, guint*, GCancellable*, GError**);
    using SettingCall = gboolean (*)(TransferdManager1*, const gchar*, guint, guint*, GCancellable*, GError**);

    HRESULT Operation(const char* name, OperationCall call)
    {
        HRESULT hr = Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            return call(proxy, m_idText.c_str(), result, nullptr, error);
        });
        Trace("IBackgroundCopyJob::%s %s: 0x%08X", name, m_idText.c_str(), static_cast<unsigned>(hr));
        return hr;
    }

    HRESULT Setting(SettingCall call, ULONG seconds)
    {
        return Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            return call(proxy, m_idText.c_str(), static_cast<guint>(seconds), result, nullptr, error);
        });
    }

    HRESULT Fetch(JobView& view)
    {
        return Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            gchar* name = nullptr;
            gboolean done = transferd_manager1_call_get_job_sync(
                proxy, m_idText.c_str(), result, &name, &view.type, &view.state, &view.bytesTotal,
                &view.bytesTransferred, &view.filesTotal, &view.filesTransferred, &view.created, &view.modified,
                &view.completed, &view.errorContext, &view.errorCode, &view.retryDelay, &view.noProgressTimeout,
                nullptr, error);
            if (done)
                view.displayName = name;
            g_free(name);
            return done;
        });
    }

    template <class Value, class Pick>
    HRESULT Query(Value* out, Pick pick)
    {
        if (!out)
            return E_INVALIDARG;
        JobView view;
        HRESULT hr = Fetch(view);
        if (SUCCEEDED(hr))
            *out = pick(view);
        return hr;
    }

    ChannelRef m_channel;
    GUID m_id;
    std::string m_idText;
};

class CBackgroundCopyManager final : public ComObject<IBackgroundCopyManager> {
public:
    explicit CBackgroundCopyManager(ChannelRef channel)
        : ComObject(IID_IBackgroundCopyManager), m_channel(std::move(channel))
    {
    }

    STDMETHODIMP CreateJob(LPCWSTR DisplayName, BG_JOB_TYPE Type, GUID* pJobId, IBackgroundCopyJob** ppJob) override
    {
        if (!ppJob || !pJobId || !DisplayName)
            return E_INVALIDARG;
        *ppJob = nullptr;
        std::string name = ToUtf8(DisplayName);
        std::string id;
        HRESULT hr = Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            gchar* newId = nullptr;
            gboolean done = transferd_manager1_call_create_job_sync(proxy, name.c_str(), static_cast<guint>(Type),
                                                                    result, &newId, nullptr, error);
            if (done)
                id = newId;
            g_free(newId);
            return done;
        });
        if (FAILED(hr))
            return hr;
        GUID guid{};
        if (FAILED(IIDFromString(ToUtf16(id).c_str(), &guid)))
            return E_UNEXPECTED;
        *pJobId = guid;
        *ppJob = new CBackgroundCopyJob(m_channel, guid);
        return hr;
    }

    STDMETHODIMP GetJob(REFGUID jobID, IBackgroundCopyJob** ppJob) override
    {
        if (!ppJob)
            return E_INVALIDARG;
        *ppJob = nullptr;
        std::string id = GuidText(jobID);
        HRESULT hr = Invoke(*m_channel, [&](TransferdManager1* proxy, guint* result, GError** error) {
            return transferd_manager1_call_find_job_sync(proxy, id.c_str(), result, nullptr, error);
        });
        if (SUCCEEDED(hr))
            *ppJob = new CBackgroundCopyJob(m_channel, jobID);
        return hr;
    }

private:
    ChannelRef m_channel;
};

} // namespace

namespace winshim {

HRESULT CreateBackgroundCopyManager(REFIID riid, void** ppv)
{
    auto channel = std::make_shared<transferd::Channel>();
    std::string error;
    if (!channel->Connect(&error)) {
        std::fprintf(stderr, "qmgr: cannot start the transfer service: %s\n", error.c_str());
        return CO_E_SERVER_EXEC_FAILURE;
    }
    auto* manager = new CBackgroundCopyManager(std::move(channel));
    HRESULT hr = manager->QueryInterface(riid, ppv);
    manager->Release();
    return hr;
}

} // namespace winshim
