// The main dialog: the start-up decision in its constructor, the time before its window exists,
// the window that does not show, Cancel with and without a job, Esc and the close button, the
// colours, the minimised icon and the order of its destruction.
#include "UiFixture.h"

#include <algorithm>
#include <csignal>
#include <fstream>

namespace ui_test {
namespace {

const UINT kErrorBox = MB_OK | MB_ICONERROR;
const UINT kQuestionBox = MB_YESNO | MB_ICONQUESTION;

std::string Downloads(const UiWorld& world)
{
    return world.Downloads().string();
}

// The start-up decision

TEST(SorvaneDlgStart, NewDownloadCreatesStartsAndRemembersTheJob)
{
    UiWorld world;
    CSorvaneDlg dlg;
    EXPECT_TRUE(dlg.m_bProceed);
    EXPECT_EQ(CString(u"Lorvas Kaldo 2018 Novembris"), dlg.m_strJobName);
    ASSERT_EQ(1u, world.manager.Jobs().size());
    EXPECT_EQ(static_cast<IBackgroundCopyJob*>(&world.manager.Job(0)), dlg.m_pJob);
    const std::vector<std::string> expected = {
        "manager.CreateJob(Lorvas Kaldo 2018 Novembris, 0)",
        "job1.AddFile(http://download.lorva.example/kaldo/LorvasKaldo2018NovembrisWebArchive.exe, " +
            Downloads(world) + "\\LorvasKaldo2018NovembrisWebArchive.exe)",
        "job1.Resume()",
        "job1.SetMinimumRetryDelay(3600)",
        "job1.GetState()", // the first look at the job, before the window exists
    };
    EXPECT_EQ(expected, world.manager.Calls());
    EXPECT_TRUE(world.boxes.boxes.empty());
}

TEST(SorvaneDlgStart, NextRunFollowsTheRememberedJobBeforeAnythingInTheFolder)
{
    UiWorld world;
    { CSorvaneDlg first; }
    world.manager.Job(0).m_state = BG_JOB_STATE_SUSPENDED;
    // An unpacked setup program and an archive are there too; the remembered job comes first.
    world.WriteSetupProgram();
    UiWorld::WriteScript(world.ArchivePath(), "exit 0");
    size_t mark = world.manager.Calls().size();

    CSorvaneDlg dlg;
    EXPECT_TRUE(dlg.m_bProceed);
    EXPECT_EQ(static_cast<IBackgroundCopyJob*>(&world.manager.Job(0)), dlg.m_pJob);
    const std::vector<std::string> expected = {
        "manager.GetJob(" + FakeBitsManager::GuidText(world.manager.Job(0).m_id) + ")",
        "job1.GetState()",
        "job1.Resume()", // a suspended job is resumed at once
    };
    EXPECT_EQ(expected, world.CallsFrom(mark));
    EXPECT_FALSE(world.SetupStarted());
}

TEST(SorvaneDlgStart, UnpackedSetupIsStartedWithoutAWindow)
{
    UiWorld world;
    world.WriteSetupProgram();
    CSorvaneDlg dlg;
    EXPECT_FALSE(dlg.m_bProceed);
    EXPECT_TRUE(world.WaitForSetupStart());
    EXPECT_TRUE(world.manager.Calls().empty());
    EXPECT_TRUE(world.boxes.boxes.empty());
    EXPECT_EQ(0, world.RunModal(dlg));
}

TEST(SorvaneDlgStart, FailedUnpackingIsReportedAndTheArchiveStays)
{
    UiWorld world;
    UiWorld::WriteScript(world.ArchivePath(), "exit 0"); // unpacks nothing
    CSorvaneDlg dlg;
    EXPECT_FALSE(dlg.m_bProceed);
    ASSERT_EQ(1u, world.boxes.boxes.size());
    EXPECT_EQ(std::u16string(kExtractFailed), world.boxes.boxes[0].text);
    EXPECT_EQ(kErrorBox, world.boxes.boxes[0].type);
    EXPECT_EQ(std::u16string(kTitle), world.boxes.boxes[0].caption);
    EXPECT_TRUE(fs::exists(world.ArchivePath()));
}

TEST(SorvaneDlgStart, NewDownloadFailures)
{
    struct Case {
        const char* message;
        std::function<void(UiWorld&)> prepare;
        const char16_t* box;
    };
    const Case cases[] = {
        {"the download folder cannot be made",
         [](UiWorld& w) {
             // Files stand where the Downloads folder and the documents folder belong.
             fs::remove_all(w.Downloads());
             std::ofstream(w.Downloads()) << "a file";
             std::ofstream(w.home.Documents()) << "a file";
         },
         kDirFailed},
        {"the service creates no job", [](UiWorld& w) { w.manager.SetResult("CreateJob", E_FAIL); }, kJobCreateFailed},
    };
    for (const Case& c : cases) {
        UiWorld world;
        c.prepare(world);
        CSorvaneDlg dlg;
        EXPECT_FALSE(dlg.m_bProceed) << c.message;
        EXPECT_EQ(nullptr, dlg.m_pJob) << c.message;
        ASSERT_EQ(1u, world.boxes.boxes.size()) << c.message;
        EXPECT_EQ(std::u16string(c.box), world.boxes.boxes[0].text) << c.message;
        EXPECT_EQ(kErrorBox, world.boxes.boxes[0].type) << c.message;
        EXPECT_EQ(std::u16string(kTitle), world.boxes.boxes[0].caption) << c.message;
        EXPECT_EQ(nullptr, world.boxes.boxes[0].owner) << c.message << ": no window exists yet";
        EXPECT_TRUE(world.manager.Jobs().empty()) << c.message;
    }
}

// The window that is never shown

TEST(SorvaneDlgWindow, NoProceedEndsAtOnceWithZero)
{
    UiWorld world;
    world.manager.SetResult("CreateJob", E_FAIL);
    CSorvaneDlg dlg;
    ASSERT_FALSE(dlg.m_bProceed);
    DWORD gdiObjects = GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS);
    world.trace.Clear();
    EXPECT_EQ(0, world.RunModal(dlg));
    EXPECT_FALSE(world.trace.Contains(R"(ShowWindow\([^,]*, [1-9])")) << "never shown";
    EXPECT_FALSE(world.trace.Contains(R"(SendMessageW\([^,]*, 0x0080,)")) << "no icon set";
    EXPECT_FALSE(world.trace.Contains(R"(SendMessageW\([^,]*, 0x0401,)")) << "no progress range set";
    EXPECT_EQ(nullptr, dlg.m_brWhite.GetSafeHandle()) << "no brush created";
    EXPECT_EQ(nullptr, dlg.m_pPollThread) << "no poll thread";
    EXPECT_EQ(nullptr, g_pDownloadDlg.load());
    EXPECT_EQ(gdiObjects, GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS));
}

