// A fake background transfer service for unit tests: a manager that keeps its jobs, jobs with
// scripted states, progress and errors, and one ordered record of every call made.
//
// The fakes count references for real, but their lifetime belongs to the test (the manager owns
// its jobs, a job its error object), so a test can check afterwards that the code under test
// released every reference it took: manager.AllReleased(). A release below zero is recorded
// instead of freeing anything, and makes AllReleased() false.
//
// Every call except AddRef, Release and QueryInterface is recorded as "<object>.<Method>(<args>)",
// for example "manager.CreateJob(Name)", "job1.AddFile(http://host/a.exe, /home/u/a.exe)",
// "job1.GetError()", "job1.error.GetErrorDescription(1033)". Jobs are named job1, job2, ...
// in the order they were created or added.
//
// The result of each method can be scripted with SetResults("AddFile", {E_FAIL}): the results are
// used in order, the last one stays. A failing call changes nothing and hands out nothing.
#pragma once

#include <windows.h>
#include <bits.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Utf16Text.h"

namespace sorvane_test {

inline std::string FakeBitsUtf8(LPCWSTR text)
{
    return text ? Utf8(text) : std::string();
}

// What the fakes share: the record of calls and the scripted results.
class FakeBitsObject {
public:
    explicit FakeBitsObject(std::string name, std::vector<std::string>* calls) : m_name(std::move(name)), m_calls(calls) {}
    FakeBitsObject(const FakeBitsObject&) = delete;
    FakeBitsObject& operator=(const FakeBitsObject&) = delete;

    const std::string& Name() const { return m_name; }
    // References handed out and not yet released.
    LONG Refs() const { return m_refs; }
    bool OverReleased() const { return m_overReleased; }
    bool Released() const { return m_refs == 0 && !m_overReleased; }

    void SetResults(const std::string& method, std::vector<HRESULT> results)
    {
        m_results[method].assign(results.begin(), results.end());
    }
    void SetResult(const std::string& method, HRESULT hr) { SetResults(method, {hr}); }

protected:
    ULONG DoAddRef() { return static_cast<ULONG>(++m_refs); }
    ULONG DoRelease()
    {
        if (m_refs == 0) {
            m_overReleased = true;
            return 0;
        }
        return static_cast<ULONG>(--m_refs);
    }

    // Records the call and returns its scripted result (S_OK unless scripted).
    HRESULT Call(const std::string& method, const std::string& args = "")
    {
        m_calls->push_back(m_name + "." + method + "(" + args + ")");
        auto found = m_results.find(method);
        if (found == m_results.end() || found->second.empty())
            return S_OK;
        HRESULT hr = found->second.front();
        if (found->second.size() > 1)
            found->second.pop_front();
        return hr;
    }

    std::vector<std::string>* Calls() const { return m_calls; }

private:
    std::string m_name;
    std::vector<std::string>* m_calls;
    LONG m_refs = 0;
    bool m_overReleased = false;
    std::map<std::string, std::deque<HRESULT>> m_results;
};

class FakeBitsError final : public IBackgroundCopyError, public FakeBitsObject {
public:
    FakeBitsError(std::string name, std::vector<std::string>* calls) : FakeBitsObject(std::move(name), calls) {}

    BG_ERROR_CONTEXT m_context = BG_ERROR_CONTEXT_NONE;
    HRESULT m_code = S_OK;
    std::u16string m_description;
    std::u16string m_contextDescription;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBackgroundCopyError))
            return E_NOINTERFACE;
        *ppv = static_cast<IBackgroundCopyError*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return DoAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DoRelease(); }

    STDMETHODIMP GetError(BG_ERROR_CONTEXT* pContext, HRESULT* pCode) override
    {
        HRESULT hr = Call("GetError");
        if (SUCCEEDED(hr)) {
            *pContext = m_context;
            *pCode = m_code;
        }
        return hr;
    }
    STDMETHODIMP GetErrorContextDescription(DWORD LanguageId, LPWSTR* pText) override
    {
        return Text("GetErrorContextDescription", LanguageId, m_contextDescription, pText);
    }
    STDMETHODIMP GetErrorDescription(DWORD LanguageId, LPWSTR* pText) override
    {
        return Text("GetErrorDescription", LanguageId, m_description, pText);
    }

private:
    HRESULT Text(const char* method, DWORD language, const std::u16string& text, LPWSTR* pText)
    {
        HRESULT hr = Call(method, std::to_string(language));
        if (FAILED(hr))
            return hr;
        auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
        if (!copy)
            return E_OUTOFMEMORY;
        text.copy(copy, text.size());
        copy[text.size()] = 0;
        *pText = copy;
        return hr;
    }
};

class FakeBitsJob final : public IBackgroundCopyJob, public FakeBitsObject {
public:
    // One scripted look at the job: GetState moves to the next step, GetProgress reports its sizes.
    struct Step {
        BG_JOB_STATE state;
        UINT64 bytesTotal = BG_SIZE_UNKNOWN;
        UINT64 bytesTransferred = 0;
    };

