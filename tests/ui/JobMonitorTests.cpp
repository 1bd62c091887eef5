// The job monitor: HandleJobState over the job's states, UpdateProgress on the window, and the
// polls that go on while a message box is open.
#include "UiFixture.h"

#include <algorithm>

namespace ui_test {
namespace {

const char16_t* const kNoFiles = u"There are no files to transfer.";
const char16_t* const kInvalidState =
    u"The state of the job cannot be BG_JOB_STATE_CANCELLED or BG_JOB_STATE_ACKNOWLEDGED.";

struct Row {
    const char* message;
    BG_JOB_STATE state;
    std::function<void(UiWorld&, FakeBitsJob&)> prepare;
    std::vector<std::string> calls;
    const char16_t* box; // nullptr: no message box
    UINT boxType;
    bool ended;
    bool handlingAfter;
};

void Nothing(UiWorld&, FakeBitsJob&) {}

auto ErrorWith(BG_ERROR_CONTEXT context, const char16_t* description, int answer = 0)
{
    return [=](UiWorld& w, FakeBitsJob& job) {
        job.SetError(context, 0x80200010, description);
        if (answer)
            w.boxes.answers = {answer};
    };
}

const std::string kGetState = "job1.GetState()";
const std::string kGetError = "job1.GetError()";
const std::string kErrorCode = "job1.error.GetError()";
const std::string kDescription = "job1.error.GetErrorDescription(1033)";

TEST(JobMonitor, HandleJobStateOverTheStates)
{
    const Row rows[] = {
        {"transferring: progress", BG_JOB_STATE_TRANSFERRING, Nothing, {kGetState, "job1.GetProgress()"}, nullptr, 0,
         false, false},
        {"queued: nothing", BG_JOB_STATE_QUEUED, Nothing, {kGetState}, nullptr, 0, false, false},
        {"connecting: nothing", BG_JOB_STATE_CONNECTING, Nothing, {kGetState}, nullptr, 0, false, false},
        {"acknowledged: nothing", BG_JOB_STATE_ACKNOWLEDGED, Nothing, {kGetState}, nullptr, 0, false, false},
        {"cancelled: nothing", BG_JOB_STATE_CANCELLED, Nothing, {kGetState}, nullptr, 0, false, false},
        {"the state cannot be read", BG_JOB_STATE_TRANSFERRED,
         [](UiWorld&, FakeBitsJob& job) { job.SetResult("GetState", E_FAIL); }, {kGetState}, nullptr, 0, false, false},

        {"suspended: resumed", BG_JOB_STATE_SUSPENDED, Nothing, {kGetState, "job1.Resume()"}, nullptr, 0, false, false},
        {"suspended, no files", BG_JOB_STATE_SUSPENDED,
         [](UiWorld&, FakeBitsJob& job) { job.SetResult("Resume", BG_E_EMPTY); }, {kGetState, "job1.Resume()"},
         kNoFiles, 0x10, false, false},
        {"suspended, a finished job", BG_JOB_STATE_SUSPENDED,
         [](UiWorld&, FakeBitsJob& job) { job.SetResult("Resume", BG_E_INVALID_STATE); },
         {kGetState, "job1.Resume()"}, kInvalidState, 0x10, false, false},
        {"suspended, another failure: the service's description", BG_JOB_STATE_SUSPENDED,
         [](UiWorld& w, FakeBitsJob& job) {
             job.SetResult("Resume", E_ACCESSDENIED);
             job.SetError(BG_ERROR_CONTEXT_LOCAL_FILE, E_ACCESSDENIED, u"Access is denied.");
         },
         {kGetState, "job1.Resume()", kGetError, kDescription}, u"Access is denied.", 0x10, false, false},
        {"suspended, another failure and no error object: no message", BG_JOB_STATE_SUSPENDED,
         [](UiWorld&, FakeBitsJob& job) { job.SetResult("Resume", E_ACCESSDENIED); },
         {kGetState, "job1.Resume()", kGetError}, nullptr, 0, false, false},
        {"suspended, another failure and no description: the service error", BG_JOB_STATE_SUSPENDED,
         [](UiWorld&, FakeBitsJob& job) {
             job.SetResult("Resume", E_ACCESSDENIED);
             job.SetError(BG_ERROR_CONTEXT_LOCAL_FILE, E_ACCESSDENIED, u"").SetResult("GetErrorDescription", E_FAIL);
         },
         {kGetState, "job1.Resume()", kGetError, kDescription}, kServiceError, 0x10, false, false},

        {"error: its description, then cancelled", BG_JOB_STATE_ERROR,
         ErrorWith(BG_ERROR_CONTEXT_REMOTE_FILE, u"The requested URL does not exist on the server."),
         {kGetState, kGetError, kDescription, "job1.Cancel()"}, u"The requested URL does not exist on the server.",
         0x10, true, true},
        {"error without an error object: the service error", BG_JOB_STATE_ERROR, Nothing,
         {kGetState, kGetError, "job1.Cancel()"}, kServiceError, 0x10, true, true},
        {"error without a description: the service error", BG_JOB_STATE_ERROR,
         [](UiWorld&, FakeBitsJob& job) {
             job.SetError(BG_ERROR_CONTEXT_REMOTE_FILE, E_FAIL, u"").SetResult("GetErrorDescription", E_FAIL);
         },
         {kGetState, kGetError, kDescription, "job1.Cancel()"}, kServiceError, 0x10, true, true},

        {"transient, no connection, Retry", BG_JOB_STATE_TRANSIENT_ERROR,
         ErrorWith(BG_ERROR_CONTEXT_GENERAL_TRANSPORT, u"-", IDRETRY), {kGetState, kGetError, kErrorCode, "job1.Resume()"},
         kNoConnection, 0x35, false, false},
        {"transient, no connection, Cancel", BG_JOB_STATE_TRANSIENT_ERROR,
         ErrorWith(BG_ERROR_CONTEXT_GENERAL_TRANSPORT, u"-", IDCANCEL),
         {kGetState, kGetError, kErrorCode, "job1.Cancel()"}, kNoConnection, 0x35, true, true},
        {"transient, another context: its description, Cancel", BG_JOB_STATE_TRANSIENT_ERROR,
         ErrorWith(BG_ERROR_CONTEXT_REMOTE_FILE, u"The server returned 503.", IDCANCEL),
         {kGetState, kGetError, kErrorCode, kDescription, "job1.Cancel()"}, u"The server returned 503.", 0x15, true,
         true},
        {"transient, another context: its description, Retry", BG_JOB_STATE_TRANSIENT_ERROR,
         ErrorWith(BG_ERROR_CONTEXT_REMOTE_FILE, u"The server returned 503.", IDRETRY),
         {kGetState, kGetError, kErrorCode, kDescription, "job1.Resume()"}, u"The server returned 503.", 0x15, false,
         false},
        {"transient, another context, no description: no message, resumed", BG_JOB_STATE_TRANSIENT_ERROR,
         [](UiWorld&, FakeBitsJob& job) {
             job.SetError(BG_ERROR_CONTEXT_REMOTE_FILE, E_FAIL, u"").SetResult("GetErrorDescription", E_FAIL);
         },
         {kGetState, kGetError, kErrorCode, kDescription, "job1.Resume()"}, nullptr, 0, false, false},
        {"transient without an error object: the service error, resumed", BG_JOB_STATE_TRANSIENT_ERROR, Nothing,
         {kGetState, kGetError, "job1.Resume()"}, kServiceError, 0x10, false, false},
        {"transient whose context cannot be read: the service error, resumed", BG_JOB_STATE_TRANSIENT_ERROR,
         [](UiWorld&, FakeBitsJob& job) {
             job.SetError(BG_ERROR_CONTEXT_REMOTE_FILE, E_FAIL, u"x").SetResult("GetError", E_FAIL);
         },
         {kGetState, kGetError, kErrorCode, "job1.Resume()"}, kServiceError, 0x10, false, false},

        {"transferred, but not completed: tried again later", BG_JOB_STATE_TRANSFERRED,
         [](UiWorld&, FakeBitsJob& job) { job.SetResult("Complete", BG_E_INVALID_STATE); },
         {kGetState, "job1.Complete()"}, nullptr, 0, false, false},
        {"transferred, the setup already unpacked: started", BG_JOB_STATE_TRANSFERRED,
         [](UiWorld& w, FakeBitsJob&) { w.WriteSetupProgram(); }, {kGetState, "job1.Complete()"}, nullptr, 0, true,
         true},
        {"transferred and unpacked: the setup started", BG_JOB_STATE_TRANSFERRED,
         [](UiWorld& w, FakeBitsJob&) {
             UiWorld::WriteScript(w.ArchivePath(), "mkdir -p 'Lorvas Kaldo 2018 Novembris Web' && cat > "
                                                   "'Lorvas Kaldo 2018 Novembris Web/Setup.exe' <<'EOF'\n#!/bin/sh\n"
                                                   "echo started > '" +
                                                       (w.home.Path() / "setup-started").string() +
                                                       "'\nEOF\nchmod +x 'Lorvas Kaldo 2018 Novembris Web/Setup.exe'");
         },
         {kGetState, "job1.Complete()"}, nullptr, 0, true, true},
        {"transferred, unpacking fails", BG_JOB_STATE_TRANSFERRED, Nothing, {kGetState, "job1.Complete()"},
         kExtractFailed, 0x10, true, true},
    };
    for (const Row& row : rows) {
        UiWorld world;
        CSorvaneDlg dlg; // road 4: job1 is created and queued
        ASSERT_TRUE(dlg.m_bProceed) << row.message;
        FakeBitsJob& job = world.manager.Job(0);
        job.m_state = row.state;
        row.prepare(world, job);
        world.manager.ClearCalls();
        world.boxes.boxes.clear();
        g_bHandlingJob = !row.handlingAfter; // so that a flag left alone shows

        HandleJobState(&dlg);

        EXPECT_EQ(row.calls, world.manager.Calls()) << row.message;
        if (row.box) {
            ASSERT_EQ(1u, world.boxes.boxes.size()) << row.message;
            EXPECT_EQ(std::u16string(row.box), world.boxes.boxes[0].text) << row.message;
            EXPECT_EQ(row.boxType, world.boxes.boxes[0].type) << row.message;
            EXPECT_EQ(std::u16string(kTitle), world.boxes.boxes[0].caption) << row.message;
        } else {
            EXPECT_TRUE(world.boxes.boxes.empty()) << row.message;
        }
        EXPECT_EQ(row.ended, !dlg.m_bProceed) << row.message << ": before the window, ending means no window";
        EXPECT_EQ(row.handlingAfter, g_bHandlingJob.load()) << row.message;
        if (row.state == BG_JOB_STATE_TRANSFERRED && row.ended) {
            EXPECT_EQ(CString(kExtracting), dlg.m_strStatus) << row.message;
            if (row.box)
                EXPECT_FALSE(world.SetupStarted()) << row.message;
            else
                EXPECT_TRUE(world.WaitForSetupStart()) << row.message;
        }
    }
}

TEST(JobMonitor, NoJobLeavesTheFlagSet)
{
    UiWorld world;
    world.manager.SetResult("CreateJob", E_FAIL);
    CSorvaneDlg dlg;
    ASSERT_EQ(nullptr, dlg.m_pJob);
    g_bHandlingJob = false;
    HandleJobState(&dlg);
    EXPECT_TRUE(g_bHandlingJob.load());
    g_bHandlingJob = false;
    UpdateProgress(&dlg);
    EXPECT_FALSE(g_bHandlingJob.load());
}

TEST(JobMonitor, UpdateProgressInThousandths)
{
    struct Step {
        const char* message;
        UINT64 total;
        UINT64 transferred;
        HRESULT result;
        LRESULT position;
        const char16_t* status;
    };
    const Step steps[] = {
        {"1 byte of 3", 3, 1, S_OK, 333, u"Lejupielādēti: 1 bytes no 3 bytes"},
        {"all of it", 2400016, 2400016, S_OK, 1000, u"Lejupielādēti: 2.28 MB no 2.28 MB"},
        {"a total of 0 keeps the bar", 0, 0, S_OK, 1000, u"Lejupielādēti: 0 bytes no 0 bytes"},
        {"no sizes: nothing changes", 3, 2, E_FAIL, 1000, u"Lejupielādēti: 0 bytes no 0 bytes"},
        {"the total not known yet: nothing changes", BG_SIZE_UNKNOWN, 1340, S_OK, 1000,
         u"Lejupielādēti: 0 bytes no 0 bytes"},
        {"half", 47012, 23506, S_OK, 500, u"Lejupielādēti: 22.9 KB no 45.9 KB"},
    };
    UiWorld world;
    CSorvaneDlg dlg; // the job stays queued: the window's own poll changes nothing
    struct Seen {
        LRESULT position = -1;
        std::u16string status = u"<unset>";
    };
    std::vector<Seen> seen(std::size(steps));
    world.RunModal(dlg, [&](CSorvaneDlg& d) {
        FakeBitsJob& job = world.manager.Job(0);
        for (size_t i = 0; i < std::size(steps); ++i) {
            job.SetProgress(steps[i].total, steps[i].transferred);
            job.SetResult("GetProgress", steps[i].result);
            UpdateProgress(&d);
            seen[i] = {SendMessageW(Control(d, IDC_PROGRESS), PBM_GETPOS, 0, 0), WindowText(Control(d, IDC_STATUS))};
        }
        d.EndDialog(IDOK);
    });
    for (size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(steps[i].position, seen[i].position) << steps[i].message;
        EXPECT_EQ(std::u16string(steps[i].status), seen[i].status) << steps[i].message;
    }
}

TEST(JobMonitor, PollsAreHandledWhileTheQuestionIsOpen)
{
    UiWorld world;
    CSorvaneDlg dlg;
    FakeBitsJob& job = world.manager.Job(0);
    job.m_state = BG_JOB_STATE_TRANSFERRING;
    job.SetProgress(3000, 1000);
    g_dwJobPollInterval = 2;
    size_t atQuestion = 0;
    bool handlingWhileOpen = true;
    world.boxes.answerer = [&](const ShownMessageBox&) {
        const std::vector<std::string>& calls = world.manager.Calls();
        if (!atQuestion)
            atQuestion = calls.size();
        handlingWhileOpen = g_bHandlingJob;
        size_t polls = std::count(calls.begin() + static_cast<std::ptrdiff_t>(atQuestion), calls.end(), kGetState);
        return polls >= 3 ? IDYES : 0;
    };
    g_bHandlingJob = true;
    world.RunModal(dlg, [&](CSorvaneDlg& d) {
        g_bHandlingJob = false;
        SendMessageW(Control(d, IDCANCEL), BM_CLICK, 0, 0);
    });
    std::vector<std::string> afterQuestion = world.CallsFrom(atQuestion);
    ASSERT_FALSE(afterQuestion.empty());
    EXPECT_GE(std::count(afterQuestion.begin(), afterQuestion.end(), kGetState), 3);
    EXPECT_GE(std::count(afterQuestion.begin(), afterQuestion.end(), "job1.GetProgress()"), 3);
    EXPECT_FALSE(handlingWhileOpen) << "the question holds no poll back";
    EXPECT_EQ("job1.Suspend()", afterQuestion.back()) << "and no poll is handled after the answer";
    EXPECT_EQ(CString(u"Lejupielādēti: 1000 bytes no 2.92 KB"), dlg.m_strStatus);
}

} // namespace
} // namespace ui_test
