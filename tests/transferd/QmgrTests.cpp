// winshim's BITS client against the real transferd, started on demand as the program would start
// it, with nginx as the real server and the fault server where a failure is needed.
#include <gtest/gtest.h>

#include <windows.h>
#include <bits.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include "FileText.h"
#include "FaultServer.h"
#include "NginxServer.h"
#include "TempHome.h"
#include "TransferdDaemon.h"

using namespace sorvane_test;

namespace {

// Holds one COM reference.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(Ref&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    Ref& operator=(Ref&& other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    T** Out()
    {
        Reset();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void Reset()
    {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

std::u16string W(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string Narrow(LPCWSTR text)
{
    std::string out;
    for (; text && *text; ++text)
        out += static_cast<char>(*text);
    return out;
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        uint64_t value = random();
        for (size_t j = 0; j < 8 && i + j < size; ++j)
            bytes[i + j] = static_cast<char>(value >> (j * 8));
    }
    return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// Runs a shell command; its exit status, with standard output and error in *output.
int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::array<char, 4096> buffer{};
    output->clear();
    while (size_t got = fread(buffer.data(), 1, buffer.size(), pipe))
        output->append(buffer.data(), got);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Files in a folder whose names start with '.', as transferd's temporary files do.
std::vector<std::string> HiddenFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.')
            names.push_back(entry.path().filename().string());
    return names;
}

class QmgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_www);
        std::filesystem::create_directories(Downloads());
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_BackgroundCopyManager, nullptr, CLSCTX_LOCAL_SERVER, IID_IBackgroundCopyManager,
                                   reinterpret_cast<void**>(m_manager.Out())),
                  S_OK);
    }

    void TearDown() override
    {
        m_manager.Reset();
        CoUninitialize();
    }

    std::filesystem::path Downloads() const { return m_home.Downloads(); }

    Ref<IBackgroundCopyJob> NewJob(const std::string& name = "Sorvane")
    {
        Ref<IBackgroundCopyJob> job;
        GUID id{};
        EXPECT_EQ(m_manager->CreateJob(W(name).c_str(), BG_JOB_TYPE_DOWNLOAD, &id, job.Out()), S_OK);
        return job;
    }

    Ref<IBackgroundCopyJob> NewJob(const std::string& url, const std::filesystem::path& local)
    {
        Ref<IBackgroundCopyJob> job = NewJob();
        EXPECT_EQ(job->AddFile(W(url).c_str(), W(local.string()).c_str()), S_OK);
        return job;
    }

    static BG_JOB_STATE State(IBackgroundCopyJob* job)
    {
        BG_JOB_STATE state = static_cast<BG_JOB_STATE>(-1);
        EXPECT_EQ(job->GetState(&state), S_OK);
        return state;
    }

    static BG_JOB_PROGRESS Progress(IBackgroundCopyJob* job)
    {
        BG_JOB_PROGRESS progress{~0ULL, ~0ULL, ~0U, ~0U};
        EXPECT_EQ(job->GetProgress(&progress), S_OK);
        return progress;
    }

    // Polls the job until `done` holds for it or the time is up.
    static bool WaitFor(IBackgroundCopyJob* job, const std::function<bool(IBackgroundCopyJob*)>& done,
                        double seconds = 20)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done(job)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    static bool WaitForState(IBackgroundCopyJob* job, BG_JOB_STATE state, double seconds = 20)
    {
        return WaitFor(job, [state](IBackgroundCopyJob* j) { return State(j) == state; }, seconds);
    }

    TempHome m_home;
    TransferdDaemon m_daemon;
    std::filesystem::path m_www = m_home.Path() / "www";
    Ref<IBackgroundCopyManager> m_manager;
};

