// transferd's service in this process: real transfers from the fault-injecting server into real
// files, a real store, and a fake clock for everything that waits.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <glib.h>
#include <sys/stat.h>

#include "FileText.h"
#include "FaultServer.h"
#include "errors.h"
#include "log.h"
#include "service.h"

using namespace transferd;
using sorvane_test::FaultServer;
using sorvane_test::ReadFile;

namespace {

constexpr Micros kStart = 1700000000LL * kSecond;
constexpr std::uint32_t kNoCode = 0xDEADBEEF;  // marks an output nobody set

std::string Pattern(std::size_t size, char seed)
{
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(seed + (i * 7 + i / 251) % 61);
    return text;
}

bool Settled(JobState state)
{
    return state != JobState::Queued && state != JobState::Connecting && state != JobState::Transferring;
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "transferd-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_config.stall_timeout_seconds = 1;
        m_config.connect_timeout_seconds = 5;
        Restart();
    }

    void TearDown() override
    {
        m_service.reset();
        m_store.reset();
        std::filesystem::remove_all(m_dir);
    }

    // A new service on the same store, as after transferd ended and started again.
    void Restart()
    {
        m_service.reset();
        m_store = std::make_unique<Store>();
        std::string error;
        ASSERT_TRUE(m_store->Open((m_dir / "jobs.db").string(), &error)) << error;
        m_service = std::make_unique<Service>(*m_store, m_clock, m_config);
        m_service->Start();
    }

    std::filesystem::path Local(const std::string& name = "file.bin") const { return m_dir / name; }

    std::string NewJob(const std::string& url, const std::string& local = "file.bin")
    {
        std::string id;
        EXPECT_EQ(m_service->CreateJob("job", kJobTypeDownload, &id), hr::kOk);
        EXPECT_EQ(m_service->AddFile(id, url, Local(local).string()), hr::kOk);
        return id;
    }

    std::string StartJob(const std::string& url, const std::string& local = "file.bin")
    {
        std::string id = NewJob(url, local);
        EXPECT_EQ(m_service->Resume(id), hr::kOk);
        return id;
    }

    const Job& JobOf(const std::string& id) { return *m_service->Get(id); }

    // Runs the service's main loop until the job stops moving by itself.
    JobState RunUntilSettled(const std::string& id, double seconds = 15)
    {
        gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
        guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
        while (!Settled(JobOf(id).state) && g_get_monotonic_time() < deadline)
            g_main_context_iteration(nullptr, TRUE);
        g_source_remove(tick);
        return JobOf(id).state;
    }

