// The job store against a fake transfer manager: what is written where, in which order, and
// which references are released.
#include "stdafx.h"

#include <winshim_ext.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeBits.h"
#include "JobStore.h"
#include "RegistryKey.h"
#include "JobStoreSupport.h"
#include "TempHome.h"

extern "C" const unsigned char winshim_resources_begin[];
extern "C" const unsigned char winshim_resources_end[];

namespace {

using sorvane_test::FakeBitsManager;
using sorvane_test::ReadRememberedValue;
using sorvane_test::StoredValue;
using ::testing::ElementsAre;

const bool kResourcesLoaded = (WinshimSetExecutableResources(winshim_resources_begin,
                                                             static_cast<SIZE_T>(winshim_resources_end -
                                                                                 winshim_resources_begin)),
                               true);

const WCHAR kSettingsKey[] = u"Software\\Lorva\\Sorvane\\";
const WCHAR kJobName[] = u"Lorvas Kaldo 2018 Novembris";
const WCHAR kUrl[] = u"http://downloads.lorva.test/kaldo/LorvasKaldo2018NovembrisWebArchive.exe";
const WCHAR kLocalPath[] = u"/home/user/Downloads/LorvasKaldo2018NovembrisWebArchive.exe";

void WriteValue(DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, kJobName, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void WriteText(const std::u16string& text)
{
    WriteValue(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}

std::u16string GuidText(const GUID& id)
{
    WCHAR text[39] = {};
    StringFromGUID2(id, text, 39);
    return text;
}

class JobStoreTest : public ::testing::Test {
protected:
    sorvane_test::TempHome m_home;
    FakeBitsManager m_manager;

    void TearDown() override { EXPECT_TRUE(m_manager.AllReleased()) << "a reference was kept or released twice"; }

    std::filesystem::path StoreFile() const { return m_home.Path() / ".config/winshim/registry.sqlite"; }
};

TEST_F(JobStoreTest, CreationStartsTheJobAndRemembersItsGuidIn78BytesOfText)
{
    IBackgroundCopyJob* pJob = CreateDownloadJob(kJobName, kUrl, kLocalPath, &m_manager);
    ASSERT_NE(nullptr, pJob);
    auto& job = m_manager.Job(0);
    EXPECT_EQ(static_cast<IBackgroundCopyJob*>(&job), pJob);
    EXPECT_EQ(1, job.Refs()) << "one reference, the caller's";
    std::string guid = FakeBitsManager::GuidText(job.m_id);
    EXPECT_THAT(m_manager.Calls(),
                ElementsAre("manager.CreateJob(Lorvas Kaldo 2018 Novembris, 0)",
                            "job1.AddFile(http://downloads.lorva.test/kaldo/LorvasKaldo2018NovembrisWebArchive.exe, "
                            "/home/user/Downloads/LorvasKaldo2018NovembrisWebArchive.exe)",
                            "job1.Resume()", "job1.SetMinimumRetryDelay(3600)"));

    StoredValue value = ReadRememberedValue();
    ASSERT_EQ(ERROR_SUCCESS, value.status);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
    ASSERT_EQ(78u, value.bytes.size());
    EXPECT_EQ(GuidText(job.m_id) + u'\0', value.Text());
    EXPECT_EQ(u"{A1B2C3D1-E4F5-ABCD-EF01-FACEB00CDE01}", GuidText(job.m_id)) << "upper-case hexadecimal";
    pJob->Release();

    m_manager.ClearCalls();
    IBackgroundCopyJob* pFound = FindPersistedJob(kJobName, &m_manager);
    EXPECT_EQ(pJob, pFound);
    EXPECT_THAT(m_manager.Calls(), ElementsAre("manager.GetJob(" + guid + ")"));
    if (pFound)
        pFound->Release();
}

TEST_F(JobStoreTest, ASecondCreationOverwritesTheValue)
{
    IBackgroundCopyJob* pFirst = CreateDownloadJob(kJobName, kUrl, kLocalPath, &m_manager);
    IBackgroundCopyJob* pSecond = CreateDownloadJob(kJobName, kUrl, kLocalPath, &m_manager);
    ASSERT_NE(nullptr, pFirst);
    ASSERT_NE(nullptr, pSecond);
    EXPECT_EQ(GuidText(m_manager.Job(1).m_id) + u'\0', ReadRememberedValue().Text());
    IBackgroundCopyJob* pFound = FindPersistedJob(kJobName, &m_manager);
    EXPECT_EQ(pSecond, pFound) << "the first job, still in the service, is no longer found";
    for (IBackgroundCopyJob* p : {pFirst, pSecond, pFound})
        if (p)
            p->Release();
}

TEST_F(JobStoreTest, ValuesThatNameNoLiveJobFindNone)
{
    const GUID done = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
    const GUID cancelled = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
    const GUID unknown = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x03}};
    m_manager.AddJob(done, kJobName, BG_JOB_STATE_ACKNOWLEDGED);
    m_manager.AddJob(cancelled, kJobName, BG_JOB_STATE_CANCELLED);
    const DWORD number = 7;
    struct {
        const char* message;
        std::u16string text;
        bool asNumber;
        bool asksService;
    } const cases[] = {
        {"empty", u"", false, false},
        {"not a GUID", u"Lorvas Kaldo", false, false},
        {"a GUID without braces", GuidText(done).substr(1, 36), false, false},
        {"a number", u"", true, false},
        {"completed job", GuidText(done), false, true},
        {"cancelled job", GuidText(cancelled), false, true},
        {"job the service never had", GuidText(unknown), false, true},
    };
    for (const auto& c : cases) {
        if (c.asNumber)
            WriteValue(REG_DWORD, &number, sizeof(number));
        else
            WriteText(c.text);
        m_manager.ClearCalls();
        EXPECT_EQ(nullptr, FindPersistedJob(kJobName, &m_manager)) << c.message;
        EXPECT_EQ(c.asksService ? 1u : 0u, m_manager.Calls().size()) << c.message;
    }
}

TEST_F(JobStoreTest, AMissingKeyFindsNoJobAndCreatesNone)
{
    EXPECT_EQ(nullptr, FindPersistedJob(kJobName, &m_manager));
    EXPECT_TRUE(m_manager.Calls().empty());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &key));
}

