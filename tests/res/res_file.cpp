#include "res_file.h"

#include <afxwin.h>
#include <winshim_ext.h>

#include <glib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace res_test {

std::vector<BYTE> ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open " + path);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Utf8(std::u16string_view text)
{
    gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()), static_cast<glong>(text.size()),
                                  nullptr, nullptr, nullptr);
    if (!utf8)
        return "<not valid UTF-16>";
    std::string result(utf8);
    g_free(utf8);
    return result;
}

void ByteReader::Need(size_t count) const
{
    if (count > m_size - m_pos)
        throw std::out_of_range("read of " + std::to_string(count) + " bytes at " + std::to_string(m_pos) +
                                " runs past the end (" + std::to_string(m_size) + ")");
}

BYTE ByteReader::Byte()
{
    Need(1);
    return m_data[m_pos++];
}

WORD ByteReader::Word()
{
    Need(2);
    WORD v = static_cast<WORD>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
    m_pos += 2;
    return v;
}

DWORD ByteReader::Dword()
{
    WORD lo = Word();
    return lo | (static_cast<DWORD>(Word()) << 16);
}

std::u16string ByteReader::Text()
{
    std::u16string text;
    for (WORD c = Word(); c != 0; c = Word())
        text.push_back(static_cast<char16_t>(c));
    return text;
}

ResId ByteReader::NameOrOrdinal()
{
    ResId id;
    WORD first = Word();
    if (first == 0xFFFF) {
        id.ordinal = Word();
    } else if (first != 0) {
        id.text.push_back(static_cast<char16_t>(first));
        id.text += Text();
    }
    return id;
}

void ByteReader::Align(size_t unit)
{
    Seek((m_pos + unit - 1) / unit * unit);
}

void ByteReader::Seek(size_t pos)
{
    if (pos > m_size)
        throw std::out_of_range("seek to " + std::to_string(pos) + " past the end (" + std::to_string(m_size) + ")");
    m_pos = pos;
}

std::vector<RawResource> ReadResFile(const std::string& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    std::vector<RawResource> entries;
    ByteReader r(bytes);
    bool first = true;
    while (r.Pos() < r.Size()) {
        const size_t start = r.Pos();
        RawResource entry;
        const DWORD dataSize = r.Dword();
        const DWORD headerSize = r.Dword();
        entry.type = r.NameOrOrdinal();
        entry.name = r.NameOrOrdinal();
        r.Align();
        entry.dataVersion = r.Dword();
        entry.memoryFlags = r.Word();
        entry.language = r.Word();
        entry.version = r.Dword();
        entry.characteristics = r.Dword();
        if (r.Pos() - start != headerSize)
            throw std::runtime_error("header of the entry at " + std::to_string(start) + " is " +
                                     std::to_string(r.Pos() - start) + " bytes, it says " + std::to_string(headerSize));
        r.Seek(start + headerSize);
        const BYTE* data = r.Here();
        r.Seek(start + headerSize + dataSize);
        entry.data.assign(data, data + dataSize);
        r.Align();
        // The file opens with an empty entry of type 0 that only marks the format.
        if (first) {
            first = false;
            if (entry.type.text.empty() && entry.type.ordinal == 0 && dataSize == 0)
                continue;
            throw std::runtime_error("the file does not open with the empty marker entry");
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

HMODULE BuiltResources::s_module = nullptr;

void BuiltResources::SetUpTestSuite()
{
    s_module = WinshimLoadResourceFile(SORVANE_RES_PATH);
    ASSERT_NE(nullptr, s_module) << "cannot load " << SORVANE_RES_PATH;
    AfxSetResourceHandle(s_module);
}

void BuiltResources::TearDownTestSuite()
{
    AfxSetResourceHandle(nullptr);
    WinshimFreeResourceFile(s_module);
    s_module = nullptr;
}

std::vector<BYTE> BuiltResources::Load(LPCWSTR type, WORD id)
{
    HRSRC info = FindResourceW(s_module, MAKEINTRESOURCEW(id), type);
    if (!info) {
        ADD_FAILURE() << "resource " << id << " of type " << reinterpret_cast<ULONG_PTR>(type) << " not found";
        return {};
    }
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(s_module, info)));
    return std::vector<BYTE>(data, data + SizeofResource(s_module, info));
}

} // namespace res_test
