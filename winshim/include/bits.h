// The Background Intelligent Transfer Service client interfaces (qmgr).
#pragma once

#include "objbase.h"

typedef GUID BG_JOB_ID;

#define BG_SIZE_UNKNOWN static_cast<UINT64>(-1)

#define BG_E_NOT_FOUND static_cast<HRESULT>(0x80200001L)
#define BG_E_INVALID_STATE static_cast<HRESULT>(0x80200002L)
#define BG_E_EMPTY static_cast<HRESULT>(0x80200003L)
#define BG_E_FILE_NOT_AVAILABLE static_cast<HRESULT>(0x80200004L)
#define BG_E_ERROR_INFORMATION_UNAVAILABLE static_cast<HRESULT>(0x8020000FL)
#define BG_E_NETWORK_DISCONNECTED static_cast<HRESULT>(0x80200010L)
#define BG_E_MISSING_FILE_SIZE static_cast<HRESULT>(0x80200011L)
#define BG_E_TOO_MANY_JOBS_PER_USER static_cast<HRESULT>(0x80200049L)
#define BG_S_PARTIAL_COMPLETE static_cast<HRESULT>(0x00200017L)
#define BG_E_HTTP_ERROR_BASE static_cast<HRESULT>(0x80190000L)

enum BG_JOB_STATE {
    BG_JOB_STATE_QUEUED = 0,
    BG_JOB_STATE_CONNECTING = 1,
    BG_JOB_STATE_TRANSFERRING = 2,
    BG_JOB_STATE_SUSPENDED = 3,
    BG_JOB_STATE_ERROR = 4,
    BG_JOB_STATE_TRANSIENT_ERROR = 5,
    BG_JOB_STATE_TRANSFERRED = 6,
    BG_JOB_STATE_ACKNOWLEDGED = 7,
    BG_JOB_STATE_CANCELLED = 8,
};

enum BG_JOB_TYPE {
    BG_JOB_TYPE_DOWNLOAD = 0,
    BG_JOB_TYPE_UPLOAD = 1,
    BG_JOB_TYPE_UPLOAD_REPLY = 2,
};

enum BG_ERROR_CONTEXT {
    BG_ERROR_CONTEXT_NONE = 0,
    BG_ERROR_CONTEXT_UNKNOWN = 1,
    BG_ERROR_CONTEXT_GENERAL_QUEUE_MANAGER = 2,
    BG_ERROR_CONTEXT_QUEUE_MANAGER_NOTIFICATION = 3,
    BG_ERROR_CONTEXT_LOCAL_FILE = 4,
    BG_ERROR_CONTEXT_REMOTE_FILE = 5,
    BG_ERROR_CONTEXT_GENERAL_TRANSPORT = 6,
    BG_ERROR_CONTEXT_REMOTE_APPLICATION = 7,
};

struct BG_JOB_PROGRESS {
    UINT64 BytesTotal;
    UINT64 BytesTransferred;
    ULONG FilesTotal;
    ULONG FilesTransferred;
};

struct BG_JOB_TIMES {
    FILETIME CreationTime;
    FILETIME ModificationTime;
    FILETIME TransferCompletionTime;
};

extern "C" const CLSID CLSID_BackgroundCopyManager;
extern "C" const IID IID_IBackgroundCopyManager;
extern "C" const IID IID_IBackgroundCopyJob;
extern "C" const IID IID_IBackgroundCopyError;

struct IBackgroundCopyError : public IUnknown {
    STDMETHOD(GetError)(BG_ERROR_CONTEXT* pContext, HRESULT* pCode) PURE;
    STDMETHOD(GetErrorContextDescription)(DWORD LanguageId, LPWSTR* pContextDescription) PURE;
    STDMETHOD(GetErrorDescription)(DWORD LanguageId, LPWSTR* pErrorDescription) PURE;

protected:
    ~IBackgroundCopyError() = default;
};

struct IBackgroundCopyJob : public IUnknown {
    STDMETHOD(AddFile)(LPCWSTR RemoteUrl, LPCWSTR LocalName) PURE;
    STDMETHOD(Suspend)() PURE;
    STDMETHOD(Resume)() PURE;
    STDMETHOD(Cancel)() PURE;
    STDMETHOD(Complete)() PURE;
    STDMETHOD(GetId)(GUID* pVal) PURE;
    STDMETHOD(GetType)(BG_JOB_TYPE* pVal) PURE;
    STDMETHOD(GetProgress)(BG_JOB_PROGRESS* pVal) PURE;
    STDMETHOD(GetTimes)(BG_JOB_TIMES* pVal) PURE;
    STDMETHOD(GetState)(BG_JOB_STATE* pVal) PURE;
    STDMETHOD(GetError)(IBackgroundCopyError** ppError) PURE;
    STDMETHOD(GetDisplayName)(LPWSTR* pVal) PURE;
    STDMETHOD(SetMinimumRetryDelay)(ULONG Seconds) PURE;
    STDMETHOD(GetMinimumRetryDelay)(ULONG* Seconds) PURE;
    STDMETHOD(SetNoProgressTimeout)(ULONG Seconds) PURE;
    STDMETHOD(GetNoProgressTimeout)(ULONG* Seconds) PURE;

protected:
    ~IBackgroundCopyJob() = default;
};

struct IBackgroundCopyManager : public IUnknown {
    STDMETHOD(CreateJob)(LPCWSTR DisplayName, BG_JOB_TYPE Type, GUID* pJobId, IBackgroundCopyJob** ppJob) PURE;
    STDMETHOD(GetJob)(REFGUID jobID, IBackgroundCopyJob** ppJob) PURE;

protected:
    ~IBackgroundCopyManager() = default;
};
