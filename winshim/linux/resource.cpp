#include "resource.h"

#include <cstring>

namespace winshim {

namespace {

char16_t FoldCase(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

class Reader {
public:
    Reader(const std::vector<BYTE>& bytes, size_t pos) : m_bytes(bytes), m_pos(pos) {}

    bool Word(WORD& out)
    {
        if (m_pos + 2 > m_bytes.size())
            return false;
        out = static_cast<WORD>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }

    bool Dword(DWORD& out)
    {
        WORD lo = 0, hi = 0;
        if (!Word(lo) || !Word(hi))
            return false;
        out = lo | (static_cast<DWORD>(hi) << 16);
        return true;
    }

    bool Id(ResourceId& out)
    {
        WORD first = 0;
        if (!Word(first))
            return false;
        if (first == 0xFFFF)
            return Word(out.ordinal);
        for (WORD c = first; c != 0;) {
            out.text.push_back(static_cast<char16_t>(c));
            if (!Word(c))
                return false;
        }
        return true;
    }

    void AlignDword() { m_pos = (m_pos + 3) & ~static_cast<size_t>(3); }
    size_t Pos() const { return m_pos; }

private:
    const std::vector<BYTE>& m_bytes;
    size_t m_pos;
};

} // namespace

ResourceId ResourceId::From(LPCWSTR idOrName)
{
    ResourceId id;
    if (IS_INTRESOURCE(idOrName)) {
        id.ordinal = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(idOrName));
    } else if (idOrName[0] == u'#') {
        // "#123" names the ordinal 123, as on Windows.
        for (LPCWSTR p = idOrName + 1; *p >= u'0' && *p <= u'9'; ++p)
            id.ordinal = static_cast<WORD>(id.ordinal * 10 + (*p - u'0'));
    } else {
        id.text = idOrName;
    }
    return id;
}

bool ResourceId::operator==(const ResourceId& other) const
{
    if (text.empty() || other.text.empty())
        return text.empty() && other.text.empty() && ordinal == other.ordinal;
    if (text.size() != other.text.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (FoldCase(text[i]) != FoldCase(other.text[i]))
            return false;
    return true;
}

std::optional<ResourceModule> ResourceModule::Parse(std::vector<BYTE> bytes)
{
    ResourceModule module;
    module.m_bytes = std::move(bytes);
    const std::vector<BYTE>& b = module.m_bytes;
    size_t pos = 0;
    while (pos < b.size()) {
        Reader r(b, pos);
        DWORD dataSize = 0, headerSize = 0, dataVersion = 0, version = 0, characteristics = 0;
        WORD memoryFlags = 0, language = 0;
        ResourceEntry entry;
        if (!r.Dword(dataSize) || !r.Dword(headerSize) || !r.Id(entry.type) || !r.Id(entry.name))
            return std::nullopt;
        r.AlignDword();
        if (!r.Dword(dataVersion) || !r.Word(memoryFlags) || !r.Word(language) || !r.Dword(version) ||
            !r.Dword(characteristics))
            return std::nullopt;
        if (headerSize < 32 || pos + headerSize > b.size() || dataSize > b.size() - pos - headerSize)
            return std::nullopt;
        entry.language = language;
        entry.data = b.data() + pos + headerSize;
        entry.size = dataSize;
        // The file starts with an empty entry of type 0 that only marks the format.
        if (!(entry.type.text.empty() && entry.type.ordinal == 0))
            module.m_entries.push_back(entry);
        pos = (pos + headerSize + dataSize + 3) & ~static_cast<size_t>(3);
    }
    return module;
}

const ResourceEntry* ResourceModule::Find(const ResourceId& type, const ResourceId& name,
                                          std::optional<WORD> language) const
{
    for (const ResourceEntry& entry : m_entries)
        if (entry.type == type && entry.name == name && (!language || entry.language == *language))
            return &entry;
    return nullptr;
}

} // namespace winshim
