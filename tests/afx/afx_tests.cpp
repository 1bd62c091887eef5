// The afx core: text formatting, message maps and worker threads.
#include <afxwin.h>

#include <atomic>

#include <gtest/gtest.h>

namespace {

struct FormatCase {
    const char* message;
    CString expected;
    CString actual;
};

TEST(CStringFormat, PrintfStyleConversions)
{
    CString s[6];
    for (CString& x : s)
        x = u"<unset>";
    s[0].Format(u"Lejupielādēti: %s no %s", u"1.30 KB", u"2.28 MB");
    s[1].Format(u"%d|%5d|%-4d|%05u", -7, 42, 3, 9u);
    s[2].Format(u"%I64u %llu %x %X", 18446744073709551615ull, 5ull, 255u, 255u);
    s[3].Format(u"[%8s][%-3s][%.2s]", u"ab", u"c", u"xyz");
    s[4].Format(u"100%% %c", static_cast<int>(u'ā'));
    s[5].Format(u"%S", "narrow");
    const FormatCase cases[] = {
        {"two UTF-16 texts", u"Lejupielādēti: 1.30 KB no 2.28 MB", s[0]},
        {"integers with width and flags", u"-7|   42|3   |00009", s[1]},
        {"64-bit and hexadecimal", u"18446744073709551615 5 ff FF", s[2]},
        {"texts with width and precision", u"[      ab][c  ][xy]", s[3]},
        {"a percent sign and a character", u"100% ā", s[4]},
        {"a narrow text", u"narrow", s[5]},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(c.expected, c.actual) << c.message;
}

TEST(CStringFormat, FormatMessageInsertsByNumber)
{
    CString s(u"<unset>");
    s.FormatMessage(u"%2 after %1, %1 again; %3!d! and 100%%", u"first", u"second", static_cast<intptr_t>(7));
    EXPECT_EQ(CString(u"second after first, first again; 7 and 100%"), s);
}

class CCounter : public CCmdTarget {
public:
    int commands = 0;
    LPARAM lastParam = -1;

    afx_msg void OnGo() { ++commands; }
    afx_msg LRESULT OnPrivate(WPARAM, LPARAM l)
    {
        lastParam = l;
        return 99;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCounter, CCmdTarget)
    ON_BN_CLICKED(IDCANCEL, &CCounter::OnGo)
    ON_MESSAGE(WM_USER + 101, &CCounter::OnPrivate)
END_MESSAGE_MAP()

TEST(MessageMap, DispatchesByMessageControlAndNotification)
{
    CCounter target;
    LRESULT result = -1;
    EXPECT_TRUE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, &result));
    EXPECT_EQ(1, target.commands);
    EXPECT_FALSE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, &result))
        << "another control's click has no handler";
    EXPECT_FALSE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0, &result))
        << "another notification has no handler";
    EXPECT_TRUE(target.DispatchMessageMap(WM_USER + 101, 0, 1234, &result));
    EXPECT_EQ(99, result);
    EXPECT_EQ(1234, target.lastParam);
}

std::atomic<int> g_runs{0};

UINT CountRun(LPVOID parameter)
{
    g_runs += *static_cast<int*>(parameter);
    return 0;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume)
{
    g_runs = 0;
    int step = 5;
    CWinThread* thread = AfxBeginThread(CountRun, &step, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, thread);
    thread->m_bAutoDelete = FALSE;
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread->m_hThread, 50));
    EXPECT_EQ(0, g_runs.load()) << "a suspended thread must not run";
    EXPECT_EQ(1u, thread->ResumeThread());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread->m_hThread, INFINITE));
    EXPECT_EQ(5, g_runs.load());
    delete thread;
}

TEST(Threads, WaitOnUnknownHandleFails)
{
    SetLastError(0);
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), WaitForSingleObject(reinterpret_cast<HANDLE>(0x7777), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

} // namespace
