// The settings key, its shared 512-byte buffer, the registry error and its message, and what the
// platform does with a registry error that the program leaves unhandled.
#include "stdafx.h"

#include <winshim_ext.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RegistryKey.h"
#include "TempHome.h"

extern "C" const unsigned char winshim_resources_begin[];
extern "C" const unsigned char winshim_resources_end[];

namespace {

// The program's string table, as the executable carries it.
const bool kResourcesLoaded = (WinshimSetExecutableResources(winshim_resources_begin,
                                                             static_cast<SIZE_T>(winshim_resources_end -
                                                                                 winshim_resources_begin)),
                               true);

const WCHAR kSettingsKey[] = u"Software\\Lorva\\Sorvane\\";

struct Value {
    DWORD type;
    std::vector<BYTE> bytes;
};

Value Text(const std::u16string& text, bool withNul = true)
{
    Value v{REG_SZ, std::vector<BYTE>(reinterpret_cast<const BYTE*>(text.data()),
                                      reinterpret_cast<const BYTE*>(text.data() + text.size()))};
    if (withNul)
        v.bytes.insert(v.bytes.end(), {0, 0});
    return v;
}

void WriteValue(LPCWSTR name, const Value& value)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, value.type, value.bytes.data(),
                                            static_cast<DWORD>(value.bytes.size())));
    RegCloseKey(key);
}

LSTATUS OpenPath(LPCWSTR path)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status;
}

CString ErrorMessage(LSTATUS code)
{
    CRegistryException e(code);
    WCHAR text[1024] = {};
    e.GetErrorMessage(text, 1024, nullptr);
    return text;
}

const LSTATUS kNoException = -1;

struct KeyCase {
    const char* message;
    bool keyExists;
    std::optional<Value> value;
    BOOL opened;
    BOOL found;
    std::u16string text;
    LSTATUS error;
};

// The rows run in this order in one process: the buffer that QueryString reads into is shared
// and never cleared, and the last row shows what that means.
TEST(RegistryKey, EdgeCasesOfOpeningAndReading)
{
    const std::u16string chars255(255, u'g'), chars256(256, u'x');
    const KeyCase cases[] = {
        {"no key: open for read fails and creates nothing", false, std::nullopt, FALSE, FALSE, u"<unset>",
         kNoException},
        {"value missing: false, empty text, no exception", true, std::nullopt, TRUE, FALSE, u"", kNoException},
        {"exactly 512 bytes ending in NUL are read", true, Text(chars255), TRUE, TRUE, chars255, kNoException},
        {"513 bytes raise ERROR_MORE_DATA, text unchanged", true,
         Value{REG_BINARY, std::vector<BYTE>(513, 'a')}, TRUE, FALSE, u"<unset>", ERROR_MORE_DATA},
        {"a binary value is read as text", true, Value{REG_BINARY, {'A', 0, 'B', 0, 0, 0}}, TRUE, TRUE, u"AB",
         kNoException},
        {"a number is read as text", true, Value{REG_DWORD, {0x41, 0x01, 0, 0}}, TRUE, TRUE, u"\u0141",
         kNoException},
        {"512 bytes without NUL: cut at the buffer's 256 code units", true, Text(chars256, false), TRUE, TRUE,
         chars256, kNoException},
        {"4 bytes without NUL: the rest of the last read follows (shared buffer)", true, Text(u"ab", false), TRUE,
         TRUE, u"ab" + chars256.substr(2), kNoException},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.message);
        sorvane_test::TempHome home;
        if (c.value)
            WriteValue(u"Lorvas Kaldo 2018 Novembris", *c.value);
        else if (c.keyExists)
            WriteValue(u"another value", Text(u"x"));

        CRegistryKey key;
        EXPECT_EQ(nullptr, key.m_hKey);
        EXPECT_EQ(c.opened, key.OpenForRead());
        EXPECT_EQ(c.opened, key.m_hKey != nullptr);
        CString text(u"<unset>");
        BOOL found = -1;
        LSTATUS error = kNoException;
        if (c.opened) {
            try {
                found = key.QueryString(u"Lorvas Kaldo 2018 Novembris", text);
            } catch (CRegistryException* e) {
                error = e->m_lError;
                found = FALSE;
                e->Delete();
            }
        } else {
            found = FALSE;
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenPath(u"Software")) << "not even a parent was created";
        }
        EXPECT_EQ(c.found, found);
        EXPECT_EQ(c.error, error);
        EXPECT_EQ(CString(c.text.c_str()), text);
    }
}

