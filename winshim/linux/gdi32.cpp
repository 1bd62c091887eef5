// gdi32: device contexts, brushes and fonts, drawn with cairo and Pango.
#include <windows.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "gui.h"
#include "text.h"

using namespace winshim;

namespace {

struct GdiObject {
    DWORD type = 0; // OBJ_BRUSH, OBJ_FONT, OBJ_DC, OBJ_MEMDC
    bool stock = false;
    bool hollow = false;
    COLORREF color = 0;
    FontSpec font;
    std::unique_ptr<DeviceContext> dc;
};

std::mutex g_gdiMutex;
std::map<HGDIOBJ, GdiObject> g_objects;
ULONG_PTR g_nextObject = 0x40000;

HGDIOBJ InsertObject(GdiObject object)
{
    std::lock_guard lock(g_gdiMutex);
    HGDIOBJ handle = reinterpret_cast<HGDIOBJ>(g_nextObject);
    g_nextObject += 4;
    g_objects.emplace(handle, std::move(object));
    return handle;
}

// Valid on the calling thread until the object is deleted.
GdiObject* FindObject(HGDIOBJ handle)
{
    std::lock_guard lock(g_gdiMutex);
    auto it = g_objects.find(handle);
    return it == g_objects.end() ? nullptr : &it->second;
}

GdiObject StockBrush(COLORREF color, bool hollow = false)
{
    GdiObject o;
    o.type = OBJ_BRUSH;
    o.stock = true;
    o.color = color;
    o.hollow = hollow;
    return o;
}

// Windows' dialog fonts are not here; the desktop's sans-serif face stands in for them.
std::string FamilyFor(std::u16string_view face)
{
    static const char16_t* const systemFaces[] = {u"MS Shell Dlg", u"MS Shell Dlg 2", u"MS Sans Serif",
                                                   u"Microsoft Sans Serif", u"Tahoma", u"Segoe UI", u"System"};
    for (const char16_t* f : systemFaces)
        if (face == f)
            return "Sans";
    return face.empty() ? "Sans" : ToUtf8(face) + ",Sans";
}

PangoFontDescription* Describe(const FontSpec& spec)
{
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, spec.family.c_str());
    pango_font_description_set_absolute_size(desc, spec.pixelHeight * PANGO_SCALE);
    pango_font_description_set_weight(desc, static_cast<PangoWeight>(spec.weight ? spec.weight : FW_NORMAL));
    pango_font_description_set_style(desc, spec.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return desc;
}

FontSpec FontOf(const DeviceContext* dc)
{
    FontSpec spec = DefaultGuiFont();
    if (dc && dc->font)
        FindFont(dc->font, &spec);
    return spec;
}

// A DC for measuring only.
struct MeasuringDc {
    HDC hdc;
    MeasuringDc() : hdc(CreateCompatibleDC(nullptr)) {}
    ~MeasuringDc() { DeleteDC(hdc); }
};

} // namespace

namespace winshim {

FontSpec DefaultGuiFont()
{
    FontSpec spec;
    spec.family = "Sans";
    spec.pixelHeight = 11; // 8 points at 96 dots per inch
    return spec;
}

bool FindFont(HFONT font, FontSpec* spec)
{
    GdiObject* o = FindObject(font);
    if (!o || o->type != OBJ_FONT)
        return false;
    *spec = o->font;
    return true;
}

HFONT CreateDialogFont(std::u16string_view face, int points, int weight, bool italic)
{
    LOGFONTW lf = {};
    lf.lfHeight = -((points * 96 + 36) / 72);
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 1 : 0;
    lf.lfCharSet = DEFAULT_CHARSET;
    size_t n = face.size() < LF_FACESIZE - 1 ? face.size() : LF_FACESIZE - 1;
    face.copy(lf.lfFaceName, n);
    return CreateFontIndirectW(&lf);
}

SIZE DialogBaseUnits(HFONT font)
{
    // As Windows measures a dialog font: the average width of the 52 Latin letters, rounded,
    // and the character height.
    MeasuringDc dc;
    HGDIOBJ old = font ? SelectObject(dc.hdc, font) : nullptr;
    TEXTMETRICW tm = {};
    SIZE letters = {};
    GetTextMetricsW(dc.hdc, &tm);
    GetTextExtentPoint32W(dc.hdc, u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    if (old)
        SelectObject(dc.hdc, old);
    return {(letters.cx / 26 + 1) / 2, tm.tmHeight};
}

HDC CreateDeviceContext(HWND hwnd, cairo_t* cr, int width, int height)
{
    GdiObject o;
    o.type = cr ? OBJ_DC : OBJ_MEMDC;
    o.dc = std::make_unique<DeviceContext>();
    o.dc->hwnd = hwnd;
    if (cr) {
        o.dc->cr = cairo_reference(cr);
        cairo_save(cr);
    } else {
        o.dc->ownSurface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width > 0 ? width : 0,
                                                      height > 0 ? height : 0);
        o.dc->cr = cairo_create(o.dc->ownSurface);
    }
    return static_cast<HDC>(InsertObject(std::move(o)));
}

DeviceContext* FindDeviceContext(HDC hdc)
{
    GdiObject* o = FindObject(hdc);
    return o && o->dc ? o->dc.get() : nullptr;
}

bool BrushColor(HBRUSH brush, COLORREF* color)
{
    // A brush given as a system colour index plus one, as window classes and FillRect take it.
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(brush);
    if (value > 0 && value <= 31) {
        *color = GetSysColor(static_cast<int>(value - 1));
        return true;
    }
    GdiObject* o = FindObject(brush);
    if (!o || o->type != OBJ_BRUSH || o->hollow)
        return false;
    *color = o->color;
    return true;
}

void SetSourceColor(cairo_t* cr, COLORREF color)
{
    cairo_set_source_rgb(cr, GetRValue(color) / 255.0, GetGValue(color) / 255.0, GetBValue(color) / 255.0);
}

PangoLayout* CreateTextLayout(DeviceContext* dc, std::u16string_view text)
{
    PangoLayout* layout = pango_cairo_create_layout(dc->cr);
    PangoFontDescription* desc = Describe(FontOf(dc));
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    std::string utf8 = ToUtf8(text);
    pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
    return layout;
}

void ShowTextLayout(DeviceContext* dc, PangoLayout* layout, int x, int y)
{
    cairo_save(dc->cr);
    if (dc->bkMode == OPAQUE) {
        PangoRectangle logical;
        pango_layout_get_pixel_extents(layout, nullptr, &logical);
        SetSourceColor(dc->cr, dc->bkColor);
        cairo_rectangle(dc->cr, x + logical.x, y + logical.y, logical.width, logical.height);
        cairo_fill(dc->cr);
    }
    SetSourceColor(dc->cr, dc->textColor);
    cairo_move_to(dc->cr, x, y);
    pango_cairo_show_layout(dc->cr, layout);
    cairo_restore(dc->cr);
}

DWORD GdiObjectCount()
{
    std::lock_guard lock(g_gdiMutex);
    DWORD count = 0;
    for (const auto& [handle, o] : g_objects)
        count += o.stock ? 0 : 1;
    return count;
}

} // namespace winshim

