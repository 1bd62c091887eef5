// The per-user registry stand-in: keys, values, Windows' buffer rules, and several processes.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempHome.h"

namespace {

// "p0-vAa", "p0-vAb", ...: one name per process and write.
std::u16string ValueName(int process, int i)
{
    return u"p" + std::u16string(1, static_cast<char16_t>(u'0' + process)) + u"-v" +
           static_cast<char16_t>(u'A' + i / 26) + static_cast<char16_t>(u'a' + i % 26);
}

HKEY const kUnset = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xBAD));

class RegistryStandIn : public ::testing::Test {
protected:
    sorvane_test::TempHome m_home;

    std::filesystem::path StoreFile() const { return m_home.Path() / ".config/winshim/registry.sqlite"; }

    static LSTATUS Create(LPCWSTR path, HKEY* key, DWORD* disposition = nullptr, REGSAM access = KEY_ALL_ACCESS)
    {
        return RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key,
                               disposition);
    }
    static LSTATUS Open(LPCWSTR path, REGSAM access = KEY_READ)
    {
        HKEY key = kUnset;
        LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &key);
        EXPECT_EQ(status == ERROR_SUCCESS, key != nullptr) << "a failed open leaves NULL";
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
        return status;
    }
    static LSTATUS SetText(HKEY key, LPCWSTR name, std::u16string text)
    {
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * 2));
    }
};

TEST_F(RegistryStandIn, CreateMakesParentsAndOpenFindsKeysWhateverTheirCase)
{
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(u"Software\\Lorva\\Sorvane"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(u"Software")) << "a failed open creates nothing";

    HKEY key = kUnset;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\Lorva\\Sorvane\\", &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key)) << "a handle closes once";

    const std::u16string overLong(256, u'k');
    struct {
        const char* message;
        LPCWSTR path;
        LSTATUS expected;
    } const cases[] = {
        {"parent made on the way", u"Software", ERROR_SUCCESS},
        {"parent made on the way", u"Software\\Lorva", ERROR_SUCCESS},
        {"other case", u"SOFTWARE\\lorva\\sorVANE", ERROR_SUCCESS},
        {"trailing backslash", u"software\\lorva\\sorvane\\", ERROR_SUCCESS},
        {"empty path opens the root", u"", ERROR_SUCCESS},
        {"a key that is not there", u"Software\\Lorva\\Other", ERROR_FILE_NOT_FOUND},
        {"leading backslash", u"\\Software", ERROR_BAD_PATHNAME},
        {"empty component", u"Software\\\\Lorva", ERROR_BAD_PATHNAME},
        {"over-long component", overLong.c_str(), ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Open(c.path)) << c.message;

    ASSERT_EQ(ERROR_SUCCESS, Create(u"software\\LORVA\\Sorvane", &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    HKEY child = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, u"Child\\Grandchild", 0, nullptr, 0, KEY_WRITE, nullptr, &child,
                                             nullptr));
    RegCloseKey(child);
    RegCloseKey(key);
    EXPECT_EQ(ERROR_SUCCESS, Open(u"Software\\Lorva\\Sorvane\\child\\grandchild")) << "relative to an open key";
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(reinterpret_cast<HKEY>(0x4444), u"x", 0, KEY_READ, &key));
}

TEST_F(RegistryStandIn, QueryFollowsWindowsBufferRules)
{
    HKEY key = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\Test", &key));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, u"Name", u"abc"));

    DWORD type = 99, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"NAME", nullptr, &type, nullptr, &size)) << "size only";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(8u, size);

    BYTE buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    size = 7;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, u"name", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(8u, size) << "the size needed";
    EXPECT_EQ(0xEE, buffer[0]) << "too small a buffer is left untouched";

    size = sizeof(buffer);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(std::u16string(u"abc"), std::u16string(reinterpret_cast<const char16_t*>(buffer)));
    EXPECT_EQ(0xEE, buffer[8]) << "nothing written past the value";

    size = sizeof(buffer);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"Missing", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key, u"Name", nullptr, nullptr, buffer, nullptr));
    DWORD reserved = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key, u"Name", &reserved, nullptr, nullptr, &size));

    // An overwrite replaces type and data; the default value has the empty name.
    const DWORD number = 0x01020304;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"nAmE", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, nullptr, u"default"));
    DWORD read = 0;
    size = sizeof(read);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Name", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(number, read);
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(16u, size);

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, u"NAME"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, u"Name"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &size));
    RegCloseKey(key);
}

TEST_F(RegistryStandIn, HandlesKeepTheirAccessAndSeeDeletedKeys)
{
    HKEY writer = kUnset, reader = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\Test\\Inner", &writer, nullptr, KEY_WRITE));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Test\\Inner", 0, KEY_READ, &reader));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(writer, u"x", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetText(reader, u"x", u"y"));
    EXPECT_EQ(ERROR_SUCCESS, SetText(writer, u"x", u"y"));

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Test")) << "it has a sub-key";
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, u"SOFTWARE\\test\\inner"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Test\\Inner"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(reader, u"x", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_KEY_DELETED, SetText(writer, u"x", u"y")) << "a write does not bring a deleted key back";
    RegCloseKey(writer);
    RegCloseKey(reader);

    HKEY again = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\Test\\Inner", &again));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(again, u"x", nullptr, nullptr, nullptr, &size))
        << "a key made anew has none of the old values";
    RegCloseKey(again);
}