    FakeBitsJob(std::string name, std::vector<std::string>* calls, GUID id, std::u16string displayName)
        : FakeBitsObject(std::move(name), calls), m_id(id), m_displayName(std::move(displayName)),
          m_error(Name() + ".error", calls)
    {
    }

    GUID m_id;
    std::u16string m_displayName;
    BG_JOB_STATE m_state = BG_JOB_STATE_SUSPENDED; // a new job waits for Resume, as in the service
    BG_JOB_PROGRESS m_progress = {BG_SIZE_UNKNOWN, 0, 0, 0};
    std::vector<std::pair<std::u16string, std::u16string>> m_files; // remote URL, local name
    ULONG m_minimumRetryDelay = 600;
    ULONG m_noProgressTimeout = 1209600;
    bool m_hasError = false; // GetError hands out the error object only when set

    // Steps taken one per GetState call; the last one stays.
    void Script(std::vector<Step> steps) { m_steps.assign(steps.begin(), steps.end()); }
    void ScriptStates(const std::vector<BG_JOB_STATE>& states)
    {
        m_steps.clear();
        for (BG_JOB_STATE state : states)
            m_steps.push_back({state, m_progress.BytesTotal, m_progress.BytesTransferred});
    }
    void SetProgress(UINT64 total, UINT64 transferred)
    {
        m_progress.BytesTotal = total;
        m_progress.BytesTransferred = transferred;
    }
    FakeBitsError& SetError(BG_ERROR_CONTEXT context, HRESULT code, std::u16string description)
    {
        m_hasError = true;
        m_error.m_context = context;
        m_error.m_code = code;
        m_error.m_description = std::move(description);
        return m_error;
    }
    FakeBitsError& Error() { return m_error; }
    // A job that a client can still find: not yet completed or cancelled.
    bool Alive() const { return m_state != BG_JOB_STATE_ACKNOWLEDGED && m_state != BG_JOB_STATE_CANCELLED; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBackgroundCopyJob))
            return E_NOINTERFACE;
        *ppv = static_cast<IBackgroundCopyJob*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return DoAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DoRelease(); }

    STDMETHODIMP AddFile(LPCWSTR RemoteUrl, LPCWSTR LocalName) override
    {
        HRESULT hr = Call("AddFile", FakeBitsUtf8(RemoteUrl) + ", " + FakeBitsUtf8(LocalName));
        if (SUCCEEDED(hr)) {
            m_files.emplace_back(RemoteUrl, LocalName);
            m_progress.FilesTotal = static_cast<ULONG>(m_files.size());
        }
        return hr;
    }
    STDMETHODIMP Suspend() override { return Transition("Suspend", BG_JOB_STATE_SUSPENDED); }
    STDMETHODIMP Resume() override { return Transition("Resume", BG_JOB_STATE_QUEUED); }
    STDMETHODIMP Cancel() override { return Transition("Cancel", BG_JOB_STATE_CANCELLED); }
    STDMETHODIMP Complete() override { return Transition("Complete", BG_JOB_STATE_ACKNOWLEDGED); }
    STDMETHODIMP GetId(GUID* pVal) override { return Out("GetId", m_id, pVal); }
    STDMETHODIMP GetType(BG_JOB_TYPE* pVal) override { return Out("GetType", BG_JOB_TYPE_DOWNLOAD, pVal); }
    STDMETHODIMP GetProgress(BG_JOB_PROGRESS* pVal) override { return Out("GetProgress", m_progress, pVal); }
    STDMETHODIMP GetTimes(BG_JOB_TIMES* pVal) override { return Out("GetTimes", BG_JOB_TIMES{}, pVal); }
    STDMETHODIMP GetState(BG_JOB_STATE* pVal) override
    {
        if (!m_steps.empty()) {
            m_state = m_steps.front().state;
            SetProgress(m_steps.front().bytesTotal, m_steps.front().bytesTransferred);
            if (m_steps.size() > 1)
                m_steps.pop_front();
        }
        return Out("GetState", m_state, pVal);
    }
    STDMETHODIMP GetError(IBackgroundCopyError** ppError) override
    {
        HRESULT hr = Call("GetError");
        if (FAILED(hr))
            return hr;
        if (!m_hasError)
            return BG_E_ERROR_INFORMATION_UNAVAILABLE;
        m_error.AddRef();
        *ppError = &m_error;
        return hr;
    }
    STDMETHODIMP GetDisplayName(LPWSTR* pVal) override
    {
        HRESULT hr = Call("GetDisplayName");
        if (FAILED(hr))
            return hr;
        auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((m_displayName.size() + 1) * sizeof(WCHAR)));
        m_displayName.copy(copy, m_displayName.size());
        copy[m_displayName.size()] = 0;
        *pVal = copy;
        return hr;
    }
    STDMETHODIMP SetMinimumRetryDelay(ULONG Seconds) override
    {
        return Set("SetMinimumRetryDelay", Seconds, m_minimumRetryDelay);
    }
    STDMETHODIMP GetMinimumRetryDelay(ULONG* Seconds) override
    {
        return Out("GetMinimumRetryDelay", m_minimumRetryDelay, Seconds);
    }
    STDMETHODIMP SetNoProgressTimeout(ULONG Seconds) override
    {
        return Set("SetNoProgressTimeout", Seconds, m_noProgressTimeout);
    }
    STDMETHODIMP GetNoProgressTimeout(ULONG* Seconds) override
    {
        return Out("GetNoProgressTimeout", m_noProgressTimeout, Seconds);
    }