    // Lets pending work of the main loop run without waiting.
    void Drain()
    {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    std::filesystem::path m_dir;
    FakeClock m_clock{kStart};
    Config m_config;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<Service> m_service;
    FaultServer m_server;
};

FaultServer::Behaviour Status(int status)
{
    FaultServer::Behaviour behaviour;
    behaviour.status = status;
    return behaviour;
}

FaultServer::Behaviour DropAfter(std::int64_t bytes)
{
    FaultServer::Behaviour behaviour;
    behaviour.dropAfter = bytes;
    return behaviour;
}

TEST_F(ServiceTest, ServerBehavioursGiveTheStateContextAndCodeOfTheFailureTable)
{
    FaultServer::Behaviour noLength;
    noLength.length = false;
    FaultServer::Behaviour stall;
    stall.stallAfter = 0;
    const std::string closedPort = "http://127.0.0.1:" + std::to_string([] {
        FaultServer unused;
        return unused.Port();
    }()) + "/file";
    struct Row {
        const char* what;
        FaultServer::Behaviour behaviour;
        std::string url; // empty: the fault server's file
        JobState state;
        ErrorContext context;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"404", Status(404), "", JobState::Error, ErrorContext::RemoteFile, 0x80190194},
        {"403", Status(403), "", JobState::Error, ErrorContext::RemoteFile, 0x80190193},
        {"410", Status(410), "", JobState::Error, ErrorContext::RemoteFile, 0x8019019A},
        {"501", Status(501), "", JobState::Error, ErrorContext::RemoteFile, 0x801901F5},
        {"505", Status(505), "", JobState::Error, ErrorContext::RemoteFile, 0x801901F9},
        {"408", Status(408), "", JobState::TransientError, ErrorContext::RemoteFile, 0x80190198},
        {"409", Status(409), "", JobState::TransientError, ErrorContext::RemoteFile, 0x80190199},
        {"429", Status(429), "", JobState::TransientError, ErrorContext::RemoteFile, 0x801901AD},
        {"500", Status(500), "", JobState::TransientError, ErrorContext::RemoteFile, 0x801901F4},
        {"503", Status(503), "", JobState::TransientError, ErrorContext::RemoteFile, 0x801901F7},
        {"no Content-Length", noLength, "", JobState::Error, ErrorContext::RemoteFile, hr::kMissingFileSize},
        {"dropped before the body", DropAfter(0), "", JobState::TransientError, ErrorContext::GeneralTransport,
         hr::kInternetConnectionAborted},
        {"stalled before the body", stall, "", JobState::TransientError, ErrorContext::GeneralTransport,
         hr::kInternetTimeout},
        {"connection refused", {}, closedPort, JobState::TransientError, ErrorContext::GeneralTransport,
         hr::kInternetCannotConnect},
        {"name not resolved", {}, "http://transferd-test.invalid/file", JobState::TransientError,
         ErrorContext::GeneralTransport, hr::kInternetNameNotResolved},
    };
    m_server.SetFile("/file", Pattern(100000, 'a'));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_server.Script({row.behaviour});
        std::string id = StartJob(row.url.empty() ? m_server.Url("/file") : row.url);
        EXPECT_EQ(RunUntilSettled(id), row.state);
        EXPECT_EQ(JobOf(id).error_context, row.context);
        EXPECT_EQ(JobOf(id).error_code, row.code) << Hex(JobOf(id).error_code);
        std::string text;
        EXPECT_EQ(DescribeIn(JobOf(id).error_code, kLanguageEnglishUs, &text), hr::kOk);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(m_service->Cancel(id), hr::kOk);
    }
}

TEST_F(ServiceTest, AFolderThatGoesAwayIsALocalFileError)
{
    m_server.SetFile("/file", Pattern(1000, 'a'));
    std::filesystem::create_directory(m_dir / "gone");
    std::string id = NewJob(m_server.Url("/file"), "gone/file.bin");
    std::filesystem::remove(m_dir / "gone");
    ASSERT_EQ(m_service->Resume(id), hr::kOk);
    EXPECT_EQ(RunUntilSettled(id), JobState::Error);
    EXPECT_EQ(JobOf(id).error_context, ErrorContext::LocalFile);
    EXPECT_EQ(JobOf(id).error_code, 0x80070003u); // path not found
}

TEST_F(ServiceTest, ATransientErrorIsRetriedAfterTheMinimumRetryDelayAndNoSooner)
{
    struct Row {
        std::uint32_t set;
        std::uint32_t effective;
    };
    for (Row row : {Row{60, 60}, Row{1, 5}}) {
        SCOPED_TRACE(row.set);
        m_server.SetFile("/file", Pattern(5000, 'a'));
        m_server.Script({Status(503), {}});
        std::string id = NewJob(m_server.Url("/file"));
        ASSERT_EQ(m_service->SetMinimumRetryDelay(id, row.set), hr::kOk);
        ASSERT_EQ(m_service->Resume(id), hr::kOk);
        ASSERT_EQ(RunUntilSettled(id), JobState::TransientError);
        std::size_t requests = m_server.Requests().size();

        m_clock.Advance((row.effective - 1) * kSecond);
        Drain();
        EXPECT_EQ(JobOf(id).state, JobState::TransientError);
        EXPECT_EQ(m_server.Requests().size(), requests);

        m_clock.Advance(kSecond);
        EXPECT_EQ(RunUntilSettled(id), JobState::Transferred);
        EXPECT_EQ(m_server.Requests().size(), requests + 1);
        EXPECT_EQ(m_service->Cancel(id), hr::kOk);
    }
}