TEST_F(RegistryStandIn, AStoreWithoutWritePermissionIsReadOnlyForEveryone)
{
    HKEY key = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\Test", &key));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, u"Kept", u"value"));
    RegCloseKey(key);
    ASSERT_EQ(0, chmod(StoreFile().c_str(), 0444));

    key = kUnset;
    EXPECT_EQ(ERROR_ACCESS_DENIED, Create(u"Software\\Test", &key, nullptr, KEY_WRITE)) << "even an existing key";
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, Create(u"Software\\New", &key, nullptr, KEY_WRITE));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Test", 0, KEY_READ, &key));
    WCHAR text[16] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"Kept", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size));
    EXPECT_EQ(std::u16string(u"value"), std::u16string(text));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(u"Software\\New"));
}

// Two processes create keys below one new parent and write values into one key at the same
// time; every write must land.
TEST_F(RegistryStandIn, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int kProcesses = 2, kValues = 150;
    int start[2];
    ASSERT_EQ(0, pipe(start));
    pid_t children[kProcesses];
    for (int p = 0; p < kProcesses; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            close(start[1]);
            char go;
            if (read(start[0], &go, 1) != 0) // end of file: the parent closed its end
                _exit(10);
            int failures = 0;
            for (int i = 0; i < kValues; ++i) {
                std::u16string own = u"Software\\Race\\Shared\\P" + std::u16string(1, static_cast<char16_t>(u'0' + p));
                std::u16string name = ValueName(p, i);
                HKEY shared = nullptr, mine = nullptr;
                failures += Create(u"Software\\Race\\Values", &shared) != ERROR_SUCCESS;
                failures += Create(own.c_str(), &mine) != ERROR_SUCCESS;
                failures += SetText(shared, name.c_str(), name) != ERROR_SUCCESS;
                failures += SetText(mine, u"last", name) != ERROR_SUCCESS;
                RegCloseKey(shared);
                RegCloseKey(mine);
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    close(start[0]);
    close(start[1]); // both children start at once
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed in a child, status " << status;
    }

    HKEY shared = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Race\\Values", 0, KEY_READ, &shared));
    int missing = 0;
    for (int p = 0; p < kProcesses; ++p)
        for (int i = 0; i < kValues; ++i) {
            std::u16string name = ValueName(p, i);
            WCHAR text[16] = {};
            DWORD size = sizeof(text);
            if (RegQueryValueExW(shared, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
                    ERROR_SUCCESS ||
                name != text)
                ++missing;
        }
    RegCloseKey(shared);
    EXPECT_EQ(0, missing);
    EXPECT_EQ(ERROR_SUCCESS, Open(u"Software\\Race\\Shared\\P0"));
    EXPECT_EQ(ERROR_SUCCESS, Open(u"Software\\Race\\Shared\\P1"));
}

} // namespace

namespace {

TEST(SystemMessages, FormatMessageGivesTheSystemTextsOfRegistryErrors)
{
    struct {
        const char* message;
        DWORD flags;
        DWORD code;
        DWORD language;
        DWORD size;
        std::u16string text;
        DWORD lastError;
    } const cases[] = {
        {"a registry code", FORMAT_MESSAGE_FROM_SYSTEM, ERROR_MORE_DATA, 0x400, 256,
         u"More data is available than fits into the buffer.\r\n", 0},
        {"English asked for", FORMAT_MESSAGE_FROM_SYSTEM, ERROR_CANTWRITE, 0x409, 256,
         u"The registry key could not be written.\r\n", 0},
        {"a Win32 code in an HRESULT", FORMAT_MESSAGE_FROM_SYSTEM, 0x80070005, 0, 256, u"Access was denied.\r\n", 0},
        {"without line breaks", FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, ERROR_ACCESS_DENIED, 0,
         256, u"Access was denied.", 0},
        {"exactly fits", FORMAT_MESSAGE_FROM_SYSTEM, ERROR_ACCESS_DENIED, 0, 21, u"Access was denied.\r\n", 0},
        {"one too small", FORMAT_MESSAGE_FROM_SYSTEM, ERROR_ACCESS_DENIED, 0, 20, u"<unset>",
         ERROR_INSUFFICIENT_BUFFER},
        {"no text for the code", FORMAT_MESSAGE_FROM_SYSTEM, 0x7777, 0, 256, u"<unset>", ERROR_MR_MID_NOT_FOUND},
        {"another language", FORMAT_MESSAGE_FROM_SYSTEM, ERROR_ACCESS_DENIED, 0x426, 256, u"<unset>",
         ERROR_RESOURCE_LANG_NOT_FOUND},
    };
    for (const auto& c : cases) {
        WCHAR buffer[256];
        std::u16string(u"<unset>").copy(buffer, 8);
        buffer[7] = 0;
        SetLastError(0);
        DWORD length = FormatMessageW(c.flags, nullptr, c.code, c.language, buffer, c.size, nullptr);
        EXPECT_EQ(c.text, std::u16string(buffer)) << c.message;
        EXPECT_EQ(c.lastError ? 0 : c.text.size(), length) << c.message;
        EXPECT_EQ(c.lastError, GetLastError()) << c.message;
    }
}

} // namespace