private:
    HRESULT Transition(const char* method, BG_JOB_STATE state)
    {
        HRESULT hr = Call(method);
        if (SUCCEEDED(hr))
            m_state = state;
        return hr;
    }
    template <class T> HRESULT Out(const char* method, const T& value, T* out)
    {
        HRESULT hr = Call(method);
        if (SUCCEEDED(hr))
            *out = value;
        return hr;
    }
    HRESULT Set(const char* method, ULONG value, ULONG& member)
    {
        HRESULT hr = Call(method, std::to_string(value));
        if (SUCCEEDED(hr))
            member = value;
        return hr;
    }

    std::deque<Step> m_steps;
    FakeBitsError m_error;
};

class FakeBitsManager final : public IBackgroundCopyManager, public FakeBitsObject {
public:
    FakeBitsManager() : FakeBitsObject("manager", &m_callRecord) {}

    // Every call made on the manager, its jobs and their errors, in order.
    const std::vector<std::string>& Calls() const { return m_callRecord; }
    void ClearCalls() { m_callRecord.clear(); }

    // A reference for the code under test, which must release it.
    IBackgroundCopyManager* NewRef()
    {
        AddRef();
        return this;
    }

    // Results for the jobs that CreateJob makes from now on, as SetResults scripts them.
    void SetJobResults(const std::string& method, std::vector<HRESULT> results) { m_jobResults[method] = results; }

    // A job that the service already has, as left by an earlier run.
    FakeBitsJob& AddJob(const GUID& id, std::u16string displayName, BG_JOB_STATE state)
    {
        auto& job = *m_jobs.emplace_back(std::make_unique<FakeBitsJob>(
            "job" + std::to_string(m_jobs.size() + 1), &m_callRecord, id, std::move(displayName)));
        job.m_state = state;
        return job;
    }
    FakeBitsJob* FindJob(const GUID& id)
    {
        for (auto& job : m_jobs)
            if (IsEqualGUID(job->m_id, id))
                return job.get();
        return nullptr;
    }
    const std::vector<std::unique_ptr<FakeBitsJob>>& Jobs() const { return m_jobs; }
    FakeBitsJob& Job(size_t index) { return *m_jobs.at(index); }

    // True when no reference to the manager, a job or an error object is held or was over-released.
    bool AllReleased() const
    {
        if (!Released())
            return false;
        for (auto& job : m_jobs)
            if (!job->Released() || !const_cast<FakeBitsJob&>(*job).Error().Released())
                return false;
        return true;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBackgroundCopyManager))
            return E_NOINTERFACE;
        *ppv = static_cast<IBackgroundCopyManager*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return DoAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DoRelease(); }

    // New jobs get GUIDs with hexadecimal letters in every group, so their text form shows its case.
    STDMETHODIMP CreateJob(LPCWSTR DisplayName, BG_JOB_TYPE Type, GUID* pJobId, IBackgroundCopyJob** ppJob) override
    {
        HRESULT hr = Call("CreateJob", FakeBitsUtf8(DisplayName) + ", " + std::to_string(Type));
        if (FAILED(hr))
            return hr;
        DWORD n = static_cast<DWORD>(m_jobs.size() + 1);
        GUID id = {0xA1B2C3D0 + n, 0xE4F5, 0xABCD, {0xEF, 0x01, 0xFA, 0xCE, 0xB0, 0x0C, 0xDE, static_cast<BYTE>(n)}};
        FakeBitsJob& job = AddJob(id, DisplayName, BG_JOB_STATE_SUSPENDED);
        for (const auto& [method, results] : m_jobResults)
            job.SetResults(method, results);
        job.AddRef();
        *pJobId = id;
        *ppJob = &job;
        return hr;
    }
    STDMETHODIMP GetJob(REFGUID jobID, IBackgroundCopyJob** ppJob) override
    {
        HRESULT hr = Call("GetJob", GuidText(jobID));
        if (FAILED(hr))
            return hr;
        FakeBitsJob* job = FindJob(jobID);
        if (!job || !job->Alive()) {
            *ppJob = nullptr;
            return BG_E_NOT_FOUND;
        }
        job->AddRef();
        *ppJob = job;
        return hr;
    }

    static std::string GuidText(const GUID& id)
    {
        WCHAR text[39] = {};
        StringFromGUID2(id, text, 39);
        return FakeBitsUtf8(text);
    }

private:
    std::vector<std::string> m_callRecord;
    std::vector<std::unique_ptr<FakeBitsJob>> m_jobs;
    std::map<std::string, std::vector<HRESULT>> m_jobResults;
};

} // namespace sorvane_test