TEST(RegistryKey, OpenForWriteCreatesTheKeyWithItsParentsAndTheDestructorClosesIt)
{
    sorvane_test::TempHome home;
    HKEY handle = nullptr;
    {
        CRegistryKey key;
        ASSERT_TRUE(key.OpenForWrite());
        handle = key.m_hKey;
        ASSERT_NE(nullptr, handle);
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(handle, u"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"x"), 4))
            << "the handle is open for writing";
    }
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(handle)) << "the destructor closed it";
    EXPECT_EQ(ERROR_SUCCESS, OpenPath(u"Software\\Lorva"));
    EXPECT_EQ(ERROR_SUCCESS, OpenPath(u"Software\\Lorva\\Sorvane"));

    CRegistryKey reader;
    ASSERT_TRUE(reader.OpenForRead());
    CString text;
    EXPECT_TRUE(reader.QueryString(u"V", text));
    EXPECT_EQ(CString(u"x"), text);
}

TEST(RegistryKey, OpenForWriteFailsQuietlyOnAReadOnlyStore)
{
    sorvane_test::TempHome home;
    WriteValue(u"v", Text(u"kept"));
    std::filesystem::permissions(home.Path() / ".config/winshim/registry.sqlite", std::filesystem::perms::owner_read);
    CRegistryKey key;
    EXPECT_FALSE(key.OpenForWrite());
    EXPECT_EQ(nullptr, key.m_hKey);
}

TEST(RegistryException, IsThrownByPointerAndKnowsItsKind)
{
    try {
        ThrowRegistryException(ERROR_ACCESS_DENIED);
        FAIL() << "ThrowRegistryException returned";
    } catch (CException* e) {
        EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CRegistryException)));
        EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CException)));
        EXPECT_STREQ("CRegistryException", e->GetRuntimeClass()->m_lpszClassName);
        EXPECT_EQ(ERROR_ACCESS_DENIED, static_cast<CRegistryException*>(e)->m_lError);
        e->Delete();
    }
}

TEST(RegistryException, MessageNamesTheKeyAndTheSystemText)
{
    const CString location(u"HKEY_CURRENT_USER\\Software\\Lorva\\Sorvane");
    struct {
        const char* message;
        LSTATUS code;
        CString expected;
    } const cases[] = {
        {"value too large", ERROR_MORE_DATA,
         u"Neizdevās nolasīt vai saglabāt iestatījumus reģistrā (" + location +
             u"): More data is available than fits into the buffer.\r\n"},
        {"access denied", ERROR_ACCESS_DENIED,
         u"Neizdevās nolasīt vai saglabāt iestatījumus reģistrā (" + location + u"): Access was denied.\r\n"},
        {"no system text for the code: empty", 0x7777,
         u"Neizdevās nolasīt vai saglabāt iestatījumus reģistrā (" + location + u"): "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ErrorMessage(c.code)) << c.message;
}

TEST(RegistryException, GetErrorMessageCutsToTheBufferAndReturnsTrue)
{
    CRegistryException e(ERROR_MORE_DATA);
    WCHAR buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    UINT helpContext = 77;
    EXPECT_EQ(TRUE, e.GetErrorMessage(buffer, 10, &helpContext));
    EXPECT_EQ(0u, helpContext);
    EXPECT_EQ(std::u16string(ErrorMessage(ERROR_MORE_DATA)).substr(0, 9), std::u16string(buffer, 9));
    EXPECT_EQ(u'\0', buffer[9]);
    EXPECT_EQ(u'#', buffer[10]) << "nothing past nMaxError";
}

// An application whose start-up raises a registry error, as the job store may.
class CFailingApp : public CWinApp {
public:
    bool m_bExited = false;
    BOOL InitInstance() override { ThrowRegistryException(ERROR_CANTWRITE); }
    int ExitInstance() override
    {
        m_bExited = true;
        return CWinApp::ExitInstance();
    }
};

struct Box {
    std::u16string caption, text;
    UINT type;
};

int RecordBox(void* context, HWND, LPCWSTR text, LPCWSTR caption, UINT type)
{
    static_cast<std::vector<Box>*>(context)->push_back({caption ? caption : u"", text ? text : u"", type});
    return IDOK;
}

TEST(RegistryException, EscapedFromStartUpIsReportedUnderTheTitleAndTheProgramEnds)
{
    std::vector<Box> boxes;
    WinshimSetMessageBoxHandler(&RecordBox, &boxes);
    int result = 0;
    bool exited = false;
    {
        CFailingApp app;
        result = AfxWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<LPWSTR>(u""), SW_SHOWNORMAL);
        exited = app.m_bExited;
    }
    WinshimSetMessageBoxHandler(nullptr, nullptr);

    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(u"Sistēma „Lorvas Kaldo” – instalācijas lejupielāde", boxes[0].caption);
    EXPECT_EQ(std::u16string(ErrorMessage(ERROR_CANTWRITE)), boxes[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes[0].type);
    EXPECT_TRUE(exited) << "the platform's exit processing ran";
    EXPECT_NE(0, result) << "the run is reported as failed";
}

} // namespace
