// The job store: SQLite in WAL mode. Every save is one committed transaction.
#pragma once

#include <sqlite3.h>
#include <string>
#include <vector>

#include "job.h"

namespace transferd {

class Store {
 public:
  Store() = default;
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens (creating) the database; false with the reason in *error.
  bool Open(const std::string& path, std::string* error);
  std::vector<Job> Load();
  // S_OK, or the HRESULT of the failure (disk full, ...), which is also logged. A state change
  // is synced to the disk before Save returns; progress alone (`durable` false) survives a crash
  // of transferd but not necessarily of the system, and costs no fsync.
  std::uint32_t Save(const Job& job, bool durable = true);
  std::uint32_t Erase(const std::string& id);

 private:
  bool Exec(const char* sql);
  std::uint32_t Fail(const std::string& what);

  sqlite3* m_db = nullptr;
  bool m_durable = true;
};

}  // namespace transferd
