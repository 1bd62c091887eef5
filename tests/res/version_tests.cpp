// The version block: its fixed part, its one string table and its translation.
#include "res_file.h"

#include <cstdio>

namespace res_test {
namespace {

// One node of the version block: length, value length, type (1 = text), key, value, children.
struct VersionNode {
    WORD length = 0;
    WORD type = 0;
    std::u16string key;
    std::vector<BYTE> value;
    std::u16string text; // for type 1: the value up to its terminating NUL
    std::vector<VersionNode> children;
};

VersionNode ReadNode(ByteReader& r)
{
    const size_t start = r.Pos();
    VersionNode node;
    node.length = r.Word();
    const WORD valueLength = r.Word();
    node.type = r.Word();
    node.key = r.Text();
    r.Align();
    const size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    node.value.assign(r.Here(), r.Here() + valueBytes);
    r.Seek(r.Pos() + valueBytes);
    if (node.type == 1) {
        for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(node.value[i] | (node.value[i + 1] << 8));
            if (c == 0)
                break;
            node.text.push_back(c);
        }
    }
    const size_t end = start + node.length;
    EXPECT_LE(end, r.Size()) << "node \"" << Utf8(node.key) << "\" runs past its parent";
    r.Align();
    while (r.Pos() < end) {
        node.children.push_back(ReadNode(r));
        r.Align();
    }
    EXPECT_EQ((end + 3) / 4 * 4, r.Pos()) << "children of \"" << Utf8(node.key) << "\" overrun its length";
    return node;
}

std::string VersionText(DWORD mostSignificant, DWORD leastSignificant)
{
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", mostSignificant >> 16, mostSignificant & 0xFFFF,
                  leastSignificant >> 16, leastSignificant & 0xFFFF);
    return text;
}

class Version : public BuiltResources {
protected:
    void SetUp() override
    {
        const std::vector<BYTE> bytes = Load(RT_VERSION, 1);
        ByteReader r(bytes);
        m_root = ReadNode(r);
        m_size = bytes.size();
    }

    DWORD Fixed(size_t index) const
    {
        ByteReader r(m_root.value);
        r.Seek(index * 4);
        return r.Dword();
    }

    const VersionNode* StringTable() const
    {
        if (m_root.children.empty() || m_root.children[0].children.size() != 1)
            return nullptr;
        return &m_root.children[0].children[0];
    }

    VersionNode m_root;
    size_t m_size = 0;
};

TEST_F(Version, FixedPartDeclaresApplicationVersion1002)
{
    EXPECT_EQ(m_size, m_root.length) << "the block's length is the resource's size";
    EXPECT_EQ("VS_VERSION_INFO", Utf8(m_root.key));
    EXPECT_EQ(0, m_root.type);
    ASSERT_EQ(52u, m_root.value.size()) << "VS_FIXEDFILEINFO";
    struct Field {
        const char* name;
        DWORD expected;
    };
    const Field fields[] = {
        {"signature", 0xFEEF04BD},      {"structure version", 0x00010000},
        {"file version MS", 0x00010000}, {"file version LS", 0x00000002},
        {"product version MS", 0x00010000}, {"product version LS", 0x00000002},
        {"file flags mask", 0x3F},      {"file flags", 0},
        {"file OS: VOS__WINDOWS32", 4}, {"file type: VFT_APP", 1},
        {"file subtype", 0},            {"file date MS", 0},
        {"file date LS", 0},
    };
    for (size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(fields[i].expected, Fixed(i)) << fields[i].name;
}

TEST_F(Version, OneEnglishStringTableWithTheValuesInOrder)
{
    ASSERT_EQ(2u, m_root.children.size());
    EXPECT_EQ("StringFileInfo", Utf8(m_root.children[0].key));
    EXPECT_EQ("VarFileInfo", Utf8(m_root.children[1].key));
    const VersionNode* table = StringTable();
    ASSERT_NE(nullptr, table) << "exactly one string table";
    EXPECT_EQ("040904e4", Utf8(table->key)) << "English (United States), code page 1252";

    const std::pair<const char*, const char*> expected[] = {
        {"CompanyName", "SIA Lorva"},
        {"FileDescription", "Sorvane"},
        {"FileVersion", "1.0.0.2"},
        {"InternalName", "Sorvane.exe"},
        {"LegalCopyright", nullptr}, // our own text, any
        {"OriginalFilename", "Sorvane.exe"},
        {"ProductName", "Lorvas Kaldo"},
        {"ProductVersion", "1.0.0.2"},
    };
    ASSERT_EQ(std::size(expected), table->children.size());
    for (size_t i = 0; i < std::size(expected); ++i) {
        const VersionNode& value = table->children[i];
        EXPECT_EQ(expected[i].first, Utf8(value.key)) << "value " << i + 1;
        EXPECT_EQ(1, value.type) << expected[i].first << " is a text";
        if (expected[i].second)
            EXPECT_EQ(expected[i].second, Utf8(value.text)) << expected[i].first;
        else
            EXPECT_FALSE(value.text.empty()) << expected[i].first;
        EXPECT_TRUE(value.children.empty());
    }
}

// What a reader of the block sees: the same version in the fixed part and in the strings.
TEST_F(Version, FixedPartAndStringsAgree)
{
    const VersionNode* table = StringTable();
    ASSERT_NE(nullptr, table);
    ASSERT_EQ(52u, m_root.value.size());
    auto text = [table](const char* key) {
        for (const VersionNode& value : table->children)
            if (Utf8(value.key) == key)
                return Utf8(value.text);
        return std::string("<absent>");
    };
    EXPECT_EQ(VersionText(Fixed(2), Fixed(3)), text("FileVersion"));
    EXPECT_EQ(VersionText(Fixed(4), Fixed(5)), text("ProductVersion"));
    EXPECT_EQ("1.0.0.2", VersionText(Fixed(2), Fixed(3)));
}

TEST_F(Version, TranslationIsEnglishUsWithCodePage1252)
{
    ASSERT_EQ(2u, m_root.children.size());
    const VersionNode& var = m_root.children[1];
    ASSERT_EQ(1u, var.children.size());
    const VersionNode& translation = var.children[0];
    EXPECT_EQ("Translation", Utf8(translation.key));
    EXPECT_EQ(0, translation.type) << "binary value";
    ASSERT_EQ(4u, translation.value.size()) << "one language and code page pair";
    ByteReader r(translation.value);
    EXPECT_EQ(0x0409, r.Word()) << "language";
    EXPECT_EQ(0x04E4, r.Word()) << "code page";
}

} // namespace
} // namespace res_test
