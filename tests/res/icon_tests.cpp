// The application icon: the group's nine entries and every image in the bitmap form.
#include "res_file.h"

#include <resource.h>

namespace res_test {
namespace {

struct IconImage {
    int size;    // width and height in pixels
    DWORD bytes; // header, colour pixels and AND mask
};

constexpr IconImage kImages[] = {
    {256, 270376}, {210, 182320}, {150, 93040}, {120, 59560}, {64, 16936},
    {48, 9640},    {32, 4264},    {24, 2440},   {16, 1128},
};

class Icon : public BuiltResources {};

TEST_F(Icon, GroupListsNineImagesFrom256DownTo16Pixels)
{
    const std::vector<BYTE> group = Load(RT_GROUP_ICON, IDI_APP_ICON);
    ByteReader r(group);
    EXPECT_EQ(0, r.Word()) << "reserved";
    EXPECT_EQ(1, r.Word()) << "type: icon";
    ASSERT_EQ(9, r.Word()) << "entries";
    for (size_t i = 0; i < std::size(kImages); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i + 1));
        const IconImage& image = kImages[i];
        const int stored = image.size == 256 ? 0 : image.size;
        EXPECT_EQ(stored, r.Byte()) << "width";
        EXPECT_EQ(stored, r.Byte()) << "height";
        EXPECT_EQ(0, r.Byte()) << "colour count";
        EXPECT_EQ(0, r.Byte()) << "reserved";
        EXPECT_EQ(1, r.Word()) << "planes";
        EXPECT_EQ(32, r.Word()) << "bits per pixel";
        EXPECT_EQ(image.bytes, r.Dword()) << "image size";
        EXPECT_EQ(i + 1, r.Word()) << "image ID";
    }
    EXPECT_EQ(r.Size(), r.Pos()) << "nothing follows the entries";
}

// Each image: a BITMAPINFOHEADER with the doubled height, 32-bit BGRA rows, then an AND mask
// whose bits mark exactly the fully transparent pixels, rows padded to four bytes.
TEST_F(Icon, EveryImageIsA32BitBitmapWithItsAndMask)
{
    for (size_t i = 0; i < std::size(kImages); ++i) {
        const IconImage& image = kImages[i];
        SCOPED_TRACE(std::to_string(image.size) + " pixels");
        const std::vector<BYTE> bytes = Load(RT_ICON, static_cast<WORD>(i + 1));
        ASSERT_EQ(image.bytes, bytes.size());

        ByteReader r(bytes);
        const int n = image.size;
        EXPECT_EQ(40u, r.Dword()) << "biSize";
        EXPECT_EQ(static_cast<DWORD>(n), r.Dword()) << "biWidth";
        EXPECT_EQ(static_cast<DWORD>(2 * n), r.Dword()) << "biHeight";
        EXPECT_EQ(1, r.Word()) << "biPlanes";
        EXPECT_EQ(32, r.Word()) << "biBitCount";
        EXPECT_EQ(0u, r.Dword()) << "biCompression: BI_RGB";
        EXPECT_EQ(image.bytes - 40, r.Dword()) << "biSizeImage: colour pixels and mask";
        for (const char* field : {"biXPelsPerMeter", "biYPelsPerMeter", "biClrUsed", "biClrImportant"})
            EXPECT_EQ(0u, r.Dword()) << field;

        const BYTE* pixels = bytes.data() + 40;
        const size_t stride = (n + 31) / 32 * 4;
        const BYTE* mask = pixels + static_cast<size_t>(n) * n * 4;
        ASSERT_EQ(bytes.data() + bytes.size(), mask + stride * n);
        int wrongBits = 0, opaque = 0, clear = 0;
        for (int row = 0; row < n; ++row) {
            for (size_t bit = 0; bit < stride * 8; ++bit) {
                const bool set = mask[row * stride + bit / 8] & (0x80 >> (bit % 8));
                const bool transparent = bit < static_cast<size_t>(n) && pixels[(row * n + bit) * 4 + 3] == 0;
                wrongBits += set != transparent; // padding bits stay clear
            }
            for (int col = 0; col < n; ++col) {
                const BYTE alpha = pixels[(row * n + col) * 4 + 3];
                opaque += alpha == 255;
                clear += alpha == 0;
            }
        }
        EXPECT_EQ(0, wrongBits) << "mask bits that disagree with the alpha channel";
        // A picture on a tile with rounded corners: a transparent border and an opaque inside.
        EXPECT_EQ(0, pixels[3]) << "bottom left corner";
        EXPECT_EQ(255, pixels[((n / 2) * n + n / 2) * 4 + 3]) << "centre";
        EXPECT_GT(opaque, n * n / 2);
        EXPECT_GT(clear, 0);
    }
}

} // namespace
} // namespace res_test