TEST_F(ServiceTest, WithNoProgressForTheNoProgressTimeoutTheJobBecomesAnError)
{
    m_server.SetFile("/file", Pattern(5000, 'a'));
    m_server.Script({Status(503)});
    std::string id = NewJob(m_server.Url("/file"));
    ASSERT_EQ(m_service->SetMinimumRetryDelay(id, 60), hr::kOk);
    ASSERT_EQ(m_service->SetNoProgressTimeout(id, 100), hr::kOk);
    ASSERT_EQ(m_service->Resume(id), hr::kOk);
    ASSERT_EQ(RunUntilSettled(id), JobState::TransientError);

    m_clock.Advance(60 * kSecond); // retried, fails again: still within the time-out
    EXPECT_EQ(RunUntilSettled(id), JobState::TransientError);
    EXPECT_EQ(m_server.Requests().size(), 2u);

    m_clock.Advance(40 * kSecond);
    Drain();
    EXPECT_EQ(JobOf(id).state, JobState::Error);
    EXPECT_EQ(JobOf(id).error_context, ErrorContext::RemoteFile);
    EXPECT_EQ(JobOf(id).error_code, 0x801901F7u);
}

TEST_F(ServiceTest, AConnectionThatBreaksAfterBytesIsResumedAtOnceFromWhereItStopped)
{
    const std::string content = Pattern(1000000, 'a');
    m_server.SetFile("/file", content);
    m_server.Script({DropAfter(200000), DropAfter(200000), {}});
    std::string id = StartJob(m_server.Url("/file"));
    ASSERT_EQ(RunUntilSettled(id), JobState::Transferred);

    std::vector<FaultServer::Request> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].range, "");
    EXPECT_EQ(requests[1].range, "bytes=200000-");
    EXPECT_EQ(requests[2].range, "bytes=400000-");
    EXPECT_EQ(requests[2].ifRange, "\"v1\"");
    EXPECT_EQ(requests[2].status, 206);
    EXPECT_EQ(m_service->Complete(id), hr::kOk);
    EXPECT_EQ(ReadFile(Local()), content);
}

TEST_F(ServiceTest, AfterAFewImmediateResumesABreakingConnectionIsATransientError)
{
    m_server.SetFile("/file", Pattern(100000, 'a'));
    m_server.Script({DropAfter(1000)});
    std::string id = StartJob(m_server.Url("/file"));
    EXPECT_EQ(RunUntilSettled(id), JobState::TransientError);
    EXPECT_EQ(m_server.Requests().size(), 1u + kImmediateResumes);
    EXPECT_EQ(JobOf(id).error_context, ErrorContext::GeneralTransport);
    EXPECT_EQ(JobOf(id).BytesTransferred(), 1000u * (1 + kImmediateResumes));
}

