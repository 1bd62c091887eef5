// advapi32: the registry. HKEY_CURRENT_USER lives in an SQLite database in
// $XDG_CONFIG_HOME/winshim/, one row per key and one per value. Every change is one transaction,
// and SQLite's file locks keep it whole when several processes write at once. A writer waits for
// another up to the busy timeout (10 s; WINSHIM_REGISTRY_BUSY_TIMEOUT_MS sets it in milliseconds)
// and then fails with ERROR_CANTWRITE.
// A store file without write permission is a read-only registry: write access is denied, as an
// access list would deny it on Windows, whoever the user is.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <glib.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text.h"
#include "trace.h"

using namespace winshim;

namespace {

constexpr sqlite3_int64 kRootKeyId = 1; // HKEY_CURRENT_USER
constexpr int kDefaultBusyTimeoutMs = 10000;
constexpr size_t kMaxKeyNameLength = 255;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x00010000 /* DELETE */;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS key_values("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, folded));"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES (1, 0, '', '');";

// One open database file. Handles keep the store they were opened on, so a process that points
// XDG_CONFIG_HOME elsewhere (tests do) gets a new store without disturbing open keys.
struct Store {
    sqlite3* db = nullptr;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    bool readOnly = false;
    pid_t owner = 0;
    std::mutex mutex; // one operation (and transaction) at a time on the connection

    ~Store()
    {
        // A child process must not close its parent's connection: that would drop the parent's locks.
        if (owner == getpid())
            sqlite3_close(db);
    }
};

struct OpenKey {
    std::shared_ptr<Store> store;
    sqlite3_int64 id;
    REGSAM access;
};

std::mutex g_mutex;
std::shared_ptr<Store> g_store;
std::map<HKEY, std::shared_ptr<OpenKey>> g_keys;
ULONG_PTR g_nextKey = 0x1000;

LSTATUS StatusFromSqlite(int rc, bool writing)
{
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    default: // busy past the timeout, I/O errors
        return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

std::string StorePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder = config && config[0] == '/' ? config : std::string(g_get_home_dir()) + "/.config";
    return folder + "/winshim/registry.sqlite";
}

int BusyTimeoutMs()
{
    const char* env = std::getenv("WINSHIM_REGISTRY_BUSY_TIMEOUT_MS");
    return env && *env ? std::atoi(env) : kDefaultBusyTimeoutMs;
}

bool HasSchema(sqlite3* db)
{
    sqlite3_stmt* stmt = nullptr;
    bool found = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name IN ('keys', 'key_values')", -1,
                                    &stmt, nullptr) == SQLITE_OK &&
                 sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 2;
    sqlite3_finalize(stmt);
    return found;
}

LSTATUS OpenStore(const std::string& path, bool readOnly, std::shared_ptr<Store>& out)
{
    auto store = std::make_shared<Store>();
    store->path = path;
    store->readOnly = readOnly;
    store->owner = getpid();
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &store->db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(store->db, 1);
        sqlite3_busy_timeout(store->db, BusyTimeoutMs());
        // Only a new store takes the write lock here, so that readers never wait for a writer.
        if (!readOnly && !HasSchema(store->db))
            rc = sqlite3_exec(store->db, (std::string("BEGIN IMMEDIATE;") + kSchema + "COMMIT;").c_str(), nullptr,
                              nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        if (store->db)
            sqlite3_exec(store->db, "ROLLBACK", nullptr, nullptr, nullptr);
        return StatusFromSqlite(rc, !readOnly);
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        store->device = st.st_dev;
        store->inode = st.st_ino;
    }
    out = std::move(store);
    return ERROR_SUCCESS;
}

// The store of the current environment, opened anew when its file changed (or a child process
// inherited it). Called with g_mutex held.
LSTATUS CurrentStore(std::shared_ptr<Store>& out)
{
    std::string path = StorePath();
    std::string folder = path.substr(0, path.rfind('/'));
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0)
        return ERROR_CANTOPEN;
    struct stat st;
    bool exists = stat(path.c_str(), &st) == 0;
    bool readOnly = exists && (st.st_mode & 0222) == 0;
    if (g_store && g_store->owner == getpid() && g_store->path == path && exists && g_store->device == st.st_dev &&
        g_store->inode == st.st_ino && g_store->readOnly == readOnly) {
        out = g_store;
        return ERROR_SUCCESS;
    }
    LSTATUS status = OpenStore(path, readOnly, g_store);
    out = g_store;
    return status;
}

