#include "store.h"

#include <memory>

#include "errors.h"
#include "log.h"

namespace transferd {
namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS jobs (
  id TEXT PRIMARY KEY,
  display_name TEXT NOT NULL,
  type INTEGER NOT NULL,
  state INTEGER NOT NULL,
  error_context INTEGER NOT NULL,
  error_code INTEGER NOT NULL,
  created INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  completed INTEGER NOT NULL,
  retry_delay INTEGER NOT NULL,
  no_progress_timeout INTEGER NOT NULL,
  retry_at INTEGER NOT NULL,
  stalled_since INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS files (
  job_id TEXT NOT NULL REFERENCES jobs(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  remote_url TEXT NOT NULL,
  local_path TEXT NOT NULL,
  temp_path TEXT NOT NULL,
  bytes_total INTEGER NOT NULL,
  bytes_done INTEGER NOT NULL,
  etag TEXT NOT NULL,
  last_modified TEXT NOT NULL,
  whole INTEGER NOT NULL,
  PRIMARY KEY (job_id, position)
);
)";

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  return Statement(statement);
}

std::string Text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// SQLite keeps signed 64-bit integers; sizes are unsigned and BG_SIZE_UNKNOWN is all ones.
sqlite3_int64 Signed(std::uint64_t value) { return static_cast<sqlite3_int64>(value); }

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

Store::~Store() {
  if (m_db) sqlite3_close(m_db);
}

bool Store::Open(const std::string& path, std::string* error) {
  if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    *error = "cannot open the job store " + path + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
    return false;
  }
  sqlite3_busy_timeout(m_db, 5000);
  // FULL: a state change that was reported survives a power cut as well.
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL") || !Exec("PRAGMA foreign_keys=ON") ||
      !Exec(kSchema)) {
    *error = "cannot prepare the job store " + path + ": " + sqlite3_errmsg(m_db);
    return false;
  }
  return true;
}

bool Store::Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::uint32_t Store::Fail(const std::string& what) {
  int code = sqlite3_extended_errcode(m_db);
  std::uint32_t result = (code & 0xFF) == SQLITE_FULL ? HresultFromErrno(ENOSPC)
                         : (code & 0xFF) == SQLITE_READONLY || (code & 0xFF) == SQLITE_PERM ? hr::kAccessDenied
                                                                                             : hr::kFail;
  Log("store: " + what + " failed: " + sqlite3_errmsg(m_db) + " (" + Hex(result) + ")");
  Exec("ROLLBACK");
  return result;
}

std::vector<Job> Store::Load() {
  std::vector<Job> jobs;
  Statement select = Prepare(m_db,
                             "SELECT id, display_name, type, state, error_context, error_code, created, modified, "
                             "completed, retry_delay, no_progress_timeout, retry_at, stalled_since FROM jobs "
                             "ORDER BY created, id");
  while (select && sqlite3_step(select.get()) == SQLITE_ROW) {
    sqlite3_stmt* row = select.get();
    Job job;
    job.id = Text(row, 0);
    job.display_name = Text(row, 1);
    job.type = static_cast<std::uint32_t>(sqlite3_column_int64(row, 2));
    job.state = static_cast<JobState>(sqlite3_column_int64(row, 3));
    job.error_context = static_cast<ErrorContext>(sqlite3_column_int64(row, 4));
    job.error_code = static_cast<std::uint32_t>(sqlite3_column_int64(row, 5));
    job.created = sqlite3_column_int64(row, 6);
    job.modified = sqlite3_column_int64(row, 7);
    job.completed = sqlite3_column_int64(row, 8);
    job.retry_delay = static_cast<std::uint32_t>(sqlite3_column_int64(row, 9));
    job.no_progress_timeout = static_cast<std::uint32_t>(sqlite3_column_int64(row, 10));
    job.retry_at = sqlite3_column_int64(row, 11);
    job.stalled_since = sqlite3_column_int64(row, 12);
    jobs.push_back(std::move(job));
  }
  Statement files = Prepare(m_db,
                            "SELECT remote_url, local_path, temp_path, bytes_total, bytes_done, etag, last_modified, "
                            "whole FROM files WHERE job_id = ? ORDER BY position");
  for (Job& job : jobs) {
    sqlite3_reset(files.get());
    BindText(files.get(), 1, job.id);
    while (sqlite3_step(files.get()) == SQLITE_ROW) {
      sqlite3_stmt* row = files.get();
      JobFile file;
      file.remote_url = Text(row, 0);
      file.local_path = Text(row, 1);
      file.temp_path = Text(row, 2);
      file.bytes_total = static_cast<std::uint64_t>(sqlite3_column_int64(row, 3));
      file.bytes_done = static_cast<std::uint64_t>(sqlite3_column_int64(row, 4));
      file.etag = Text(row, 5);
      file.last_modified = Text(row, 6);
      file.whole = sqlite3_column_int64(row, 7) != 0;
      job.files.push_back(std::move(file));
    }
  }
  return jobs;
}