// Before the window exists

TEST(SorvaneDlgWindow, StatusWrittenBeforeTheWindowIsItsFirstText)
{
    UiWorld world;
    { CSorvaneDlg first; }
    FakeBitsJob& job = world.manager.Job(0);
    job.m_state = BG_JOB_STATE_TRANSFERRING;
    job.SetProgress(2400016, 1340);

    CSorvaneDlg dlg;
    EXPECT_TRUE(dlg.m_bProceed);
    EXPECT_EQ(CString(u"Lejupielādēti: 1.30 KB no 2.28 MB"), dlg.m_strStatus);

    // The poll thread is held back, so that the window is seen before its first poll.
    g_bHandlingJob = true;
    std::u16string status;
    LRESULT position = -1;
    world.RunModal(dlg, [&](CSorvaneDlg& d) {
        status = WindowText(Control(d, IDC_STATUS));
        position = SendMessageW(Control(d, IDC_PROGRESS), PBM_GETPOS, 0, 0);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(std::u16string(u"Lejupielādēti: 1.30 KB no 2.28 MB"), status);
    EXPECT_EQ(0, position) << "the bar waits for the first poll";
}

TEST(SorvaneDlgWindow, JobThatEndsAtTheFirstLookShowsNoWindow)
{
    struct Case {
        const char* message;
        BG_JOB_STATE state;
        std::function<void(UiWorld&, FakeBitsJob&)> prepare;
        const char16_t* box; // nullptr: none
        const char* lastCall;
    };
    const Case cases[] = {
        {"a job in error", BG_JOB_STATE_ERROR,
         [](UiWorld&, FakeBitsJob& job) { job.SetError(BG_ERROR_CONTEXT_REMOTE_FILE, 0x80190194, u"Not found."); },
         u"Not found.", "job1.Cancel()"},
        {"a job transferred meanwhile", BG_JOB_STATE_TRANSFERRED,
         [](UiWorld& w, FakeBitsJob&) { w.WriteSetupProgram(); }, nullptr, "job1.Complete()"},
        {"a transient error answered with Cancel", BG_JOB_STATE_TRANSIENT_ERROR,
         [](UiWorld& w, FakeBitsJob& job) {
             job.SetError(BG_ERROR_CONTEXT_GENERAL_TRANSPORT, 0x80072EFD, u"No connection.");
             w.boxes.answers = {IDCANCEL};
         },
         kNoConnection, "job1.Cancel()"},
    };
    for (const Case& c : cases) {
        UiWorld world;
        { CSorvaneDlg first; }
        FakeBitsJob& job = world.manager.Job(0);
        job.m_state = c.state;
        c.prepare(world, job);
        world.trace.Clear();
        CSorvaneDlg dlg;
        EXPECT_FALSE(dlg.m_bProceed) << c.message;
        EXPECT_EQ(0, world.RunModal(dlg)) << c.message;
        EXPECT_FALSE(world.trace.Contains(R"(ShowWindow\([^,]*, [1-9])")) << c.message;
        EXPECT_EQ(std::string(c.lastCall), world.manager.Calls().back()) << c.message;
        if (c.box) {
            ASSERT_EQ(1u, world.boxes.boxes.size()) << c.message;
            EXPECT_EQ(std::u16string(c.box), world.boxes.boxes[0].text) << c.message;
        } else {
            EXPECT_TRUE(world.boxes.boxes.empty()) << c.message;
            EXPECT_TRUE(world.WaitForSetupStart()) << c.message;
        }
    }
}

// Cancel, Esc and the close button

TEST(SorvaneDlgWindow, CancelAsksOnlyWhileThereIsAJob)
{
    struct Case {
        const char* message;
        bool job;
        int answer;
        const char* call; // the last call on the service, or "" for none
    };
    const Case cases[] = {
        {"no job: no question", false, 0, ""},
        {"Yes: continue later", true, IDYES, "job1.Suspend()"},
        {"No: the download is given up", true, IDNO, "job1.Cancel()"},
    };
    for (const Case& c : cases) {
        UiWorld world;
        CSorvaneDlg dlg;
        if (!c.job) {
            dlg.m_pJob->Release();
            dlg.m_pJob = nullptr;
        }
        if (c.answer)
            world.boxes.answers = {c.answer};
        size_t mark = world.manager.Calls().size();
        HWND window = nullptr;
        INT_PTR result = world.RunModal(dlg, [&](CSorvaneDlg& d) {
            window = d.GetSafeHwnd();
            SendMessageW(Control(d, IDCANCEL), BM_CLICK, 0, 0);
        });
        EXPECT_EQ(IDCANCEL, result) << c.message;
        std::vector<std::string> calls = world.CallsFrom(mark);
        std::erase(calls, "job1.GetState()"); // the window's first poll
        if (!c.job) {
            EXPECT_TRUE(world.boxes.boxes.empty()) << c.message;
            EXPECT_TRUE(calls.empty()) << c.message;
            continue;
        }
        ASSERT_EQ(1u, world.boxes.boxes.size()) << c.message;
        const ShownMessageBox& box = world.boxes.boxes[0];
        EXPECT_EQ(std::u16string(kAskContinueLater), box.text) << c.message;
        EXPECT_EQ(kQuestionBox, box.type) << c.message;
        EXPECT_EQ(std::u16string(kTitle), box.caption) << c.message;
        EXPECT_EQ(window, box.owner) << c.message << ": the main window owns the question";
        EXPECT_EQ(std::vector<std::string>{c.call}, calls) << c.message;
        EXPECT_FALSE(world.manager.Job(0).Released()) << c.message << ": the destructor releases the job";
    }
}

TEST(SorvaneDlgWindow, EscAndTheCloseButtonAskTheSameQuestion)
{
    struct Case {
        const char* message;
        std::function<void(CSorvaneDlg&)> press;
    };
    const Case cases[] = {
        {"Esc", [](CSorvaneDlg&) { PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }},
        {"the close button", [](CSorvaneDlg& d) { PostMessageW(d.GetSafeHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"SIGINT, the close button of the headless window", [](CSorvaneDlg&) { std::raise(SIGINT); }},
    };
    for (const Case& c : cases) {
        UiWorld world;
        world.boxes.answers = {IDNO};
        CSorvaneDlg dlg;
        EXPECT_EQ(IDCANCEL, world.RunModal(dlg, c.press)) << c.message;
        ASSERT_EQ(1u, world.boxes.boxes.size()) << c.message;
        EXPECT_EQ(std::u16string(kAskContinueLater), world.boxes.boxes[0].text) << c.message;
        EXPECT_EQ(kQuestionBox, world.boxes.boxes[0].type) << c.message;
        EXPECT_EQ("job1.Cancel()", world.manager.Calls().back()) << c.message;
    }
}

// Colours, painting and the icon

TEST(SorvaneDlgWindow, WhiteOnlyForTheStaticControls)
{
    UiWorld world;
    CSorvaneDlg dlg;
    struct Seen {
        int id;
        UINT message;
        HBRUSH brush;
        int bkMode;
        COLORREF bkColor;
    };
    std::vector<Seen> seen;
    DWORD gdiBefore = 0, gdiAfter = 0;
    world.RunModal(dlg, [&](CSorvaneDlg& d) {
        HWND hwnd = d.GetSafeHwnd();
        std::vector<HWND> windows = {hwnd};
        for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            windows.push_back(child);
        gdiBefore = GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS);
        for (HWND w : windows) {
            for (UINT message : {WM_CTLCOLORSTATIC, WM_CTLCOLORBTN, WM_CTLCOLORDLG}) {
                HDC dc = CreateCompatibleDC(nullptr);
                SetBkMode(dc, TRANSPARENT);
                SetBkColor(dc, RGB(1, 2, 3));
                auto brush = reinterpret_cast<HBRUSH>(
                    SendMessageW(hwnd, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w)));
                seen.push_back({w == hwnd ? 0 : GetDlgCtrlID(w), message, brush, GetBkMode(dc), GetBkColor(dc)});
                DeleteDC(dc);
            }
        }
        gdiAfter = GetGuiResources(reinterpret_cast<HANDLE>(-1), GR_GDIOBJECTS);
        d.EndDialog(IDOK);
    });
    ASSERT_EQ(18u, seen.size());
    for (const Seen& s : seen) {
        std::string what = "control " + std::to_string(s.id) + ", message " + std::to_string(s.message);
        if (s.id == IDC_STATIC) {
            EXPECT_EQ(static_cast<HBRUSH>(dlg.m_brWhite), s.brush) << what << ": whatever the kind of request";
            EXPECT_EQ(OPAQUE, s.bkMode) << what;
            EXPECT_EQ(RGB(255, 255, 255), s.bkColor) << what;
        } else {
            EXPECT_EQ(GetSysColorBrush(COLOR_3DFACE), s.brush) << what << ": the system's";
            EXPECT_EQ(TRANSPARENT, s.bkMode) << what << ": left as it was";
            EXPECT_EQ(GetSysColor(COLOR_3DFACE), s.bkColor) << what;
        }
    }
    EXPECT_EQ(gdiBefore, gdiAfter) << "no GDI object made for a colour request";
}

TEST(SorvaneDlgWindow, MinimisedIconIsCentredWithDivisionTowardZero)
{
    UiWorld world;
    CSorvaneDlg dlg;
    ASSERT_NE(nullptr, dlg.m_hIcon);
    std::vector<std::string> painted[3];
    LRESULT dragIcon = 0;
    world.RunModal(dlg, [&](CSorvaneDlg& d) {
        HWND hwnd = d.GetSafeHwnd();
        dragIcon = SendMessageW(hwnd, WM_QUERYDRAGICON, 0, 0);
        const SIZE clients[3] = {{317, 80}, {100, 60}, {0, 0}};
        for (int i = 0; i < 3; ++i) {
            if (i == 1)
                ShowWindow(hwnd, SW_MINIMIZE);
            RECT r;
            GetWindowRect(hwnd, &r);
            MoveWindow(hwnd, r.left, r.top, clients[i].cx, clients[i].cy, FALSE);
            world.trace.Clear();
            SendMessageW(hwnd, WM_PAINT, 0, 0);
            for (const std::string& line : world.trace.Lines())
                if (line.find("DrawIcon") == 0 || line.find(", 0x0027,") != std::string::npos)
                    painted[i].push_back(line.substr(0, line.find('(')) +
                                         (line.find("DrawIcon") == 0 ? line.substr(line.find(',')) : std::string()));
        }
        ShowWindow(hwnd, SW_RESTORE);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), dragIcon);
    EXPECT_TRUE(painted[0].empty()) << "not minimised: the dialog paints as dialogs do";
    char icon[32];
    std::snprintf(icon, sizeof icon, "%p)", static_cast<void*>(dlg.m_hIcon));
    EXPECT_EQ((std::vector<std::string>{"SendMessageW", std::string("DrawIcon, 34, 14, ") + icon}), painted[1]);
    EXPECT_EQ((std::vector<std::string>{"SendMessageW", std::string("DrawIcon, -15, -15, ") + icon}), painted[2]);
}

// The end

// Stands for the service's manager and its jobs, and notes each final release: which object,
// whether COM was still initialised on the thread, and whether the poll thread had ended.
class ReleaseLog {
public:
    std::vector<std::string> lines;

    void Released(const char* what)
    {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CoUninitialize();
        lines.push_back(std::string(what) + (hr == S_FALSE ? " with COM" : " without COM") +
                        (g_pDownloadDlg.load() ? ", polls running" : ""));
    }
};

class LoggedJob : public IBackgroundCopyJob {
public:
    LoggedJob(IBackgroundCopyJob* job, ReleaseLog* log) : m_job(job), m_log(log) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_job->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        if (--m_refs == 0) {
            m_log->Released("job");
            m_job->Release();
        }
        return m_refs;
    }
    STDMETHODIMP AddFile(LPCWSTR a, LPCWSTR b) override { return m_job->AddFile(a, b); }
    STDMETHODIMP Suspend() override { return m_job->Suspend(); }
    STDMETHODIMP Resume() override { return m_job->Resume(); }
    STDMETHODIMP Cancel() override { return m_job->Cancel(); }
    STDMETHODIMP Complete() override { return m_job->Complete(); }
    STDMETHODIMP GetId(GUID* p) override { return m_job->GetId(p); }
    STDMETHODIMP GetType(BG_JOB_TYPE* p) override { return m_job->GetType(p); }
    STDMETHODIMP GetProgress(BG_JOB_PROGRESS* p) override { return m_job->GetProgress(p); }
    STDMETHODIMP GetTimes(BG_JOB_TIMES* p) override { return m_job->GetTimes(p); }
    STDMETHODIMP GetState(BG_JOB_STATE* p) override { return m_job->GetState(p); }
    STDMETHODIMP GetError(IBackgroundCopyError** p) override { return m_job->GetError(p); }
    STDMETHODIMP GetDisplayName(LPWSTR* p) override { return m_job->GetDisplayName(p); }
    STDMETHODIMP SetMinimumRetryDelay(ULONG s) override { return m_job->SetMinimumRetryDelay(s); }
    STDMETHODIMP GetMinimumRetryDelay(ULONG* s) override { return m_job->GetMinimumRetryDelay(s); }
    STDMETHODIMP SetNoProgressTimeout(ULONG s) override { return m_job->SetNoProgressTimeout(s); }
    STDMETHODIMP GetNoProgressTimeout(ULONG* s) override { return m_job->GetNoProgressTimeout(s); }

private:
    IBackgroundCopyJob* m_job;
    ReleaseLog* m_log;
    ULONG m_refs = 1;
};

class LoggedManager : public IBackgroundCopyManager {
public:
    LoggedManager(IBackgroundCopyManager* manager, ReleaseLog* log) : m_manager(manager), m_log(log) {}
    std::vector<std::unique_ptr<LoggedJob>> jobs;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBackgroundCopyManager))
            return E_NOINTERFACE;
        *ppv = static_cast<IBackgroundCopyManager*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        if (--m_refs == 0)
            m_log->Released("manager");
        return m_refs;
    }
    STDMETHODIMP CreateJob(LPCWSTR name, BG_JOB_TYPE type, GUID* id, IBackgroundCopyJob** job) override
    {
        HRESULT hr = m_manager->CreateJob(name, type, id, job);
        if (SUCCEEDED(hr))
            *job = jobs.emplace_back(std::make_unique<LoggedJob>(*job, m_log)).get();
        return hr;
    }
    STDMETHODIMP GetJob(REFGUID id, IBackgroundCopyJob** job) override
    {
        HRESULT hr = m_manager->GetJob(id, job);
        if (SUCCEEDED(hr))
            *job = jobs.emplace_back(std::make_unique<LoggedJob>(*job, m_log)).get();
        return hr;
    }