TEST_F(QmgrTest, ActivationFollowsTheRulesOfCom)
{
    void* const marker = reinterpret_cast<void*>(0x1);
    struct Row {
        const char* what;
        const CLSID* clsid;
        IUnknown* outer;
        DWORD context;
        const IID* iid;
        HRESULT expected;
    };
    IUnknown* outer = m_manager.Get();
    const Row rows[] = {
        {"another class", &IID_IBackgroundCopyJob, nullptr, CLSCTX_LOCAL_SERVER, &IID_IBackgroundCopyManager,
         REGDB_E_CLASSNOTREG},
        {"in-process only", &CLSID_BackgroundCopyManager, nullptr, CLSCTX_INPROC_SERVER, &IID_IBackgroundCopyManager,
         REGDB_E_CLASSNOTREG},
        {"aggregation", &CLSID_BackgroundCopyManager, outer, CLSCTX_LOCAL_SERVER, &IID_IBackgroundCopyManager,
         CLASS_E_NOAGGREGATION},
        {"an interface the class lacks", &CLSID_BackgroundCopyManager, nullptr, CLSCTX_LOCAL_SERVER,
         &IID_IBackgroundCopyJob, E_NOINTERFACE},
        {"IUnknown", &CLSID_BackgroundCopyManager, nullptr, CLSCTX_ALL, &IID_IUnknown, S_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        void* object = marker;
        EXPECT_EQ(CoCreateInstance(*row.clsid, row.outer, row.context, *row.iid, &object), row.expected);
        if (FAILED(row.expected))
            EXPECT_EQ(object, nullptr);
        else if (object)
            static_cast<IUnknown*>(object)->Release();
    }
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);

    std::thread([&] {
        void* object = marker;
        EXPECT_EQ(CoCreateInstance(CLSID_BackgroundCopyManager, nullptr, CLSCTX_LOCAL_SERVER,
                                   IID_IBackgroundCopyManager, &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(object, nullptr);
    }).join();
}

TEST_F(QmgrTest, ActivationStartsTransferdAndSaysWhenItCannot)
{
    pid_t pid = m_daemon.Pid();
    EXPECT_GT(pid, 0) << "CoCreateInstance did not start transferd";

    m_manager.Reset();
    ASSERT_TRUE(m_daemon.WaitForExit(10)) << "transferd did not end when its last client went";

    setenv("TRANSFERD_PATH", "/nonexistent/transferd", 1);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_BackgroundCopyManager, nullptr, CLSCTX_LOCAL_SERVER, IID_IBackgroundCopyManager,
                               &object),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(object, nullptr);
    setenv("TRANSFERD_PATH", TransferdDaemon::Program().c_str(), 1);
}

TEST_F(QmgrTest, ObjectsCountTheirReferences)
{
    Ref<IBackgroundCopyJob> job = NewJob();
    EXPECT_EQ(job->AddRef(), 2u);
    EXPECT_EQ(job->Release(), 1u);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(job->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(job.Get()));
    EXPECT_EQ(unknown->Release(), 1u);
    void* other = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(job->QueryInterface(IID_IBackgroundCopyManager, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_F(QmgrTest, AddFileRefusesOtherSchemesAndRelativePaths)
{
    const std::string good = "http://127.0.0.1:9/file.bin";
    const std::string local = (Downloads() / "file.bin").string();
    struct Row {
        std::string url;
        std::string local;
        HRESULT expected;
    };
    const Row rows[] = {
        {"ftp://127.0.0.1/file.bin", local, E_INVALIDARG},
        {"file:///etc/passwd", local, E_INVALIDARG},
        {"gopher://127.0.0.1/file.bin", local, E_INVALIDARG},
        {"not a url", local, E_INVALIDARG},
        {"http://", local, E_INVALIDARG},
        {"", local, E_INVALIDARG},
        {good, "file.bin", E_INVALIDARG},
        {good, "Downloads/file.bin", E_INVALIDARG},
        {good, "", E_INVALIDARG},
        {good, (Downloads() / "missing" / "file.bin").string(), E_ACCESSDENIED},
        {"HTTPS://127.0.0.1:9/file.bin", local, S_OK},
        {good, local, S_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url + " -> " + row.local);
        Ref<IBackgroundCopyJob> job = NewJob();
        EXPECT_EQ(job->AddFile(W(row.url).c_str(), W(row.local).c_str()), row.expected);
        EXPECT_EQ(job->Cancel(), S_OK);
    }
}

TEST_F(QmgrTest, TheStateTableHoldsThroughTheClient)
{
    WriteFile(m_www / "small.bin", RandomBytes(20000, 1));
    WriteFile(m_www / "large.bin", RandomBytes(4 << 20, 2));
    NginxServer nginx(m_www, {"200k"});
    FaultServer fault;
    fault.SetFile("/file", "content");
    FaultServer::Behaviour unavailable;
    unavailable.status = 503;
    fault.Script({unavailable});

    enum Op { kResume, kSuspend, kCancel, kComplete };
    const char* const kOpNames[] = {"Resume", "Suspend", "Cancel", "Complete"};
    int serial = 0;
    auto local = [&] { return Downloads() / ("file" + std::to_string(++serial) + ".bin"); };
    struct From {
        const char* name;
        std::function<Ref<IBackgroundCopyJob>()> make;
    };
    auto resumed = [&](const std::string& url, BG_JOB_STATE state) {
        Ref<IBackgroundCopyJob> job = NewJob(url, local());
        EXPECT_EQ(job->Resume(), S_OK);
        EXPECT_TRUE(WaitForState(job.Get(), state)) << "did not reach state " << state;
        return job;
    };
    const From froms[] = {
        {"SUSPENDED, no file", [&] { return NewJob(); }},
        {"SUSPENDED with a file", [&] { return NewJob(nginx.Url("large.bin"), local()); }},
        {"TRANSFERRING", [&] { return resumed(nginx.Url("large.bin"), BG_JOB_STATE_TRANSFERRING); }},
        {"TRANSIENT_ERROR", [&] { return resumed(fault.Url("/file"), BG_JOB_STATE_TRANSIENT_ERROR); }},
        {"ERROR", [&] { return resumed(nginx.Url("missing.bin"), BG_JOB_STATE_ERROR); }},
        {"TRANSFERRED", [&] { return resumed(nginx.Url("small.bin"), BG_JOB_STATE_TRANSFERRED); }},
        {"ACKNOWLEDGED", [&] {
             Ref<IBackgroundCopyJob> job = resumed(nginx.Url("small.bin"), BG_JOB_STATE_TRANSFERRED);
             EXPECT_EQ(job->Complete(), S_OK);
             return job;
         }},
        {"CANCELLED", [&] {
             Ref<IBackgroundCopyJob> job = NewJob();
             EXPECT_EQ(job->Cancel(), S_OK);
             return job;
         }},
    };
    const std::set<BG_JOB_STATE> active = {BG_JOB_STATE_QUEUED, BG_JOB_STATE_CONNECTING, BG_JOB_STATE_TRANSFERRING};
    struct Expect {
        HRESULT result;
        std::set<BG_JOB_STATE> states; // where the job may be right after the call
    };
    using S = std::set<BG_JOB_STATE>;
    const S suspended{BG_JOB_STATE_SUSPENDED}, cancelled{BG_JOB_STATE_CANCELLED}, acked{BG_JOB_STATE_ACKNOWLEDGED};
    const Expect invalid{BG_E_INVALID_STATE, {}};
    // Rows follow `froms`, columns Resume, Suspend, Cancel, Complete.
    const Expect table[8][4] = {
        {{BG_E_EMPTY, suspended}, {S_OK, suspended}, {S_OK, cancelled}, {S_OK, acked}},
        {{S_OK, active}, {S_OK, suspended}, {S_OK, cancelled}, {BG_S_PARTIAL_COMPLETE, acked}},
        {{S_OK, active}, {S_OK, suspended}, {S_OK, cancelled}, {BG_S_PARTIAL_COMPLETE, acked}},
        {{S_OK, S{BG_JOB_STATE_QUEUED, BG_JOB_STATE_CONNECTING, BG_JOB_STATE_TRANSIENT_ERROR}},
         {S_OK, suspended},
         {S_OK, cancelled},
         {BG_S_PARTIAL_COMPLETE, acked}},
        {{S_OK, S{BG_JOB_STATE_QUEUED, BG_JOB_STATE_CONNECTING, BG_JOB_STATE_ERROR}},
         {S_OK, suspended},
         {S_OK, cancelled},
         {BG_S_PARTIAL_COMPLETE, acked}},
        {{S_OK, S{BG_JOB_STATE_TRANSFERRED}}, {S_OK, S{BG_JOB_STATE_TRANSFERRED}}, {S_OK, cancelled}, {S_OK, acked}},
        {invalid, invalid, invalid, invalid},
        {invalid, invalid, invalid, invalid},
    };
    for (int row = 0; row < 8; ++row) {
        for (int op = kResume; op <= kComplete; ++op) {
            SCOPED_TRACE(std::string(froms[row].name) + ": " + kOpNames[op]);
            Ref<IBackgroundCopyJob> job = froms[row].make();
            BG_JOB_STATE before = State(job.Get());
            size_t faultRequests = fault.Requests().size();
            HRESULT result = op == kResume    ? job->Resume()
                             : op == kSuspend ? job->Suspend()
                             : op == kCancel  ? job->Cancel()
                                              : job->Complete();
            const Expect& expect = table[row][op];
            EXPECT_EQ(result, expect.result);
            BG_JOB_STATE after = State(job.Get());
            if (expect.states.empty()) {
                EXPECT_EQ(after, before);
            } else {
                EXPECT_TRUE(expect.states.count(after)) << "state " << after;
            }
            if (row == 3 && op == kResume) { // retried now, without waiting for the retry delay
                EXPECT_TRUE(WaitFor(job.Get(), [&](IBackgroundCopyJob*) { return fault.Requests().size() > faultRequests; }));
            }
            if (after == BG_JOB_STATE_CANCELLED || after == BG_JOB_STATE_ACKNOWLEDGED) {
                GUID id{};
                ASSERT_EQ(job->GetId(&id), S_OK);
                IBackgroundCopyJob* again = reinterpret_cast<IBackgroundCopyJob*>(0x1);
                EXPECT_EQ(m_manager->GetJob(id, &again), BG_E_NOT_FOUND);
                EXPECT_EQ(again, nullptr);
            } else {
                EXPECT_EQ(job->Cancel(), S_OK);
            }
        }
    }
    EXPECT_TRUE(HiddenFiles(Downloads()).empty()) << "a temporary file was left behind";
}

TEST_F(QmgrTest, TheErrorObjectGivesContextCodeAndAnEnglishDescription)
{
    NginxServer nginx(m_www);
    Ref<IBackgroundCopyJob> job = NewJob(nginx.Url("missing.bin"), Downloads() / "missing.bin");
    IBackgroundCopyError* none = reinterpret_cast<IBackgroundCopyError*>(0x1);
    EXPECT_EQ(job->GetError(&none), BG_E_ERROR_INFORMATION_UNAVAILABLE);
    EXPECT_EQ(none, nullptr);
    Ref<IBackgroundCopyError> error;

    ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitForState(job.Get(), BG_JOB_STATE_ERROR));
    ASSERT_EQ(job->GetError(error.Out()), S_OK);
    BG_ERROR_CONTEXT context = static_cast<BG_ERROR_CONTEXT>(-1);
    HRESULT code = S_FALSE;
    ASSERT_EQ(error->GetError(&context, &code), S_OK);
    EXPECT_EQ(context, BG_ERROR_CONTEXT_REMOTE_FILE);
    EXPECT_EQ(code, static_cast<HRESULT>(0x80190194));

    LPWSTR text = nullptr;
    ASSERT_EQ(error->GetErrorDescription(1033, &text), S_OK);
    EXPECT_NE(Narrow(text).find("not found"), std::string::npos) << Narrow(text);
    CoTaskMemFree(text);
    ASSERT_EQ(error->GetErrorContextDescription(1033, &text), S_OK);
    EXPECT_FALSE(Narrow(text).empty());
    CoTaskMemFree(text);
    text = reinterpret_cast<LPWSTR>(0x1);
    EXPECT_EQ(error->GetErrorDescription(0, &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(error->GetErrorDescription(1062, &text), static_cast<HRESULT>(0x80070717));
    EXPECT_EQ(text, nullptr);
}

TEST_F(QmgrTest, CompleteReplacesTheLocalFileWholeAndCancelLeavesItAlone)
{
    const std::string content = RandomBytes(300000, 3);
    WriteFile(m_www / "file.bin", content);
    NginxServer nginx(m_www, {"100k"});
    const std::filesystem::path target = Downloads() / "file.bin";

    WriteFile(target, "an older file");
    Ref<IBackgroundCopyJob> cancelled = NewJob(nginx.Url("file.bin"), target);
    ASSERT_EQ(cancelled->Resume(), S_OK);
    ASSERT_TRUE(WaitFor(cancelled.Get(), [](IBackgroundCopyJob* j) { return Progress(j).BytesTransferred > 0; }));
    EXPECT_EQ(cancelled->Cancel(), S_OK);
    EXPECT_EQ(ReadFile(target), "an older file");
    EXPECT_TRUE(HiddenFiles(Downloads()).empty());

    Ref<IBackgroundCopyJob> job = NewJob(nginx.Url("file.bin"), target);
    ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitFor(job.Get(), [](IBackgroundCopyJob* j) { return Progress(j).BytesTransferred > 0; }));
    EXPECT_EQ(ReadFile(target), "an older file") << "the local file changed before Complete";
    ASSERT_TRUE(WaitForState(job.Get(), BG_JOB_STATE_TRANSFERRED));
    BG_JOB_PROGRESS progress = Progress(job.Get());
    EXPECT_EQ(progress.BytesTotal, content.size());
    EXPECT_EQ(progress.BytesTransferred, content.size());
    EXPECT_EQ(progress.FilesTransferred, 1u);
    ASSERT_EQ(job->Complete(), S_OK);
    EXPECT_EQ(ReadFile(target), content);
    EXPECT_TRUE(HiddenFiles(Downloads()).empty());
}

TEST_F(QmgrTest, ALocalNameWrittenWithBackslashesLandsInItsFolder)
{
    const std::string content = RandomBytes(1000, 4);
    WriteFile(m_www / "file.bin", content);
    NginxServer nginx(m_www, {});
    // The program joins its paths the Windows way: folder, backslash, name.
    Ref<IBackgroundCopyJob> job = NewJob(nginx.Url("file.bin"), Downloads().string() + "\\file.bin");
    ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitForState(job.Get(), BG_JOB_STATE_TRANSFERRED));
    ASSERT_EQ(job->Complete(), S_OK);
    EXPECT_EQ(ReadFile(Downloads() / "file.bin"), content);
    EXPECT_FALSE(std::filesystem::exists(Downloads().string() + "\\file.bin"));
}

TEST_F(QmgrTest, AKilledTransferdIsStartedAgainByTheNextCallAndTheDownloadContinues)
{
    const std::string content = RandomBytes(6 << 20, 4);
    WriteFile(m_www / "large.bin", content);
    NginxServer nginx(m_www, {"1m"});
    Ref<IBackgroundCopyJob> job = NewJob(nginx.Url("large.bin"), Downloads() / "large.bin");
    GUID id{};
    ASSERT_EQ(job->GetId(&id), S_OK);
    ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitFor(job.Get(), [](IBackgroundCopyJob* j) { return Progress(j).BytesTransferred >= (1 << 20); }));
    pid_t killed = m_daemon.Pid();
    ASSERT_TRUE(m_daemon.Kill(SIGKILL));

    BG_JOB_PROGRESS after = Progress(job.Get()); // reconnects, starting transferd again
    EXPECT_GE(after.BytesTransferred, 1u << 20);
    EXPECT_NE(m_daemon.Pid(), killed);
    GUID same{};
    ASSERT_EQ(job->GetId(&same), S_OK);
    EXPECT_TRUE(same == id);
    ASSERT_TRUE(WaitForState(job.Get(), BG_JOB_STATE_TRANSFERRED, 30));
    ASSERT_EQ(job->Complete(), S_OK);
    EXPECT_TRUE(ReadFile(Downloads() / "large.bin") == content) << "the file differs from the source";

    std::vector<std::string> log = nginx.AccessLog();
    ASSERT_GE(log.size(), 2u);
    std::istringstream last(log.back());
    std::string method, uri, status, sent, range;
    std::getline(last, method, '\t');
    std::getline(last, uri, '\t');
    std::getline(last, status, '\t');
    std::getline(last, sent, '\t');
    std::getline(last, range, '\t');
    EXPECT_EQ(status, "206") << log.back();
    unsigned long long from = 0;
    ASSERT_EQ(std::sscanf(range.c_str(), "bytes=%llu-", &from), 1) << log.back();
    EXPECT_GE(from, 1u << 20);
}

TEST_F(QmgrTest, ARemoteFileReplacedBetweenRequestsIsFetchedAnewNeverSpliced)
{
    const std::string before = RandomBytes(2 << 20, 5);
    const std::string after = RandomBytes((2 << 20) + 1000, 6);
    WriteFile(m_www / "file.bin", before);
    NginxServer nginx(m_www, {"1m"});
    Ref<IBackgroundCopyJob> job = NewJob(nginx.Url("file.bin"), Downloads() / "file.bin");
    ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitFor(job.Get(), [](IBackgroundCopyJob* j) { return Progress(j).BytesTransferred >= 300000; }));
    ASSERT_EQ(job->Suspend(), S_OK);

    WriteFile(m_www / "file.bin.new", after);
    utimbuf later{time(nullptr) + 10, time(nullptr) + 10};
    utime((m_www / "file.bin.new").c_str(), &later);
    std::filesystem::rename(m_www / "file.bin.new", m_www / "file.bin");

    ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitForState(job.Get(), BG_JOB_STATE_TRANSFERRED, 30));
    ASSERT_EQ(job->Complete(), S_OK);
    std::string result = ReadFile(Downloads() / "file.bin");
    EXPECT_EQ(result.size(), after.size());
    EXPECT_TRUE(result == after) << "the result is not the new file";
    std::string last = nginx.AccessLog().back();
    EXPECT_NE(last.find("\t200\t"), std::string::npos) << last;
    EXPECT_NE(last.find("bytes="), std::string::npos) << "the second request did not try to resume: " << last;
}