std::uint32_t Store::Save(const Job& job, bool durable) {
  if (durable != m_durable) {
    Exec(durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
    m_durable = durable;
  }
  if (!Exec("BEGIN IMMEDIATE")) return Fail("saving job " + job.id);
  Statement upsert = Prepare(m_db,
                             "INSERT OR REPLACE INTO jobs (id, display_name, type, state, error_context, error_code, "
                             "created, modified, completed, retry_delay, no_progress_timeout, retry_at, stalled_since) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!upsert) return Fail("saving job " + job.id);
  sqlite3_stmt* row = upsert.get();
  BindText(row, 1, job.id);
  BindText(row, 2, job.display_name);
  sqlite3_bind_int64(row, 3, job.type);
  sqlite3_bind_int64(row, 4, static_cast<sqlite3_int64>(job.state));
  sqlite3_bind_int64(row, 5, static_cast<sqlite3_int64>(job.error_context));
  sqlite3_bind_int64(row, 6, job.error_code);
  sqlite3_bind_int64(row, 7, job.created);
  sqlite3_bind_int64(row, 8, job.modified);
  sqlite3_bind_int64(row, 9, job.completed);
  sqlite3_bind_int64(row, 10, job.retry_delay);
  sqlite3_bind_int64(row, 11, job.no_progress_timeout);
  sqlite3_bind_int64(row, 12, job.retry_at);
  sqlite3_bind_int64(row, 13, job.stalled_since);
  if (sqlite3_step(row) != SQLITE_DONE) return Fail("saving job " + job.id);

  Statement clear = Prepare(m_db, "DELETE FROM files WHERE job_id = ?");
  if (!clear) return Fail("saving the files of job " + job.id);
  BindText(clear.get(), 1, job.id);
  if (sqlite3_step(clear.get()) != SQLITE_DONE) return Fail("saving the files of job " + job.id);
  Statement insert = Prepare(m_db,
                             "INSERT INTO files (job_id, position, remote_url, local_path, temp_path, bytes_total, "
                             "bytes_done, etag, last_modified, whole) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  if (!insert) return Fail("saving the files of job " + job.id);
  for (std::size_t position = 0; position < job.files.size(); ++position) {
    const JobFile& file = job.files[position];
    sqlite3_stmt* file_row = insert.get();
    sqlite3_reset(file_row);
    BindText(file_row, 1, job.id);
    sqlite3_bind_int64(file_row, 2, static_cast<sqlite3_int64>(position));
    BindText(file_row, 3, file.remote_url);
    BindText(file_row, 4, file.local_path);
    BindText(file_row, 5, file.temp_path);
    sqlite3_bind_int64(file_row, 6, Signed(file.bytes_total));
    sqlite3_bind_int64(file_row, 7, Signed(file.bytes_done));
    BindText(file_row, 8, file.etag);
    BindText(file_row, 9, file.last_modified);
    sqlite3_bind_int64(file_row, 10, file.whole ? 1 : 0);
    if (sqlite3_step(file_row) != SQLITE_DONE) return Fail("saving the files of job " + job.id);
  }
  if (!Exec("COMMIT")) return Fail("committing job " + job.id);
  return hr::kOk;
}

std::uint32_t Store::Erase(const std::string& id) {
  Statement erase = Prepare(m_db, "DELETE FROM jobs WHERE id = ?");
  if (!erase) return Fail("erasing job " + id);
  BindText(erase.get(), 1, id);
  if (sqlite3_step(erase.get()) != SQLITE_DONE) return Fail("erasing job " + id);
  return hr::kOk;
}

}  // namespace transferd
