// The string table, loaded from the built resources the way the program loads it: by ID,
// through LoadStringW and the afx text operations.
#include "res_file.h"

#include <afxwin.h>
#include <resource.h>
#include <winshim_ext.h>

#include <set>

namespace res_test {
namespace {

struct StringCase {
    UINT id;
    std::u16string_view text;
};

const StringCase kStrings[] = {
    {IDS_ASK_CONTINUE_LATER, u"Produkta lejupielāde vēl nav pabeigta. Vai vēlaties to turpināt vēlāk?"},
    {IDS_DOWNLOAD_URL, u"http://download.lorva.example/kaldo/LorvasKaldo2018NovembrisWebArchive.exe"},
    {IDS_NO_CONNECTION, u"Nav iespējams pieslēgties interneta tīklam, lai lejupielādētu produkta instalāciju. "
                        u"Lūdzu pārliecinieties, vai jums ir aktīva piekļuve internetam."},
    {IDS_DOWNLOADED_OF, u"Lejupielādēti: %s no %s"},
    {IDS_DIR_FAILED, u"Neizdevās atvērt/izveidot lokālo lejupielādes direktoriju! Lejupielāde ir atcelta."},
    {IDS_ARCHIVE_NAME, u"LorvasKaldo2018NovembrisWebArchive.exe"},
    {IDS_PRODUCT_NAME, u"Lorvas Kaldo 2018 Novembris"},
    {IDS_JOB_CREATE_FAILED, u"Neizdevās izveidot lejupielādes uzdevumu! Lejupielāde ir atcelta."},
    {IDS_SERVICE_ERROR, u"Lejupielādes servisa kļūda. Lūdzu, mēģiniet veikt lejupielādi vēleiz, vai sazinieties ar "
                        u"Lorvas tehnisko atbalstu, ja kļūda atkārtojas."},
    {IDS_SETUP_PATH, u"Lorvas Kaldo 2018 Novembris Web\\Setup.exe"},
    {IDS_EXTRACT_FAILED, u"Failu izguve no arhīva netika pabeigta! Uzstādīšana atcelta."},
    {IDS_EXTRACTING, u"Tiek veikta failu atarhivēšana..."},
    // The quotation marks and the dash written as code points, so the source's own encoding
    // cannot hide a fault on the way from the script.
    {AFX_IDS_APP_TITLE, u"Sistēma \u201ELorvas Kaldo\u201D \u2013 instalācijas lejupielāde"},
    {IDS_REGISTRY_ERROR_FORMAT, u"Neizdevās nolasīt vai saglabāt iestatījumus reģistrā (%1): %2"},
    {IDS_REGISTRY_LOCATION, u"HKEY_CURRENT_USER\\Software\\Lorva\\Sorvane"},
};

std::string Expected(UINT id)
{
    for (const StringCase& c : kStrings)
        if (c.id == id)
            return Utf8(c.text);
    return "<not in the table>";
}

// Makes another compiled resource file the afx resource module for one test.
class ResourceModuleScope {
public:
    explicit ResourceModuleScope(const char* path) : m_module(WinshimLoadResourceFile(path)), m_saved(AfxGetResourceHandle())
    {
        AfxSetResourceHandle(m_module);
    }
    ~ResourceModuleScope()
    {
        AfxSetResourceHandle(m_saved);
        WinshimFreeResourceFile(m_module);
    }
    HMODULE Module() const { return m_module; }

private:
    HMODULE m_module;
    HINSTANCE m_saved;
};

struct ShownBox {
    std::string text = "<none>";
    std::string caption = "<none>";
    UINT type = 0xFFFF;
};

int RecordBox(void* context, HWND, LPCWSTR text, LPCWSTR caption, UINT type)
{
    auto* shown = static_cast<ShownBox*>(context);
    shown->text = Utf8(text ? text : u"<null>");
    shown->caption = Utf8(caption ? caption : u"<null>");
    shown->type = type;
    return IDOK;
}

class Strings : public BuiltResources {};

TEST_F(Strings, EveryStringLoadsExactly)
{
    for (const StringCase& c : kStrings) {
        SCOPED_TRACE("string " + std::to_string(c.id));
        CString loaded(u"<unset>");
        EXPECT_TRUE(loaded.LoadString(c.id));
        EXPECT_EQ(Utf8(c.text), Utf8(loaded.Str()));

        WCHAR buffer[512] = u"<unset>";
        EXPECT_EQ(static_cast<int>(c.text.size()), LoadStringW(Module(), c.id, buffer, std::size(buffer)));
        EXPECT_EQ(Utf8(c.text), Utf8(buffer));
    }
}

TEST_F(Strings, TitleKeepsItsQuotationMarksAndDash)
{
    CString title(u"<unset>");
    ASSERT_TRUE(title.LoadString(AFX_IDS_APP_TITLE));
    const std::u16string& t = title.Str();
    EXPECT_EQ(8u, t.find(u'\u201E')) << "low quotation mark before Lorvas";
    EXPECT_EQ(21u, t.find(u'\u201D')) << "high quotation mark after Kaldo";
    EXPECT_EQ(23u, t.find(u'\u2013')) << "en dash";
    EXPECT_EQ(u" \u2013 ", t.substr(22, 3)) << "one space on either side of the dash";
}

// The program's string blocks hold the table and nothing else: every other ID in them is absent.
TEST_F(Strings, NoOtherStringsInTheProgramsBlocks)
{
    std::set<UINT> listed;
    for (const StringCase& c : kStrings)
        listed.insert(c.id);
    for (UINT block : {128u, 24624u, 57344u}) {
        for (UINT id = block; id < block + 16; ++id) {
            if (listed.count(id))
                continue;
            CString text(u"<kept>");
            EXPECT_FALSE(text.LoadString(id)) << "string " << id;
        }
    }
}

// An absent string, in a block that exists or in one that does not, and an empty string all
// leave the target as it was and report failure.
TEST_F(Strings, AbsentOrEmptyStringLeavesTargetUnchanged)
{
    struct Case {
        const char* message;
        const char* resources;
        UINT id;
    };
    const Case cases[] = {
        {"absent from the program's block", SORVANE_RES_PATH, 141},
        {"in a block that does not exist", SORVANE_RES_PATH, 5000},
        {"present and empty", SORVANE_EMPTY_SETUP_PATH_RES, IDS_SETUP_PATH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ResourceModuleScope scope(c.resources);
        ASSERT_NE(nullptr, scope.Module());
        CString text(u"<kept>");
        EXPECT_FALSE(text.LoadString(c.id));
        EXPECT_EQ("<kept>", Utf8(text.Str()));
        CString fresh;
        EXPECT_FALSE(fresh.LoadString(c.id));
        EXPECT_TRUE(fresh.IsEmpty());
        WCHAR buffer[16] = u"<unset>";
        EXPECT_EQ(0, LoadStringW(scope.Module(), c.id, buffer, std::size(buffer)));
    }
}

TEST_F(Strings, FormatByIdFillsTheStatusLineAndRaisesWhenAbsent)
{
    CString status(u"<unset>");
    status.Format(IDS_DOWNLOADED_OF, u"1,30 MB", u"2,28 GB");
    EXPECT_EQ("Lejupielādēti: 1,30 MB no 2,28 GB", Utf8(status.Str()));

    CString kept(u"<kept>");
    bool raised = false;
    try {
        kept.Format(141, u"1", u"2");
    } catch (CInvalidArgException* e) {
        raised = true;
        e->Delete();
    }
    EXPECT_TRUE(raised) << "an absent format string raises CInvalidArgException";
    EXPECT_EQ("<kept>", Utf8(kept.Str()));
}

TEST_F(Strings, FormatMessageInsertsLocationAndSystemText)
{
    CString location(u"<unset>");
    ASSERT_TRUE(location.LoadString(IDS_REGISTRY_LOCATION));
    CString message(u"<unset>");
    message.FormatMessage(IDS_REGISTRY_ERROR_FORMAT, location.GetString(), u"Piekļuve liegta.");
    EXPECT_EQ("Neizdevās nolasīt vai saglabāt iestatījumus reģistrā "
              "(HKEY_CURRENT_USER\\Software\\Lorva\\Sorvane): Piekļuve liegta.",
              Utf8(message.Str()));
}

// A message box by ID carries the application title from the string table as its caption; an
// absent message shows an empty text.
TEST_F(Strings, MessageBoxByIdShowsTheTitleAsCaption)
{
    CWinApp app;
    ASSERT_TRUE(AfxWinInit(Module(), nullptr, nullptr, SW_SHOWNORMAL));
    ShownBox shown;
    WinshimSetMessageBoxHandler(RecordBox, &shown);

    EXPECT_EQ(IDOK, AfxMessageBox(IDS_DIR_FAILED, MB_OK | MB_ICONERROR));
    EXPECT_EQ(Expected(IDS_DIR_FAILED), shown.text);
    EXPECT_EQ("Sistēma \u201ELorvas Kaldo\u201D \u2013 instalācijas lejupielāde", shown.caption);
    EXPECT_EQ(0x10u, shown.type);

    AfxMessageBox(141, MB_OK);
    EXPECT_EQ("", shown.text);
    EXPECT_EQ("Sistēma \u201ELorvas Kaldo\u201D \u2013 instalācijas lejupielāde", shown.caption);
    WinshimSetMessageBoxHandler(nullptr, nullptr);
}

} // namespace
} // namespace res_test