TEST_F(QmgrTest, AJobIsFoundByItsGuidFromAnotherProcess)
{
    std::string output;
    ASSERT_EQ(RunCommand(TransferdDaemon::Controller() + " create Elsewhere http://127.0.0.1:9/x.bin " +
                      (Downloads() / "x.bin").string(),
                  &output),
              0)
        << output;
    std::string text = output.substr(0, output.find('\n'));
    GUID id{};
    ASSERT_EQ(IIDFromString(W(text).c_str(), &id), S_OK) << output;
    Ref<IBackgroundCopyJob> job;
    ASSERT_EQ(m_manager->GetJob(id, job.Out()), S_OK);
    LPWSTR name = nullptr;
    ASSERT_EQ(job->GetDisplayName(&name), S_OK);
    EXPECT_EQ(Narrow(name), "Elsewhere");
    CoTaskMemFree(name);

    Ref<IBackgroundCopyJob> mine = NewJob("Mine");
    GUID mineId{};
    ASSERT_EQ(mine->GetId(&mineId), S_OK);
    LPOLESTR mineText = nullptr;
    ASSERT_EQ(StringFromIID(mineId, &mineText), S_OK);
    ASSERT_EQ(RunCommand(TransferdDaemon::Controller() + " show '" + Narrow(mineText) + "'", &output), 0) << output;
    EXPECT_NE(output.find("Name: Mine"), std::string::npos) << output;
    CoTaskMemFree(mineText);
    EXPECT_EQ(job->Cancel(), S_OK);
    EXPECT_EQ(mine->Cancel(), S_OK);
}