int WINAPI SetBkMode(HDC hdc, int mode)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

int WINAPI GetBkMode(HDC hdc)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    return dc ? dc->bkMode : 0;
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc)
        return CLR_INVALID;
    COLORREF previous = dc->bkColor;
    dc->bkColor = color;
    return previous;
}

COLORREF WINAPI GetBkColor(HDC hdc)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    return dc ? dc->bkColor : CLR_INVALID;
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc)
        return CLR_INVALID;
    COLORREF previous = dc->textColor;
    dc->textColor = color;
    return previous;
}

COLORREF WINAPI GetTextColor(HDC hdc)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    return dc ? dc->textColor : CLR_INVALID;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    GdiObject o;
    o.type = OBJ_BRUSH;
    o.color = color & 0x00FFFFFF;
    return static_cast<HBRUSH>(InsertObject(std::move(o)));
}

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* lplf)
{
    if (!lplf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiObject o;
    o.type = OBJ_FONT;
    size_t length = 0;
    while (length < LF_FACESIZE && lplf->lfFaceName[length])
        ++length;
    o.font.family = FamilyFor(std::u16string_view(lplf->lfFaceName, length));
    LONG height = lplf->lfHeight < 0 ? -lplf->lfHeight : lplf->lfHeight;
    o.font.pixelHeight = height ? static_cast<int>(height) : DefaultGuiFont().pixelHeight;
    o.font.weight = static_cast<int>(lplf->lfWeight);
    o.font.italic = lplf->lfItalic != 0;
    return static_cast<HFONT>(InsertObject(std::move(o)));
}

HGDIOBJ WINAPI GetStockObject(int i)
{
    static const std::map<int, HGDIOBJ> stock = [] {
        std::map<int, HGDIOBJ> m;
        m[WHITE_BRUSH] = InsertObject(StockBrush(RGB(255, 255, 255)));
        m[LTGRAY_BRUSH] = InsertObject(StockBrush(RGB(192, 192, 192)));
        m[GRAY_BRUSH] = InsertObject(StockBrush(RGB(128, 128, 128)));
        m[DKGRAY_BRUSH] = InsertObject(StockBrush(RGB(64, 64, 64)));
        m[BLACK_BRUSH] = InsertObject(StockBrush(RGB(0, 0, 0)));
        m[NULL_BRUSH] = InsertObject(StockBrush(0, true));
        for (int index : {DEFAULT_GUI_FONT, SYSTEM_FONT}) {
            GdiObject font;
            font.type = OBJ_FONT;
            font.stock = true;
            font.font = DefaultGuiFont();
            font.font.weight = index == SYSTEM_FONT ? FW_BOLD : FW_NORMAL;
            m[index] = InsertObject(std::move(font));
        }
        return m;
    }();
    auto it = stock.find(i);
    return it == stock.end() ? nullptr : it->second;
}

HBRUSH WINAPI GetSysColorBrush(int nIndex)
{
    static std::mutex mutex;
    static std::map<int, HGDIOBJ> brushes;
    std::lock_guard lock(mutex);
    HGDIOBJ& brush = brushes[nIndex];
    if (!brush)
        brush = InsertObject(StockBrush(GetSysColor(nIndex)));
    return static_cast<HBRUSH>(brush);
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    GdiObject* o = FindObject(h);
    if (!dc || !o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (o->type == OBJ_BRUSH) {
        HGDIOBJ previous = dc->brush ? static_cast<HGDIOBJ>(dc->brush) : GetStockObject(WHITE_BRUSH);
        dc->brush = static_cast<HBRUSH>(h);
        return previous;
    }
    if (o->type == OBJ_FONT) {
        HGDIOBJ previous = dc->font ? static_cast<HGDIOBJ>(dc->font) : GetStockObject(SYSTEM_FONT);
        dc->font = static_cast<HFONT>(h);
        return previous;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    std::lock_guard lock(g_gdiMutex);
    auto it = g_objects.find(ho);
    if (it == g_objects.end() || it->second.dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!it->second.stock)
        g_objects.erase(it);
    return TRUE;
}

DWORD WINAPI GetObjectType(HGDIOBJ h)
{
    GdiObject* o = FindObject(h);
    return o ? o->type : 0;
}

HDC WINAPI CreateCompatibleDC(HDC)
{
    return CreateDeviceContext(nullptr, nullptr, 1, 1);
}

BOOL WINAPI DeleteDC(HDC hdc)
{
    std::unique_ptr<DeviceContext> dc;
    {
        std::lock_guard lock(g_gdiMutex);
        auto it = g_objects.find(hdc);
        if (it == g_objects.end() || !it->second.dc) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        dc = std::move(it->second.dc);
        g_objects.erase(it);
    }
    if (!dc->ownSurface)
        cairo_restore(dc->cr);
    cairo_destroy(dc->cr);
    if (dc->ownSurface)
        cairo_surface_destroy(dc->ownSurface);
    return TRUE;
}

int WINAPI GetDeviceCaps(HDC, int index)
{
    return index == LOGPIXELSX || index == LOGPIXELSY ? 96 : 0;
}

BOOL WINAPI GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc || !lptm) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FontSpec spec = FontOf(dc);
    PangoLayout* layout = CreateTextLayout(dc, u"");
    PangoFontDescription* desc = Describe(spec);
    PangoFontMetrics* metrics =
        pango_context_get_metrics(pango_layout_get_context(layout), desc, pango_language_from_string("lv"));
    *lptm = {};
    lptm->tmAscent = static_cast<LONG>(std::ceil(pango_font_metrics_get_ascent(metrics) / double(PANGO_SCALE)));
    lptm->tmDescent = static_cast<LONG>(std::ceil(pango_font_metrics_get_descent(metrics) / double(PANGO_SCALE)));
    lptm->tmHeight = lptm->tmAscent + lptm->tmDescent;
    lptm->tmInternalLeading = lptm->tmHeight > spec.pixelHeight ? lptm->tmHeight - spec.pixelHeight : 0;
    lptm->tmAveCharWidth =
        static_cast<LONG>(std::lround(pango_font_metrics_get_approximate_char_width(metrics) / double(PANGO_SCALE)));
    lptm->tmMaxCharWidth = lptm->tmAveCharWidth * 2;
    lptm->tmWeight = spec.weight ? spec.weight : FW_NORMAL;
    lptm->tmItalic = spec.italic ? 1 : 0;
    lptm->tmFirstChar = 0x20;
    lptm->tmLastChar = 0xFFFC;
    lptm->tmDefaultChar = u'?';
    lptm->tmBreakChar = u' ';
    lptm->tmCharSet = DEFAULT_CHARSET;
    lptm->tmDigitizedAspectX = lptm->tmDigitizedAspectY = 96;
    pango_font_metrics_unref(metrics);
    pango_font_description_free(desc);
    g_object_unref(layout);
    return TRUE;
}

BOOL WINAPI GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, SIZE* psizl)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc || !psizl || (c > 0 && !lpString) || c < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PangoLayout* layout = CreateTextLayout(dc, std::u16string_view(lpString ? lpString : u"", static_cast<size_t>(c)));
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    psizl->cx = width;
    psizl->cy = height;
    return TRUE;
}

BOOL WINAPI TextOutW(HDC hdc, int x, int y, LPCWSTR lpString, int c)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc || c < 0 || (c > 0 && !lpString)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PangoLayout* layout = CreateTextLayout(dc, std::u16string_view(lpString ? lpString : u"", static_cast<size_t>(c)));
    ShowTextLayout(dc, layout, x, y);
    g_object_unref(layout);
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y)
{
    DeviceContext* dc = FindDeviceContext(hdc);
    if (!dc)
        return CLR_INVALID;
    cairo_surface_t* surface = cairo_get_target(dc->cr);
    if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE)
        return CLR_INVALID;
    cairo_surface_flush(surface);
    int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
    if (x < 0 || y < 0 || x >= width || y >= height)
        return CLR_INVALID;
    const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}
