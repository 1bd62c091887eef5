// What the job store's tests share: the remembered value as it lies in the registry, a command's
// output, and a hold on the registry store's write lock.
#pragma once

#include <windows.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

namespace sorvane_test {

// The value under the settings key that names the remembered job, as stored.
struct StoredValue {
    bool keyExists = false;
    LSTATUS status = -1;
    DWORD type = 0xFFFF;
    std::vector<BYTE> bytes;

    // All the bytes as UTF-16, a terminating NUL included.
    std::u16string Text() const
    {
        return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    }
};

inline StoredValue ReadRememberedValue()
{
    StoredValue value;
    HKEY key = nullptr;
    if ((value.status = RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Lorva\\Sorvane\\", 0, KEY_READ, &key)) !=
        ERROR_SUCCESS)
        return value;
    value.keyExists = true;
    DWORD size = 0;
    value.status = RegQueryValueExW(key, u"Lorvas Kaldo 2018 Novembris", nullptr, &value.type, nullptr, &size);
    value.bytes.resize(size);
    if (value.status == ERROR_SUCCESS)
        value.status =
            RegQueryValueExW(key, u"Lorvas Kaldo 2018 Novembris", nullptr, &value.type, value.bytes.data(), &size);
    RegCloseKey(key);
    return value;
}

// The command's standard output and error.
inline std::string RunCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::array<char, 4096> buffer{};
    while (size_t got = fread(buffer.data(), 1, buffer.size(), pipe))
        output.append(buffer.data(), got);
    pclose(pipe);
    return output;
}

// Holds the registry store's write lock, as another process in the middle of a write would:
// readers go on, writers wait for the busy timeout and then fail.
class StoreWriteLock {
public:
    explicit StoreWriteLock(const std::filesystem::path& store)
    {
        if (sqlite3_open(store.c_str(), &m_db) == SQLITE_OK)
            m_locked = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~StoreWriteLock()
    {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
    }
    StoreWriteLock(const StoreWriteLock&) = delete;
    StoreWriteLock& operator=(const StoreWriteLock&) = delete;

    bool Locked() const { return m_locked; }

private:
    sqlite3* m_db = nullptr;
    bool m_locked = false;
};

} // namespace sorvane_test