TEST_F(ServiceTest, PartialBytesAreKeptOnlyWhenTheServerProvesTheFileUnchanged)
{
    const std::string before = Pattern(700000, 'a');
    const std::string after = Pattern(650000, 'k');
    FaultServer::Behaviour noRanges = DropAfter(300000);
    noRanges.ranges = false;
    FaultServer::Behaviour noValidators = DropAfter(300000);
    noValidators.validators = false;
    FaultServer::Behaviour changed;
    changed.replaceContent = after;
    FaultServer::Behaviour changedIgnoringIfRange = changed;
    changedIgnoringIfRange.honourIfRange = false;
    struct Row {
        const char* what;
        std::vector<FaultServer::Behaviour> script;
        std::string expected;
        std::string secondRange; // what the second request asked for
    };
    const Row rows[] = {
        {"file replaced; the server honours If-Range", {DropAfter(300000), changed, {}}, after, "bytes=300000-"},
        {"file replaced; the server ignores If-Range", {DropAfter(300000), changedIgnoringIfRange, {}}, after,
         "bytes=300000-"},
        {"no range support", {noRanges, {}}, before, "bytes=300000-"},
        {"no validators to resume safely", {noValidators, {}}, before, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_server.SetFile("/file", before);
        m_server.Script(row.script);
        std::size_t first = m_server.Requests().size();
        std::string id = StartJob(m_server.Url("/file"));
        ASSERT_EQ(RunUntilSettled(id), JobState::Transferred);
        ASSERT_EQ(m_service->Complete(id), hr::kOk);
        EXPECT_EQ(ReadFile(Local()) == row.expected, true) << "the result is not the expected version, whole";
        std::vector<FaultServer::Request> requests = m_server.Requests();
        ASSERT_GT(requests.size(), first + 1);
        EXPECT_EQ(requests[first + 1].range, row.secondRange);
        std::filesystem::remove(Local());
    }
}

TEST_F(ServiceTest, AnEmptyFileIsPlacedWithTheModeNewFilesGet)
{
    mode_t mask = umask(022);
    m_server.SetFile("/empty", "");
    std::string id = StartJob(m_server.Url("/empty"));
    ASSERT_EQ(RunUntilSettled(id), JobState::Transferred);
    EXPECT_EQ(JobOf(id).BytesTotal(), 0u);
    EXPECT_EQ(m_service->Complete(id), hr::kOk);
    ASSERT_TRUE(std::filesystem::exists(Local()));
    EXPECT_EQ(std::filesystem::file_size(Local()), 0u);
    struct stat st {};
    ASSERT_EQ(stat(Local().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    umask(mask);
}

TEST_F(ServiceTest, AHostPinnedWithConnectToIsServedFromTheOtherAddress)
{
    m_config.connect_to = {"transferd-test.invalid:80:127.0.0.1:" + std::to_string(m_server.Port())};
    Restart();
    const std::string content = Pattern(30000, 'p');
    m_server.SetFile("/pinned", content);
    std::string id = StartJob("http://transferd-test.invalid/pinned");
    ASSERT_EQ(RunUntilSettled(id), JobState::Transferred);
    ASSERT_EQ(m_service->Complete(id), hr::kOk);
    EXPECT_EQ(ReadFile(Local()), content);
}

TEST(TransferdConfig, ReadsTheFileAndTheEnvironmentAndSkipsBadLines)
{
    std::string path = (std::filesystem::temp_directory_path() / "transferd-config-test.conf").string();
    std::ofstream(path) << "# pins\n"
                           "connect-to = a.example:80:127.0.0.1:1, b.example:443:127.0.0.1:2\n"
                           "idle-exit=5\n"
                           "stall-timeout=0\n"
                           "no-such-key=1\n"
                           "connect-timeout\n";
    setenv("TRANSFERD_CONNECT_TO", "c.example:80:127.0.0.1:3", 1);
    Config config = LoadConfig(path);
    unsetenv("TRANSFERD_CONNECT_TO");
    std::filesystem::remove(path);
    EXPECT_EQ(config.connect_to, (std::vector<std::string>{"a.example:80:127.0.0.1:1", "b.example:443:127.0.0.1:2",
                                                            "c.example:80:127.0.0.1:3"}));
    EXPECT_EQ(config.idle_exit_seconds, 5);
    EXPECT_EQ(config.stall_timeout_seconds, Config().stall_timeout_seconds);
    EXPECT_EQ(config.connect_timeout_seconds, Config().connect_timeout_seconds);
}

TEST_F(ServiceTest, AJobUntouchedFor90DaysIsCancelledAndItsTemporaryFileDeleted)
{
    m_server.SetFile("/file", Pattern(100000, 'a'));
    m_server.Script({DropAfter(1000)});
    std::string id = StartJob(m_server.Url("/file"));
    ASSERT_EQ(RunUntilSettled(id), JobState::TransientError);
    ASSERT_EQ(m_service->Suspend(id), hr::kOk);
    std::string temp = JobOf(id).files[0].temp_path;
    ASSERT_TRUE(std::filesystem::exists(temp));

    m_clock.Advance(kUntouchedLimit - kSecond);
    EXPECT_EQ(m_service->FindJob(id), hr::kOk);
    m_clock.Advance(kSecond);
    EXPECT_EQ(m_service->FindJob(id), hr::kNotFound);
    EXPECT_EQ(JobOf(id).state, JobState::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST_F(ServiceTest, JobsSurviveARestartInEveryState)
{
    const std::string content = Pattern(400000, 'a');
    m_server.SetFile("/file", content);
    m_server.SetFile("/missing-size", "x");
    auto settle = [&](std::vector<FaultServer::Behaviour> script, const std::string& local) {
        m_server.Script(std::move(script));
        std::string id = StartJob(m_server.Url("/file"), local);
        RunUntilSettled(id);
        return id;
    };
    std::string empty;
    ASSERT_EQ(m_service->CreateJob("empty", kJobTypeDownload, &empty), hr::kOk);
    std::string suspended = NewJob(m_server.Url("/file"), "suspended.bin");
    std::string error = settle({Status(404)}, "error.bin");
    std::string transient = settle({Status(503)}, "transient.bin");
    std::string transferred = settle({{}}, "transferred.bin");
    std::string acknowledged = settle({{}}, "acknowledged.bin");
    ASSERT_EQ(m_service->Complete(acknowledged), hr::kOk);
    std::string cancelled = NewJob(m_server.Url("/file"), "cancelled.bin");
    ASSERT_EQ(m_service->Cancel(cancelled), hr::kOk);
    FaultServer::Behaviour stall;
    stall.stallAfter = 150000;
    m_server.Script({stall});
    std::string transferring = StartJob(m_server.Url("/file"), "transferring.bin");
    gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (JobOf(transferring).BytesTransferred() < 150000 && g_get_monotonic_time() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    ASSERT_EQ(JobOf(transferring).state, JobState::Transferring);

    std::map<std::string, Job> before;
    for (const std::string& id : {empty, suspended, error, transient, transferred, acknowledged, cancelled})
        before[id] = JobOf(id);
    m_server.Script({{}});
    Restart();

    for (const auto& [id, job] : before) {
        SCOPED_TRACE(job.files.empty() ? "empty" : job.files[0].local_path);
        ASSERT_NE(m_service->Get(id), nullptr);
        const Job& now = JobOf(id);
        EXPECT_EQ(now.state, job.state);
        EXPECT_EQ(now.display_name, job.display_name);
        EXPECT_EQ(now.error_context, job.error_context);
        EXPECT_EQ(now.error_code, job.error_code);
        EXPECT_EQ(now.BytesTransferred(), job.BytesTransferred());
        EXPECT_EQ(now.files.size(), job.files.size());
        EXPECT_EQ(now.created, job.created);
    }
    EXPECT_EQ(m_service->FindJob(acknowledged), hr::kNotFound);
    EXPECT_EQ(m_service->Resume(acknowledged), hr::kInvalidState);

    // The job that was transferring continues from the bytes on disk.
    ASSERT_EQ(RunUntilSettled(transferring), JobState::Transferred);
    EXPECT_EQ(m_server.Requests().back().range, "bytes=150000-");
    ASSERT_EQ(m_service->Complete(transferring), hr::kOk);
    EXPECT_EQ(ReadFile(Local("transferring.bin")), content);
}

TEST_F(ServiceTest, CreateJobRefusesBadArgumentsAndMoreThanTheJobsAUserMayHave)
{
    std::string id = "unset";
    EXPECT_EQ(m_service->CreateJob(std::string(257, 'n'), kJobTypeDownload, &id), hr::kInvalidArg);
    EXPECT_EQ(m_service->CreateJob("upload", 1, &id), hr::kInvalidArg);
    EXPECT_EQ(id, "unset");
    // 256 characters, counted as characters and not bytes.
    std::string longest;
    for (int i = 0; i < 256; ++i)
        longest += "ā";
    EXPECT_EQ(m_service->CreateJob(longest, kJobTypeDownload, &id), hr::kOk);
    ASSERT_EQ(Config().max_jobs_per_user, 60);
    for (int i = 1; i < Config().max_jobs_per_user; ++i)
        ASSERT_EQ(m_service->CreateJob("job", kJobTypeDownload, &id), hr::kOk);
    EXPECT_EQ(m_service->CreateJob("one too many", kJobTypeDownload, &id), hr::kTooManyJobsPerUser);
    ASSERT_EQ(m_service->Cancel(id), hr::kOk);
    EXPECT_EQ(m_service->CreateJob("room again", kJobTypeDownload, &id), hr::kOk);
}

} // namespace
