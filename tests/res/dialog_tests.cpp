// The main dialog's template as the dialog manager reads it: an extended template with its
// header, font and five controls.
#include "res_file.h"

#include <resource.h>

#include <cctype>

namespace res_test {
namespace {

// Window classes compare without regard to case (the resource compiler upper-cases them).
std::string Folded(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Describe(const ResId& id)
{
    return id.text.empty() ? "#" + std::to_string(id.ordinal) : Folded(Utf8(id.text));
}

constexpr const char* kTitle = "Sistēma \u201ELorvas Kaldo\u201D \u2013 instalācijas lejupielāde";

struct Control {
    DWORD id;
    const char* windowClass; // "#128" for an atom
    const char* text;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
};

const Control kControls[] = {
    {IDCANCEL, "#128", "Atcelt", 0x50010000, 0, 259, 59, 50, 14},
    {static_cast<DWORD>(IDC_STATIC), "#130", "", 0x50020000, 0, 0, 0, 317, 55},
    {IDC_PROGRESS, "msctls_progress32", "", 0x50800000, 0, 8, 37, 300, 14},
    {IDC_STATUS, "#130", "", 0x50020000, 0, 8, 58, 209, 8},
    {static_cast<DWORD>(IDC_STATIC), "#130",
     "Lejupielāde var aizņemt  10 minūtes un ilgāk, atkarībā no interneta pieslēguma veida. Lūdzu, uzgaidiet.",
     0x50020000, 0x00000020, 8, 6, 300, 28},
};

class DialogTemplate : public BuiltResources {
protected:
    void SetUp() override { m_bytes = Load(RT_DIALOG, IDD_MAIN_DIALOG); }
    std::vector<BYTE> m_bytes;
};

TEST_F(DialogTemplate, HeaderAndFont)
{
    ByteReader r(m_bytes);
    EXPECT_EQ(1, r.Word()) << "dialog version";
    EXPECT_EQ(0xFFFF, r.Word()) << "signature of the extended template";
    EXPECT_EQ(0u, r.Dword()) << "help ID";
    EXPECT_EQ(0x00040000u, r.Dword()) << "extended style: WS_EX_APPWINDOW";
    EXPECT_EQ(0x90CA00C8u, r.Dword()) << "style";
    EXPECT_EQ(5, r.Word()) << "controls";
    const short rect[] = {0, 0, 317, 80};
    for (short expected : rect)
        EXPECT_EQ(expected, static_cast<short>(r.Word())) << "position and size";
    EXPECT_EQ("#0", Describe(r.NameOrOrdinal())) << "no menu";
    EXPECT_EQ("#0", Describe(r.NameOrOrdinal())) << "the default dialog class";
    EXPECT_EQ(kTitle, Utf8(r.Text())) << "caption";
    EXPECT_EQ(8, r.Word()) << "point size";
    EXPECT_EQ(0, r.Word()) << "weight";
    EXPECT_EQ(0, r.Byte()) << "italic";
    EXPECT_EQ(1, r.Byte()) << "character set: DEFAULT_CHARSET";
    EXPECT_EQ("MS Shell Dlg", Utf8(r.Text())) << "typeface";
}

TEST_F(DialogTemplate, FiveControlsInTabOrder)
{
    ByteReader r(m_bytes);
    r.Seek(26); // version to size
    for (int field = 0; field < 2; ++field)
        r.NameOrOrdinal(); // menu, class
    r.Text();               // caption
    r.Seek(r.Pos() + 6);    // point size, weight, italic, character set
    r.Text();               // typeface
    for (const Control& c : kControls) {
        SCOPED_TRACE(std::string("control ") + std::to_string(static_cast<int>(c.id)) + " \"" + c.text + "\"");
        r.Align();
        EXPECT_EQ(0u, r.Dword()) << "help ID";
        EXPECT_EQ(c.exStyle, r.Dword()) << "extended style";
        EXPECT_EQ(c.style, r.Dword()) << "style";
        for (short expected : {c.x, c.y, c.cx, c.cy})
            EXPECT_EQ(expected, static_cast<short>(r.Word())) << "rectangle";
        EXPECT_EQ(c.id, r.Dword()) << "ID";
        EXPECT_EQ(c.windowClass, Describe(r.NameOrOrdinal())) << "class";
        const ResId text = r.NameOrOrdinal();
        EXPECT_EQ(0, text.ordinal) << "text, not a resource ordinal";
        EXPECT_EQ(c.text, Utf8(text.text)) << "text";
        EXPECT_EQ(0, r.Word()) << "no creation data";
    }
    EXPECT_EQ(m_bytes.size(), r.Pos()) << "nothing follows the fifth control";
}

} // namespace
} // namespace res_test