TEST_F(QmgrTest, JobsSurviveAKilledTransferd)
{
    WriteFile(m_www / "small.bin", RandomBytes(10000, 7));
    NginxServer nginx(m_www);
    Ref<IBackgroundCopyJob> suspended = NewJob(nginx.Url("small.bin"), Downloads() / "a.bin");
    Ref<IBackgroundCopyJob> failed = NewJob(nginx.Url("missing.bin"), Downloads() / "b.bin");
    Ref<IBackgroundCopyJob> transient = NewJob("http://127.0.0.1:9/c.bin", Downloads() / "c.bin");
    Ref<IBackgroundCopyJob> transferred = NewJob(nginx.Url("small.bin"), Downloads() / "d.bin");
    for (IBackgroundCopyJob* job : {failed.Get(), transient.Get(), transferred.Get()})
        ASSERT_EQ(job->Resume(), S_OK);
    ASSERT_TRUE(WaitForState(failed.Get(), BG_JOB_STATE_ERROR));
    ASSERT_TRUE(WaitForState(transient.Get(), BG_JOB_STATE_TRANSIENT_ERROR));
    ASSERT_TRUE(WaitForState(transferred.Get(), BG_JOB_STATE_TRANSFERRED));

    ASSERT_TRUE(m_daemon.Kill(SIGKILL));
    EXPECT_EQ(State(suspended.Get()), BG_JOB_STATE_SUSPENDED);
    EXPECT_EQ(State(failed.Get()), BG_JOB_STATE_ERROR);
    EXPECT_EQ(State(transient.Get()), BG_JOB_STATE_TRANSIENT_ERROR);
    EXPECT_EQ(State(transferred.Get()), BG_JOB_STATE_TRANSFERRED);
    EXPECT_EQ(Progress(transferred.Get()).BytesTransferred, 10000u);
    ASSERT_EQ(transferred->Complete(), S_OK);
    EXPECT_EQ(std::filesystem::file_size(Downloads() / "d.bin"), 10000u);
}

