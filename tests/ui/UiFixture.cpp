#include "UiFixture.h"

#include <fstream>
#include <iterator>

#include <sys/stat.h>

#include <winshim_sanitizers.h>

namespace ui_test {

const char16_t* const kTitle = u"Sistēma „Lorvas Kaldo” – instalācijas lejupielāde";
const char16_t* const kAskContinueLater = u"Produkta lejupielāde vēl nav pabeigta. Vai vēlaties to turpināt vēlāk?";
const char16_t* const kNoConnection =
    u"Nav iespējams pieslēgties interneta tīklam, lai lejupielādētu produkta instalāciju. Lūdzu pārliecinieties, "
    u"vai jums ir aktīva piekļuve internetam.";
const char16_t* const kDirFailed = u"Neizdevās atvērt/izveidot lokālo lejupielādes direktoriju! Lejupielāde ir atcelta.";
const char16_t* const kJobCreateFailed = u"Neizdevās izveidot lejupielādes uzdevumu! Lejupielāde ir atcelta.";
const char16_t* const kServiceError =
    u"Lejupielādes servisa kļūda. Lūdzu, mēģiniet veikt lejupielādi vēleiz, vai sazinieties ar Lorvas tehnisko "
    u"atbalstu, ja kļūda atkārtojas.";
const char16_t* const kExtractFailed = u"Failu izguve no arhīva netika pabeigta! Uzstādīšana atcelta.";
const char16_t* const kExtracting = u"Tiek veikta failu atarhivēšana...";
const char* const kArchiveName = "LorvasKaldo2018NovembrisWebArchive.exe";
const char* const kSetupPath = "Lorvas Kaldo 2018 Novembris Web/Setup.exe";

namespace {

// The application object of the tests: its title, from the program's string table, is the
// caption of every message box.
CWinApp g_testApp;

void PrepareProgramOnce()
{
    static bool prepared = [] {
        std::ifstream in(PROGRAM_RES, std::ios::binary);
        static const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        WinshimSetExecutableResources(bytes.data(), bytes.size());
        WCHAR commandLine[] = u"";
        AfxWinInit(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
        INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&init);
        return !bytes.empty();
    }();
    ASSERT_TRUE(prepared) << "cannot read " << PROGRAM_RES;
}

} // namespace

ManagerRegistration::ManagerRegistration(IUnknown* server) : m_server(server)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = CoRegisterClassObject(CLSID_BackgroundCopyManager, this, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                       &m_cookie);
    EXPECT_EQ(S_OK, hr);
    // The apartment is the dialog's own to enter and leave.
    CoUninitialize();
}

ManagerRegistration::~ManagerRegistration()
{
    CoRevokeClassObject(m_cookie);
}

STDMETHODIMP ManagerRegistration::QueryInterface(REFIID riid, void** ppv)
{
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP ManagerRegistration::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (outer)
        return CLASS_E_NOAGGREGATION;
    return m_server->QueryInterface(riid, ppv);
}

UiWorld::UiWorld(IUnknown* server) : m_registration(server ? server : static_cast<IUnknown*>(&manager))
{
    PrepareProgramOnce();
    setenv("LC_ALL", "C", 1); // sizes with a decimal point
    g_pDownloadDlg = nullptr;
    g_bHandlingJob = false;
    g_dwJobPollInterval = 60000; // one poll when the window shows, no more unless a test asks
    fs::create_directories(Downloads());
}

UiWorld::~UiWorld()
{
    g_dwJobPollInterval = 1000;
}

void UiWorld::WriteScript(const fs::path& path, const std::string& body)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
}

void UiWorld::WriteSetupProgram()
{
    WriteScript(SetupProgram(), "echo started > '" + (home.Path() / "setup-started").string() + "'");
}

bool UiWorld::WaitForSetupStart() const
{
    return PumpUntil([this] { return SetupStarted(); });
}

INT_PTR UiWorld::RunModal(CSorvaneDlg& dlg, std::function<void(CSorvaneDlg&)> whileShown)
{
    if (whileShown)
        WhenIdle([&dlg, whileShown] {
            // Runs only when the window was shown; a dialog that ended at once has no loop.
            if (dlg.GetSafeHwnd())
                whileShown(dlg);
        });
    g_testApp.m_pMainWnd = &dlg;
    INT_PTR result = dlg.DoModal();
    g_testApp.m_pMainWnd = nullptr;
    // An idle call for a loop that never ran goes now, harmlessly.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return result;
}

std::vector<std::string> UiWorld::CallsFrom(size_t mark) const
{
    const std::vector<std::string>& calls = manager.Calls();
    return std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(std::min(mark, calls.size())),
                                    calls.end());
}

} // namespace ui_test
