// Reading the program's compiled resources in tests: a parser of the .res format of our own
// (independent of winshim's reader, so the two check each other), a bounds-checked reader of
// the little-endian structures inside a resource, and a fixture that opens the built .res as
// a module for winshim's resource calls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace res_test {

// A resource type or name: an ordinal, or a text when the text is not empty.
struct ResId {
    WORD ordinal = 0;
    std::u16string text;
};

struct RawResource {
    ResId type;
    ResId name;
    DWORD dataVersion = 0;
    WORD memoryFlags = 0;
    WORD language = 0;
    DWORD version = 0;
    DWORD characteristics = 0;
    std::vector<BYTE> data;
};

// Every entry of a .res file except the leading empty one; throws on a malformed file.
std::vector<RawResource> ReadResFile(const std::string& path);

std::vector<BYTE> ReadFileBytes(const std::string& path);
std::string Utf8(std::u16string_view text);

// Little-endian reads with bounds checks; a read past the end throws std::out_of_range.
class ByteReader {
public:
    ByteReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}
    explicit ByteReader(const std::vector<BYTE>& bytes) : ByteReader(bytes.data(), bytes.size()) {}

    BYTE Byte();
    WORD Word();
    DWORD Dword();
    // A NUL-terminated UTF-16 text.
    std::u16string Text();
    // A dialog template's name or ordinal field: 0x0000 (none), 0xFFFF and an ordinal, or a text.
    ResId NameOrOrdinal();
    // Skips to the next multiple of `unit` from the start of the data.
    void Align(size_t unit = 4);
    void Seek(size_t pos);
    const BYTE* Here() const { return m_data + m_pos; }
    size_t Pos() const { return m_pos; }
    size_t Size() const { return m_size; }

private:
    void Need(size_t count) const;

    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// The built .res opened as a module (WinshimLoadResourceFile) and made the resource module of
// the afx string loading (AfxSetResourceHandle), once for all tests of the suite.
class BuiltResources : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    static HMODULE Module() { return s_module; }
    // The data of one resource found with FindResourceW; fails the test when it is absent.
    static std::vector<BYTE> Load(LPCWSTR type, WORD id);

private:
    static HMODULE s_module;
};

} // namespace res_test
