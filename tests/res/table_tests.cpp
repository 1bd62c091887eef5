// The list of the program's resources: types, IDs and languages, and winshim serving each.
#include "res_file.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace res_test {
namespace {

constexpr WORD kLatvian = 0x0426;
constexpr WORD kEnglishUs = 0x0409;

std::string Describe(WORD type, WORD name, WORD language)
{
    std::ostringstream s;
    s << "type " << type << ", ID " << name << ", language " << language;
    return s.str();
}

class Table : public BuiltResources {};

TEST_F(Table, HoldsExactlyTheProgramsResourcesInTheirLanguages)
{
    std::set<std::string> expected = {
        Describe(14, 128, kLatvian),    // the icon group IDI_APP_ICON
        Describe(5, 102, kLatvian),     // IDD_MAIN_DIALOG
        Describe(6, 9, kLatvian),       // strings 128 to 143
        Describe(6, 1540, kLatvian),    // strings 24624 to 24639: the registry error's texts
        Describe(6, 3585, kLatvian),    // strings 57344 to 57359: AFX_IDS_APP_TITLE
        Describe(16, 1, kLatvian),      // the version block
        Describe(24, 1, kEnglishUs),    // the manifest
    };
    for (WORD image = 1; image <= 9; ++image)
        expected.insert(Describe(3, image, kLatvian));

    std::set<std::string> actual;
    for (const RawResource& r : ReadResFile(SORVANE_RES_PATH)) {
        EXPECT_TRUE(r.type.text.empty() && r.name.text.empty())
            << "resources are filed by number only, not as \"" << Utf8(r.type.text) << "\"/\"" << Utf8(r.name.text) << "\"";
        EXPECT_TRUE(actual.insert(Describe(r.type.ordinal, r.name.ordinal, r.language)).second)
            << "filed twice: " << Describe(r.type.ordinal, r.name.ordinal, r.language);
    }
    EXPECT_EQ(expected, actual);
}

// winshim's reader and ours agree on every entry, and a lookup that names another language
// finds nothing.
TEST_F(Table, WinshimServesEveryEntryInItsLanguageOnly)
{
    for (const RawResource& r : ReadResFile(SORVANE_RES_PATH)) {
        SCOPED_TRACE(Describe(r.type.ordinal, r.name.ordinal, r.language));
        LPCWSTR type = MAKEINTRESOURCEW(r.type.ordinal);
        LPCWSTR name = MAKEINTRESOURCEW(r.name.ordinal);
        HRSRC info = FindResourceExW(Module(), type, name, r.language);
        ASSERT_NE(nullptr, info);
        ASSERT_EQ(r.data.size(), SizeofResource(Module(), info));
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(Module(), info)));
        EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), data));
        EXPECT_EQ(info, FindResourceW(Module(), name, type)) << "a lookup without a language finds it too";
        const WORD other = r.language == kLatvian ? kEnglishUs : kLatvian;
        EXPECT_EQ(nullptr, FindResourceExW(Module(), type, name, other));
    }
}

} // namespace
} // namespace res_test
