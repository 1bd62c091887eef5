// Draws the application icon, a white download arrow into an open box on a blue tile, and
// writes it as a Windows icon file (every image in the bitmap form with its AND mask) or as a
// PNG of one size for a desktop icon theme. The drawing is resolution-independent: every size
// is rendered from the same shapes, so the images are reproducible from this file alone.
//
//   makeicon ico <file.ico>          the nine images of the executable's icon
//   makeicon png <size> <file.png>   one square image
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::array<int, 9> kIconSizes = {256, 210, 150, 120, 64, 48, 32, 24, 16};

struct Point {
    double x, y;
};

struct Rgba {
    std::uint8_t r, g, b, a;
};

using Image = std::vector<Rgba>; // rows top to bottom, straight (not premultiplied) alpha

double Length(double x, double y)
{
    return std::sqrt(x * x + y * y);
}

// Signed distance to a rounded square centred in the unit square.
double TileDistance(Point p)
{
    constexpr double half = 0.44, radius = 0.19;
    double qx = std::max(std::fabs(p.x - 0.5) - (half - radius), 0.0);
    double qy = std::max(std::fabs(p.y - 0.5) - (half - radius), 0.0);
    return Length(qx, qy) - radius;
}

double SegmentDistance(Point p, Point a, Point b)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return Length(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

double Cross(Point o, Point a, Point b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool InTriangle(Point p, Point a, Point b, Point c)
{
    double d1 = Cross(a, b, p), d2 = Cross(b, c, p), d3 = Cross(c, a, p);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

// The white glyph: the open box (a U of round-ended strokes) and the arrow coming down into it.
bool InGlyph(Point p)
{
    constexpr double boxStroke = 0.055, shaftStroke = 0.07;
    constexpr Point boxLeftTop{0.26, 0.53}, boxLeftBottom{0.26, 0.76};
    constexpr Point boxRightBottom{0.74, 0.76}, boxRightTop{0.74, 0.53};
    if (SegmentDistance(p, boxLeftTop, boxLeftBottom) <= boxStroke ||
        SegmentDistance(p, boxLeftBottom, boxRightBottom) <= boxStroke ||
        SegmentDistance(p, boxRightBottom, boxRightTop) <= boxStroke)
        return true;
    if (SegmentDistance(p, {0.5, 0.2}, {0.5, 0.5}) <= shaftStroke)
        return true;
    return InTriangle(p, {0.31, 0.45}, {0.69, 0.45}, {0.5, 0.67});
}

// Blue from light at the top of the tile to dark at its bottom.
void TileColour(double y, double rgb[3])
{
    constexpr double top[3] = {74, 156, 232}, bottom[3] = {26, 86, 176};
    double t = std::clamp((y - 0.06) / 0.88, 0.0, 1.0);
    for (int i = 0; i < 3; ++i)
        rgb[i] = top[i] + (bottom[i] - top[i]) * t;
}

std::uint8_t Channel(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Each pixel averages a grid of samples (premultiplied), so edges are smooth at every size.
Image Render(int size)
{
    const int grid = size <= 64 ? 8 : 4;
    Image image(static_cast<size_t>(size) * size);
    for (int row = 0; row < size; ++row) {
        for (int col = 0; col < size; ++col) {
            double sum[3] = {0, 0, 0}, alpha = 0;
            for (int sy = 0; sy < grid; ++sy) {
                for (int sx = 0; sx < grid; ++sx) {
                    Point p{(col + (sx + 0.5) / grid) / size, (row + (sy + 0.5) / grid) / size};
                    if (TileDistance(p) > 0)
                        continue;
                    double rgb[3] = {255, 255, 255};
                    if (!InGlyph(p))
                        TileColour(p.y, rgb);
                    for (int i = 0; i < 3; ++i)
                        sum[i] += rgb[i];
                    alpha += 1;
                }
            }
            Rgba& out = image[static_cast<size_t>(row) * size + col];
            out.a = Channel(255.0 * alpha / (grid * grid));
            if (out.a == 0) {
                out = {0, 0, 0, 0};
                continue;
            }
            out.r = Channel(sum[0] / alpha);
            out.g = Channel(sum[1] / alpha);
            out.b = Channel(sum[2] / alpha);
        }
    }
    return image;
}

void PutWord(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    PutWord(out, static_cast<std::uint16_t>(v));
    PutWord(out, static_cast<std::uint16_t>(v >> 16));
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// An icon image in the bitmap form: BITMAPINFOHEADER with the doubled height, the colour rows
// (BGRA, bottom row first), then the AND mask (1 = transparent), rows padded to four bytes.
std::vector<std::uint8_t> IconImage(int size)
{
    const Image image = Render(size);
    const std::uint32_t maskStride = ((size + 31) / 32) * 4;
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(size) * size * 4 + maskStride * size;
    std::vector<std::uint8_t> out;
    PutDword(out, 40);                                  // biSize
    PutDword(out, static_cast<std::uint32_t>(size));     // biWidth
    PutDword(out, static_cast<std::uint32_t>(size * 2)); // biHeight: colour and mask
    PutWord(out, 1);                                    // biPlanes
    PutWord(out, 32);                                   // biBitCount
    PutDword(out, 0);                                   // biCompression: BI_RGB
    PutDword(out, pixelBytes);                          // biSizeImage
    PutDword(out, 0);                                   // biXPelsPerMeter
    PutDword(out, 0);                                   // biYPelsPerMeter
    PutDword(out, 0);                                   // biClrUsed
    PutDword(out, 0);                                   // biClrImportant
    for (int row = size - 1; row >= 0; --row) {
        for (int col = 0; col < size; ++col) {
            const Rgba& p = image[static_cast<size_t>(row) * size + col];
            out.insert(out.end(), {p.b, p.g, p.r, p.a});
        }
    }
    for (int row = size - 1; row >= 0; --row) {
        std::vector<std::uint8_t> mask(maskStride, 0);
        for (int col = 0; col < size; ++col)
            if (image[static_cast<size_t>(row) * size + col].a == 0)
                mask[col / 8] |= static_cast<std::uint8_t>(0x80 >> (col % 8));
        out.insert(out.end(), mask.begin(), mask.end());
    }
    return out;
}

std::vector<std::uint8_t> IconFile()
{
    std::vector<std::vector<std::uint8_t>> images;
    for (int size : kIconSizes)
        images.push_back(IconImage(size));
    std::vector<std::uint8_t> out;
    PutWord(out, 0);                                          // reserved
    PutWord(out, 1);                                          // type: icon
    PutWord(out, static_cast<std::uint16_t>(images.size()));  // count
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int size = kIconSizes[i];
        out.push_back(static_cast<std::uint8_t>(size == 256 ? 0 : size)); // width
        out.push_back(static_cast<std::uint8_t>(size == 256 ? 0 : size)); // height
        out.push_back(0);                                                 // colour count
        out.push_back(0);                                                 // reserved
        PutWord(out, 1);                                                  // planes
        PutWord(out, 32);                                                 // bits per pixel
        PutDword(out, static_cast<std::uint32_t>(images[i].size()));
        PutDword(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

void PutPngChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

bool PngFile(int size, std::vector<std::uint8_t>& out)
{
    const Image image = Render(size);
    std::vector<std::uint8_t> raw;
    for (int row = 0; row < size; ++row) {
        raw.push_back(0); // filter: none
        for (int col = 0; col < size; ++col) {
            const Rgba& p = image[static_cast<size_t>(row) * size + col];
            raw.insert(raw.end(), {p.r, p.g, p.b, p.a});
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        return false;
    packed.resize(packedSize);

    static const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.assign(std::begin(signature), std::end(signature));
    std::vector<std::uint8_t> header;
    PutBigEndian(header, static_cast<std::uint32_t>(size));
    PutBigEndian(header, static_cast<std::uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter set, no interlace
    PutPngChunk(out, "IHDR", header);
    PutPngChunk(out, "IDAT", packed);
    PutPngChunk(out, "IEND", {});
    return true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "makeicon: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: makeicon ico <file.ico>\n       makeicon png <size> <file.png>\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "ico") == 0)
        return WriteFile(argv[2], IconFile()) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "png") == 0) {
        char* end = nullptr;
        long size = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || size < 1 || size > 1024)
            return Usage();
        std::vector<std::uint8_t> png;
        if (!PngFile(static_cast<int>(size), png)) {
            std::fprintf(stderr, "makeicon: cannot compress the %ld-pixel image\n", size);
            return 1;
        }
        return WriteFile(argv[3], png) ? 0 : 1;
    }
    return Usage();
}