TEST_F(JobStoreTest, WithoutAManagerNothingIsCalledOrWritten)
{
    EXPECT_EQ(nullptr, CreateDownloadJob(kJobName, kUrl, kLocalPath, static_cast<IBackgroundCopyManager*>(nullptr)));
    EXPECT_EQ(nullptr, FindPersistedJob(kJobName, static_cast<IBackgroundCopyManager*>(nullptr)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRememberedValue().status);
}

TEST_F(JobStoreTest, AnUnwritableKeyStillReturnsTheJobWhichALaterLookupDoesNotFind)
{
    WriteText(u"not a job");
    std::filesystem::permissions(StoreFile(), std::filesystem::perms::owner_read);
    IBackgroundCopyJob* pJob = CreateDownloadJob(kJobName, kUrl, kLocalPath, &m_manager);
    ASSERT_NE(nullptr, pJob);
    EXPECT_EQ(BG_JOB_STATE_QUEUED, m_manager.Job(0).m_state) << "started all the same";
    EXPECT_EQ(nullptr, FindPersistedJob(kJobName, &m_manager));
    EXPECT_EQ(u"not a job" + std::u16string(1, u'\0'), ReadRememberedValue().Text());
    pJob->Release();
}

// Each call of the record without its arguments: "job1.AddFile".
std::vector<std::string> Methods(const std::vector<std::string>& calls)
{
    std::vector<std::string> methods;
    for (const std::string& call : calls)
        methods.push_back(call.substr(0, call.find('(')));
    return methods;
}

TEST_F(JobStoreTest, AFailingStepWritesNothingAndReleasesTheJobWhichStaysInTheService)
{
    struct {
        const char* method;
        HRESULT hr;
        std::vector<std::string> calls;
    } const cases[] = {
        {"AddFile", E_INVALIDARG, {"manager.CreateJob", "job1.AddFile"}},
        {"Resume", BG_E_EMPTY, {"manager.CreateJob", "job1.AddFile", "job1.Resume"}},
        {"SetMinimumRetryDelay", E_FAIL,
         {"manager.CreateJob", "job1.AddFile", "job1.Resume", "job1.SetMinimumRetryDelay"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        FakeBitsManager manager;
        manager.SetJobResults(c.method, {c.hr});
        EXPECT_EQ(nullptr, CreateDownloadJob(kJobName, kUrl, kLocalPath, &manager));
        EXPECT_EQ(c.calls, Methods(manager.Calls())) << "the steps after the failing one are skipped";
        ASSERT_EQ(1u, manager.Jobs().size());
        EXPECT_TRUE(manager.Job(0).Alive()) << "not cancelled";
        EXPECT_TRUE(manager.AllReleased());
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRememberedValue().status) << "nothing written";
    }
}

TEST_F(JobStoreTest, AFailingCreateJobWritesNothing)
{
    m_manager.SetResult("CreateJob", BG_E_TOO_MANY_JOBS_PER_USER);
    EXPECT_EQ(nullptr, CreateDownloadJob(kJobName, kUrl, kLocalPath, &m_manager));
    EXPECT_TRUE(m_manager.Jobs().empty());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRememberedValue().status);
}

TEST_F(JobStoreTest, AFailingWriteRaisesTheRegistryErrorWithTheJobReleased)
{
    setenv("WINSHIM_REGISTRY_BUSY_TIMEOUT_MS", "50", 1); // read when the test's store is first opened
    WriteText(u"old");
    LSTATUS error = ERROR_SUCCESS;
    {
        sorvane_test::StoreWriteLock lock(StoreFile());
        ASSERT_TRUE(lock.Locked());
        try {
            IBackgroundCopyJob* pJob = CreateDownloadJob(kJobName, kUrl, kLocalPath, &m_manager);
            ADD_FAILURE() << "no exception";
            if (pJob)
                pJob->Release();
        } catch (CRegistryException* e) {
            error = e->m_lError;
            e->Delete();
        }
    }
    unsetenv("WINSHIM_REGISTRY_BUSY_TIMEOUT_MS");

    EXPECT_EQ(ERROR_CANTWRITE, error);
    ASSERT_EQ(1u, m_manager.Jobs().size());
    EXPECT_TRUE(m_manager.Job(0).Released()) << "the job reference was released on the way out";
    EXPECT_TRUE(m_manager.Job(0).Alive()) << "the started job stays in the service";
    EXPECT_EQ(u"old" + std::u16string(1, u'\0'), ReadRememberedValue().Text()) << "nothing half-written";
}

} // namespace