// The open key behind a handle, the predefined HKEY_CURRENT_USER included.
LSTATUS LookupKey(HKEY hKey, std::shared_ptr<OpenKey>& out)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (hKey == HKEY_CURRENT_USER) {
        std::shared_ptr<Store> store;
        LSTATUS status = CurrentStore(store);
        if (status != ERROR_SUCCESS)
            return status;
        out = std::make_shared<OpenKey>(OpenKey{store, kRootKeyId, KEY_ALL_ACCESS});
        return ERROR_SUCCESS;
    }
    auto found = g_keys.find(hKey);
    if (found == g_keys.end())
        return ERROR_INVALID_HANDLE;
    out = found->second;
    return ERROR_SUCCESS;
}

HKEY InsertKey(std::shared_ptr<OpenKey> key)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    HKEY handle = reinterpret_cast<HKEY>(g_nextKey);
    g_nextKey += 4;
    g_keys.emplace(handle, std::move(key));
    return handle;
}

// Names compare as Windows compares them: code unit by code unit, upper-cased.
std::string Fold(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded)
        if (c < 0xD800 || c > 0xDFFF)
            c = static_cast<char16_t>(g_unichar_toupper(c));
    return ToUtf8(folded);
}

// "A\B\C" and "A\B\C\" give A, B, C; an empty name gives none. A leading backslash or an empty
// component in the middle is a bad path, as on Windows.
LSTATUS SplitKeyPath(LPCWSTR subKey, std::vector<std::u16string>& parts)
{
    parts.clear();
    std::u16string_view path = subKey ? subKey : u"";
    if (!path.empty() && path.back() == u'\\')
        path.remove_suffix(1);
    if (path.empty())
        return ERROR_SUCCESS;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (part.empty())
            return ERROR_BAD_PATHNAME;
        if (part.size() > kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        parts.emplace_back(part);
        if (end == std::u16string_view::npos)
            return ERROR_SUCCESS;
        start = end + 1;
    }
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, sqlite3_int64 value)
    {
        if (m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Statement& Bind(int index, const std::string& text)
    {
        if (m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int index, const BYTE* data, DWORD size)
    {
        // A zero-length blob must still be a blob, not NULL.
        static const BYTE empty = 0;
        if (m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_blob(m_stmt, index, size ? data : &empty, static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step()
    {
        if (m_rc == SQLITE_OK || m_rc == SQLITE_ROW)
            m_rc = sqlite3_step(m_stmt);
        return m_rc;
    }
    sqlite3_stmt* Get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

// BEGIN IMMEDIATE takes the write lock at once, so two writers never deadlock on an upgrade.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_db(db)
    {
        m_rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    ~Transaction()
    {
        if (m_rc == SQLITE_OK && !m_done)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    int Begun() const { return m_rc; }
    int Commit()
    {
        m_done = true;
        int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc;
    }

private:
    sqlite3* m_db;
    int m_rc;
    bool m_done = false;
};

// ERROR_SUCCESS when the key still exists, ERROR_KEY_DELETED when it was deleted meanwhile.
LSTATUS CheckKeyExists(sqlite3* db, sqlite3_int64 id, bool writing)
{
    Statement check(db, "SELECT 1 FROM keys WHERE id = ?");
    int rc = check.Bind(1, id).Step();
    if (rc == SQLITE_DONE)
        return ERROR_KEY_DELETED;
    return rc == SQLITE_ROW ? ERROR_SUCCESS : StatusFromSqlite(rc, writing);
}

// Follows parts from a key: SQLITE_ROW with the id found, SQLITE_DONE with the number of parts
// that exist, or an error.
int WalkKeyPath(sqlite3* db, sqlite3_int64 start, const std::vector<std::u16string>& parts, sqlite3_int64& id,
                size_t& found)
{
    id = start;
    for (found = 0; found < parts.size(); ++found) {
        Statement child(db, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
        int rc = child.Bind(1, id).Bind(2, Fold(parts[found])).Step();
        if (rc != SQLITE_ROW)
            return rc;
        id = sqlite3_column_int64(child.Get(), 0);
    }
    return SQLITE_ROW;
}

// The key that a path starts from, and the path's names.
LSTATUS ResolvePath(HKEY hKey, LPCWSTR lpSubKey, std::shared_ptr<OpenKey>& start, std::vector<std::u16string>& parts)
{
    LSTATUS status = SplitKeyPath(lpSubKey, parts);
    return status == ERROR_SUCCESS ? LookupKey(hKey, start) : status;
}

// Runs change() in one write transaction, on a key that still exists; commits only when it succeeded.
template <class Change>
LSTATUS ChangeStore(sqlite3* db, sqlite3_int64 keyId, Change change)
{
    Transaction transaction(db);
    if (int rc = transaction.Begun(); rc != SQLITE_OK)
        return StatusFromSqlite(rc, true);
    LSTATUS status = CheckKeyExists(db, keyId, true);
    if (status == ERROR_SUCCESS)
        status = change();
    return status == ERROR_SUCCESS ? StatusFromSqlite(transaction.Commit(), true) : status;
}

LSTATUS OpenSubKey(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, bool create, PHKEY phkResult,
                   LPDWORD lpdwDisposition)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::shared_ptr<OpenKey> parent;
    std::vector<std::u16string> parts;
    LSTATUS status = ResolvePath(hKey, lpSubKey, parent, parts);
    if (status != ERROR_SUCCESS)
        return status;
    Store& store = *parent->store;
    if (store.readOnly && (samDesired & kWriteAccess))
        return ERROR_ACCESS_DENIED;

    std::lock_guard<std::mutex> lock(store.mutex);
    if ((status = CheckKeyExists(store.db, parent->id, create)) != ERROR_SUCCESS)
        return status;
    sqlite3_int64 id = 0;
    size_t found = 0;
    int rc = WalkKeyPath(store.db, parent->id, parts, id, found);
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (rc == SQLITE_DONE && create) {
        // Walk again inside the transaction: another process may have made some of the keys.
        status = ChangeStore(store.db, parent->id, [&]() -> LSTATUS {
            int step = WalkKeyPath(store.db, parent->id, parts, id, found);
            for (; step == SQLITE_DONE && found < parts.size(); ++found) {
                Statement insert(store.db, "INSERT INTO keys(parent, name, folded) VALUES (?, ?, ?)");
                step = insert.Bind(1, id).Bind(2, ToUtf8(parts[found])).Bind(3, Fold(parts[found])).Step();
                id = sqlite3_last_insert_rowid(store.db);
                disposition = REG_CREATED_NEW_KEY;
            }
            return step == SQLITE_ROW ? ERROR_SUCCESS : StatusFromSqlite(step, true);
        });
        if (status != ERROR_SUCCESS)
            return status;
        rc = SQLITE_ROW;
    }
    if (rc == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW)
        return StatusFromSqlite(rc, create);
    *phkResult = InsertKey(std::make_shared<OpenKey>(OpenKey{parent->store, id, samDesired}));
    if (lpdwDisposition)
        *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

// The open key behind hKey with the access an operation needs, locked for that operation.
LSTATUS KeyForAccess(HKEY hKey, REGSAM needed, std::shared_ptr<OpenKey>& key, std::unique_lock<std::mutex>& lock)
{
    LSTATUS status = LookupKey(hKey, key);
    if (status != ERROR_SUCCESS)
        return status;
    if ((key->access & needed) != needed || (key->store->readOnly && (needed & kWriteAccess)))
        return ERROR_ACCESS_DENIED;
    lock = std::unique_lock<std::mutex>(key->store->mutex);
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD dwOptions, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    // Volatile keys would need a store that forgets them at log-off; nothing here asks for one.
    if (dwOptions != REG_OPTION_NON_VOLATILE)
        return ERROR_INVALID_PARAMETER;
    LSTATUS status = OpenSubKey(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
    Trace("RegCreateKeyExW(\"%s\"): %ld", ToUtf8(lpSubKey).c_str(), static_cast<long>(status));
    return status;
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    LSTATUS status = OpenSubKey(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
    Trace("RegOpenKeyExW(\"%s\"): %ld", ToUtf8(lpSubKey).c_str(), static_cast<long>(status));
    return status;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<OpenKey> key;
    std::unique_lock<std::mutex> lock;
    LSTATUS status = KeyForAccess(hKey, KEY_QUERY_VALUE, key, lock);
    if (status != ERROR_SUCCESS)
        return status;
    sqlite3* db = key->store->db;
    if ((status = CheckKeyExists(db, key->id, false)) != ERROR_SUCCESS)
        return status;
    Statement query(db, "SELECT type, data FROM key_values WHERE key = ? AND folded = ?");
    int rc = query.Bind(1, key->id).Bind(2, Fold(lpValueName ? lpValueName : u"")).Step();
    if (rc == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW)
        return StatusFromSqlite(rc, false);
    DWORD type = static_cast<DWORD>(sqlite3_column_int64(query.Get(), 0));
    const void* data = sqlite3_column_blob(query.Get(), 1);
    DWORD size = static_cast<DWORD>(sqlite3_column_bytes(query.Get(), 1));
    if (lpType)
        *lpType = type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    // Too small a buffer is left untouched; the size needed is reported either way.
    DWORD room = *lpcbData;
    *lpcbData = size;
    if (!lpData)
        return ERROR_SUCCESS;
    if (room < size)
        return ERROR_MORE_DATA;
    if (size)
        std::memcpy(lpData, data, size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<OpenKey> key;
    std::unique_lock<std::mutex> lock;
    LSTATUS status = KeyForAccess(hKey, KEY_SET_VALUE, key, lock);
    if (status != ERROR_SUCCESS)
        return status;
    sqlite3* db = key->store->db;
    std::u16string_view name = lpValueName ? lpValueName : u"";
    Trace("RegSetValueExW(\"%s\", type %u, %u bytes)", ToUtf8(name).c_str(), static_cast<unsigned>(dwType),
          static_cast<unsigned>(cbData));
    return ChangeStore(db, key->id, [&]() -> LSTATUS {
        Statement upsert(db, "INSERT INTO key_values(key, name, folded, type, data) VALUES (?, ?, ?, ?, ?) "
                             "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.Bind(1, key->id).Bind(2, ToUtf8(name)).Bind(3, Fold(name)).Bind(4, dwType);
        return StatusFromSqlite(upsert.BindBlob(5, lpData, cbData).Step(), true);
    });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    std::shared_ptr<OpenKey> key;
    std::unique_lock<std::mutex> lock;
    LSTATUS status = KeyForAccess(hKey, KEY_SET_VALUE, key, lock);
    if (status != ERROR_SUCCESS)
        return status;
    sqlite3* db = key->store->db;
    return ChangeStore(db, key->id, [&]() -> LSTATUS {
        Statement erase(db, "DELETE FROM key_values WHERE key = ? AND folded = ?");
        int rc = erase.Bind(1, key->id).Bind(2, Fold(lpValueName ? lpValueName : u"")).Step();
        if (rc != SQLITE_DONE)
            return StatusFromSqlite(rc, true);
        return sqlite3_changes(db) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<OpenKey> parent;
    std::vector<std::u16string> parts;
    LSTATUS status = ResolvePath(hKey, lpSubKey, parent, parts);
    if (status != ERROR_SUCCESS)
        return status;
    Store& store = *parent->store;
    if (store.readOnly)
        return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(store.mutex);
    return ChangeStore(store.db, parent->id, [&]() -> LSTATUS {
        sqlite3_int64 id = 0;
        size_t found = 0;
        int rc = WalkKeyPath(store.db, parent->id, parts, id, found);
        if (rc == SQLITE_DONE)
            return ERROR_FILE_NOT_FOUND;
        if (rc != SQLITE_ROW)
            return StatusFromSqlite(rc, true);
        if (id == kRootKeyId)
            return ERROR_ACCESS_DENIED;
        Statement children(store.db, "SELECT 1 FROM keys WHERE parent = ?");
        rc = children.Bind(1, id).Step();
        if (rc == SQLITE_ROW)
            return ERROR_ACCESS_DENIED; // sub-keys must be deleted first
        if (rc != SQLITE_DONE)
            return StatusFromSqlite(rc, true);
        Statement values(store.db, "DELETE FROM key_values WHERE key = ?");
        Statement self(store.db, "DELETE FROM keys WHERE id = ?");
        if ((rc = values.Bind(1, id).Step()) == SQLITE_DONE)
            rc = self.Bind(1, id).Step();
        return StatusFromSqlite(rc, true);
    });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (reinterpret_cast<ULONG_PTR>(hKey) >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
        reinterpret_cast<ULONG_PTR>(hKey) <= reinterpret_cast<ULONG_PTR>(HKEY_USERS))
        return ERROR_SUCCESS; // predefined keys are never closed
    std::shared_ptr<OpenKey> key;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto found = g_keys.find(hKey);
        if (found == g_keys.end())
            return ERROR_INVALID_HANDLE;
        key = std::move(found->second);
        g_keys.erase(found);
    }
    return ERROR_SUCCESS;
}