// Takes the first step of D-Bus authentication on transferd's socket as `uid` (EXTERNAL, as every
// GDBus client does): 0 when transferd accepted the peer, 1 when it refused, 2 when the socket could
// not be reached. Runs in a child that uses only system calls, so it may change its user.
int AuthenticateAs(const std::string& socketPath, uid_t uid)
{
    std::string claimed;
    for (char digit : std::to_string(uid)) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(digit));
        claimed += hex;
    }
    const std::string request = std::string(1, '\0') + "AUTH EXTERNAL " + claimed + "\r\n";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    pid_t child = fork();
    if (child == 0) {
        if (uid != geteuid() && (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0))
            _exit(3);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            _exit(2);
        if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            _exit(2);
        char reply[256] = {};
        ssize_t got = read(fd, reply, sizeof reply - 1);
        _exit(got >= 3 && std::strncmp(reply, "OK ", 3) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(QmgrTest, AnotherUserCannotReachTransferd)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    constexpr uid_t kNobody = 65534;
    const std::filesystem::path runtime = std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "transferd";
    const std::string socketPath = (runtime / "socket").string();

    // The socket's folder is private: another user cannot enter it, and transferctl refuses it.
    std::string output;
    EXPECT_EQ(AuthenticateAs(socketPath, kNobody), 2);
    EXPECT_NE(RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups -- " + TransferdDaemon::Controller() + " list",
                         &output),
              0)
        << output;

    // Even with the folders opened up, transferd checks who is calling.
    for (const std::filesystem::path& folder : {m_home.Path(), runtime.parent_path(), runtime})
        chmod(folder.c_str(), 0755);
    chmod(socketPath.c_str(), 0777);
    EXPECT_EQ(AuthenticateAs(socketPath, kNobody), 1);
    EXPECT_NE(m_daemon.LogText().find("refused a connection from uid 65534"), std::string::npos);
    EXPECT_EQ(AuthenticateAs(socketPath, geteuid()), 0) << "the owner should be accepted the same way";
    for (const std::filesystem::path& folder : {m_home.Path(), runtime.parent_path(), runtime})
        chmod(folder.c_str(), 0700);
}

} // namespace