private:
    IBackgroundCopyManager* m_manager;
    ReleaseLog* m_log;
    ULONG m_refs = 0;
};

TEST(SorvaneDlgWindow, DestructionEndsPollingThenReleasesJobThenManagerThenCom)
{
    ReleaseLog log;
    FakeBitsManager service;
    LoggedManager manager(&service, &log);
    {
        UiWorld world(&manager);
        world.boxes.answers = {IDYES};
        g_dwJobPollInterval = 1;
        {
            CSorvaneDlg dlg;
            g_bHandlingJob = true;
            world.RunModal(dlg, [&](CSorvaneDlg& d) {
                g_bHandlingJob = false;
                PumpUntil([&] { return std::count(service.Calls().begin(), service.Calls().end(), "job1.GetState()") > 2; });
                SendMessageW(Control(d, IDCANCEL), BM_CLICK, 0, 0);
            });
            EXPECT_NE(nullptr, dlg.m_pPollThread);
            EXPECT_TRUE(log.lines.empty()) << "nothing is released before the destructor";
        }
    }
    const std::vector<std::string> expected = {"job with COM", "manager with COM"};
    EXPECT_EQ(expected, log.lines) << "the poll thread has ended before anything goes";
    EXPECT_EQ("job1.Suspend()", service.Calls().back());
    EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) << "the dialog left COM as it found it";
    CoUninitialize();
}

} // namespace
} // namespace ui_test
