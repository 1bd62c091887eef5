// The job store against the real transferd, reached as the program reaches it: COM activation
// of the transfer manager, which starts transferd on demand.
#include "stdafx.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "JobStore.h"
#include "JobStoreSupport.h"
#include "RegistryKey.h"
#include "TempHome.h"
#include "TransferdDaemon.h"

namespace {

using namespace sorvane_test;

const WCHAR kJobName[] = u"Lorvas Kaldo 2018 Novembris";
const WCHAR kUrl[] = u"http://download.lorva.example/kaldo/LorvasKaldo2018NovembrisWebArchive.exe";

std::u16string Utf16(const std::string& text)
{
    return std::u16string(text.begin(), text.end()); // ASCII paths only
}

// Lines of `transferctl list` that name our job.
int ListedJobs()
{
    std::string listing = RunCommand(TransferdDaemon::Controller() + " list");
    int count = 0;
    for (size_t at = listing.find("Lorvas Kaldo 2018 Novembris"); at != std::string::npos;
         at = listing.find("Lorvas Kaldo 2018 Novembris", at + 1))
        ++count;
    return count;
}

GUID JobId(IBackgroundCopyJob* pJob)
{
    GUID id = {};
    EXPECT_EQ(S_OK, pJob->GetId(&id));
    return id;
}

class JobStoreWithTransferd : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_home.Downloads());
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_BackgroundCopyManager, NULL, CLSCTX_LOCAL_SERVER,
                                         IID_IBackgroundCopyManager, reinterpret_cast<void**>(&m_pManager)));
    }
    void TearDown() override
    {
        if (m_pManager)
            m_pManager->Release();
        CoUninitialize();
    }

    std::u16string LocalPath() const
    {
        return Utf16((m_home.Downloads() / "LorvasKaldo2018NovembrisWebArchive.exe").string());
    }
    IBackgroundCopyJob* Create() { return CreateDownloadJob(kJobName, kUrl, LocalPath().c_str(), m_pManager); }

    sorvane_test::TempHome m_home;
    sorvane_test::TransferdDaemon m_daemon;
    IBackgroundCopyManager* m_pManager = nullptr;
};

TEST_F(JobStoreWithTransferd, ACreatedJobIsStartedRememberedAndFoundAgain)
{
    IBackgroundCopyJob* pFirst = Create();
    ASSERT_NE(nullptr, pFirst);
    GUID firstId = JobId(pFirst);
    WCHAR firstText[39] = {};
    StringFromGUID2(firstId, firstText, 39);

    StoredValue value = ReadRememberedValue();
    EXPECT_EQ(std::u16string(firstText) + u'\0', value.Text());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
    EXPECT_EQ(78u, value.bytes.size());
    std::string shown = RunCommand(TransferdDaemon::Controller() + " show '" +
                            std::string(firstText, firstText + 38) + "'");
    EXPECT_NE(std::string::npos, shown.find("Minimum retry delay: 3600 s")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("SUSPENDED")) << "resumed: " << shown;

    IBackgroundCopyJob* pFound = FindPersistedJob(kJobName, m_pManager);
    ASSERT_NE(nullptr, pFound);
    EXPECT_TRUE(IsEqualGUID(firstId, JobId(pFound)));
    pFound->Release();

    IBackgroundCopyJob* pSecond = Create();
    ASSERT_NE(nullptr, pSecond);
    pFound = FindPersistedJob(kJobName, m_pManager);
    ASSERT_NE(nullptr, pFound);
    EXPECT_TRUE(IsEqualGUID(JobId(pSecond), JobId(pFound))) << "the second creation overwrote the value";
    EXPECT_EQ(2, ListedJobs()) << "the first job is still in the service";
    for (IBackgroundCopyJob* p : {pFirst, pSecond, pFound}) {
        p->Cancel();
        p->Release();
    }
}

TEST_F(JobStoreWithTransferd, ACompletedOrCancelledJobIsNotFound)
{
    for (bool complete : {true, false}) {
        IBackgroundCopyJob* pJob = Create();
        ASSERT_NE(nullptr, pJob);
        EXPECT_TRUE(SUCCEEDED(complete ? pJob->Complete() : pJob->Cancel())); // a partial completion too
        pJob->Release();
        EXPECT_EQ(nullptr, FindPersistedJob(kJobName, m_pManager)) << (complete ? "completed" : "cancelled");
    }
}

TEST_F(JobStoreWithTransferd, AMissingKeyFindsNoJobAndCreatesNone)
{
    EXPECT_EQ(nullptr, FindPersistedJob(kJobName, m_pManager));
    EXPECT_FALSE(ReadRememberedValue().keyExists);
}

TEST_F(JobStoreWithTransferd, AnUnwritableKeyStillReturnsTheRunningJob)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software", 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    RegCloseKey(key);
    std::filesystem::permissions(m_home.Path() / ".config/winshim/registry.sqlite",
                                 std::filesystem::perms::owner_read);

    IBackgroundCopyJob* pJob = Create();
    ASSERT_NE(nullptr, pJob);
    BG_JOB_STATE state = BG_JOB_STATE_SUSPENDED;
    EXPECT_EQ(S_OK, pJob->GetState(&state));
    EXPECT_NE(BG_JOB_STATE_SUSPENDED, state) << "started";
    EXPECT_EQ(nullptr, FindPersistedJob(kJobName, m_pManager)) << "a later run does not find it";
    pJob->Cancel();
    pJob->Release();
}

TEST_F(JobStoreWithTransferd, AFailingAddFileWritesNothingAndLeavesTheJobQueued)
{
    IBackgroundCopyJob* pJob = CreateDownloadJob(kJobName, kUrl, u"relative\\path.exe", m_pManager);
    EXPECT_EQ(nullptr, pJob);
    EXPECT_FALSE(ReadRememberedValue().keyExists);
    std::string listing = RunCommand(TransferdDaemon::Controller() + " list");
    EXPECT_EQ(1, ListedJobs()) << listing;
    EXPECT_NE(std::string::npos, listing.find("SUSPENDED")) << listing;
}

} // namespace
