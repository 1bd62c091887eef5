// The poll thread against a live dialog, through a download to its end. Built with
// -DSORVANE_SANITIZE=thread, ThreadSanitizer must find nothing here.
#include "UiFixture.h"

#include <regex>

namespace ui_test {
namespace {

// The lines of the trace that post a poll, and the index of the dialog's end among them all.
struct PollTrace {
    size_t posts = 0;
    size_t postsAfterEnd = 0;
};

PollTrace ReadPolls(const std::vector<std::string>& lines)
{
    PollTrace trace;
    bool ended = false;
    std::regex post(R"(^PostMessageW\([^,]*, 0x0465,)");
    for (const std::string& line : lines) {
        if (line.rfind("EndDialog(", 0) == 0)
            ended = true;
        if (std::regex_search(line, post)) {
            ++trace.posts;
            trace.postsAfterEnd += ended ? 1 : 0;
        }
    }
    return trace;
}

TEST(PollThread, FollowsTheDownloadAndStopsWithTheDialog)
{
    struct Case {
        const char* message;
        BG_JOB_STATE last;
        std::function<void(UiWorld&, FakeBitsJob&)> prepare;
        const char* lastCall;
    };
    const Case cases[] = {
        {"ended by a job error", BG_JOB_STATE_ERROR,
         [](UiWorld&, FakeBitsJob& job) { job.SetError(BG_ERROR_CONTEXT_REMOTE_FILE, E_FAIL, u"Gone."); },
         "job1.Cancel()"},
        {"ended by the finished download", BG_JOB_STATE_TRANSFERRED,
         [](UiWorld& w, FakeBitsJob&) { w.WriteSetupProgram(); }, "job1.Complete()"},
    };
    for (const Case& c : cases) {
        UiWorld world;
        CSorvaneDlg dlg;
        FakeBitsJob& job = world.manager.Job(0);
        std::vector<FakeBitsJob::Step> steps;
        for (UINT64 done = 0; done <= 4000; done += 500)
            steps.push_back({BG_JOB_STATE_TRANSFERRING, 4000, done});
        steps.push_back({c.last, 4000, 4000});
        job.Script(steps);
        c.prepare(world, job);
        g_dwJobPollInterval = 1;
        g_bHandlingJob = true; // held back until the test watches
        world.trace.Clear();

        std::vector<LRESULT> positions;
        INT_PTR result = world.RunModal(dlg, [&](CSorvaneDlg& d) {
            // Follows the bar while the poll thread drives the dialog to its end.
            HWND bar = Control(d, IDC_PROGRESS);
            g_bHandlingJob = false;
            PumpUntil([&] {
                if (IsWindow(bar))
                    positions.push_back(SendMessageW(bar, PBM_GETPOS, 0, 0));
                return !IsWindowVisible(d.GetSafeHwnd());
            });
        });
        EXPECT_EQ(IDCANCEL, result) << c.message;
        EXPECT_EQ(std::string(c.lastCall), world.manager.Calls().back()) << c.message;
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << c.message;
        EXPECT_FALSE(positions.empty()) << c.message;
        if (!positions.empty()) {
            EXPECT_EQ(1000, positions.back()) << c.message;
        }
        PollTrace polls = ReadPolls(world.trace.Lines());
        EXPECT_GE(polls.posts, steps.size()) << c.message;
        EXPECT_EQ(0u, polls.postsAfterEnd) << c.message << ": no poll is posted once the dialog has ended";
        EXPECT_TRUE(g_bHandlingJob.load()) << c.message;
    }
    EXPECT_EQ(nullptr, g_pDownloadDlg.load());
}

TEST(PollThread, StopsWhenCancelIsAnswered)
{
    UiWorld world;
    CSorvaneDlg dlg;
    FakeBitsJob& job = world.manager.Job(0);
    job.m_state = BG_JOB_STATE_TRANSFERRING;
    job.SetProgress(4000, 100);
    g_dwJobPollInterval = 1;
    world.boxes.answers = {IDYES};
    world.trace.Clear();
    g_bHandlingJob = true;
    INT_PTR result = world.RunModal(dlg, [&](CSorvaneDlg& d) {
        g_bHandlingJob = false;
        PumpUntil([&] { return world.manager.Calls().size() > 20; });
        SendMessageW(Control(d, IDCANCEL), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ("job1.Suspend()", world.manager.Calls().back());
    EXPECT_EQ(0u, ReadPolls(world.trace.Lines()).postsAfterEnd);
}

} // namespace
} // namespace ui_test
