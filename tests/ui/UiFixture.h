// The main dialog in a test: the program's resources, a temporary home, a fake transfer service
// that CoCreateInstance hands out, message boxes answered and recorded, winshim's trace recorded.
#pragma once

#include "stdafx.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <winshim_ext.h>

#include <gtest/gtest.h>

#include "FakeBits.h"
#include "JobMonitor.h"
#include "SorvaneDlg.h"
#include "TempHome.h"
#include "WinshimUi.h"

namespace ui_test {

namespace fs = std::filesystem;
using namespace sorvane_test;

extern const char16_t* const kTitle;
extern const char16_t* const kAskContinueLater;
extern const char16_t* const kNoConnection;
extern const char16_t* const kDirFailed;
extern const char16_t* const kJobCreateFailed;
extern const char16_t* const kServiceError;
extern const char16_t* const kExtractFailed;
extern const char16_t* const kExtracting;
extern const char* const kArchiveName;
extern const char* const kSetupPath;

// Serves one object as the background copy manager to CoCreateInstance while it lives.
class ManagerRegistration : public IClassFactory {
public:
    explicit ManagerRegistration(IUnknown* server);
    ~ManagerRegistration();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    IUnknown* m_server;
    ULONG m_refs = 1;
    DWORD m_cookie = 0;
};

// Everything one test of the dialog needs; the program's resources and the application object
// are prepared once for the process.
class UiWorld {
public:
    explicit UiWorld(IUnknown* server = nullptr);
    ~UiWorld();

    TempHome home;
    FakeBitsManager manager;
    MessageBoxRecorder boxes;
    TraceRecorder trace;

    fs::path Downloads() const { return home.Downloads(); }
    fs::path ArchivePath() const { return Downloads() / kArchiveName; }
    fs::path SetupProgram() const { return Downloads() / kSetupPath; }
    // An executable shell script: body runs in the folder the program was started in.
    static void WriteScript(const fs::path& path, const std::string& body);
    // A setup program that leaves the file "setup-started" in the home folder when it runs.
    void WriteSetupProgram();
    bool SetupStarted() const { return fs::exists(home.Path() / "setup-started"); }
    bool WaitForSetupStart() const;

    // Runs the dialog modally as the application's main window; whileShown runs inside its loop.
    INT_PTR RunModal(CSorvaneDlg& dlg, std::function<void(CSorvaneDlg&)> whileShown = nullptr);

    // The calls made on the fake service, from the index mark on.
    std::vector<std::string> CallsFrom(size_t mark) const;

private:
    ManagerRegistration m_registration;
};

inline HWND Control(CSorvaneDlg& dlg, int id)
{
    return ::GetDlgItem(dlg.GetSafeHwnd(), id);
}

} // namespace ui_test
