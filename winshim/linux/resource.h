// Reader of compiled resources in the standard .res format: a run of entries, each a header
// (data size, header size, type, name, data version, memory flags, language, version,
// characteristics) followed by the data, both aligned to four bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "windef.h"

namespace winshim {

// A type or a name: an ordinal, or a text (compared without regard to case, as Windows does).
struct ResourceId {
    WORD ordinal = 0;
    std::u16string text;

    static ResourceId From(LPCWSTR idOrName);
    bool operator==(const ResourceId& other) const;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    const BYTE* data = nullptr;
    DWORD size = 0;
};

class ResourceModule {
public:
    ResourceModule() = default;
    ResourceModule(ResourceModule&&) = default;
    ResourceModule& operator=(ResourceModule&&) = default;
    ResourceModule(const ResourceModule&) = delete; // entries point into the bytes
    ResourceModule& operator=(const ResourceModule&) = delete;

    // Empty when the bytes are not a well-formed .res file.
    static std::optional<ResourceModule> Parse(std::vector<BYTE> bytes);

    // With no language given, the entry is taken in whatever language it was filed under.
    const ResourceEntry* Find(const ResourceId& type, const ResourceId& name, std::optional<WORD> language) const;
    const std::vector<ResourceEntry>& Entries() const { return m_entries; }

private:
    std::vector<BYTE> m_bytes;
    std::vector<ResourceEntry> m_entries;
};

} // namespace winshim
