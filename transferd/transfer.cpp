#include "transfer.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "log.h"

namespace transferd {
namespace {

constexpr long kBufferSize = 256 * 1024;
constexpr std::uint64_t kWritebackStep = 8 * 1024 * 1024;
constexpr long kMaxRedirects = 10;
constexpr std::size_t kLongestBaseInTempName = 200;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool ParseSize(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

// "bytes FIRST-LAST/TOTAL", or "bytes */TOTAL" (first and last left unset).
bool ParseContentRange(const std::string& text, std::uint64_t* first, std::uint64_t* total) {
  std::uint64_t last = 0;
  if (std::sscanf(text.c_str(), "bytes %" SCNu64 "-%" SCNu64 "/%" SCNu64, first, &last, total) == 3) {
    return *first <= last && last < *total;
  }
  char star = 0;
  *first = kSizeUnknown;
  return std::sscanf(text.c_str(), "bytes %c/%" SCNu64, &star, total) == 2 && star == '*';
}

// What a file the user creates gets: 0666 less the umask (mkostemps makes 0600).
mode_t NewFileMode() {
  static const mode_t mode = [] {
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

std::string DirName(const std::string& path) { return path.substr(0, std::max<std::size_t>(path.rfind('/'), 1)); }

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

Transfer::Transfer(CurlLoop& loop, const Config& config, Job& job, std::size_t file_index, TransferObserver& observer)
    : m_loop(loop), m_config(config), m_job(job), m_index(file_index), m_observer(observer) {}

Transfer::~Transfer() {
  if (m_easy) {
    m_loop.Remove(m_easy);
    curl_easy_cleanup(m_easy);
  }
  curl_slist_free_all(m_headers);
  curl_slist_free_all(m_connect_to);
  if (m_fd >= 0) close(m_fd);
}

std::optional<Failure> Transfer::OpenTemporaryFile() {
  JobFile& f = file();
  if (!f.temp_path.empty()) {
    m_fd = open(f.temp_path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (m_fd < 0 && errno != ENOENT) return LocalFileFailure(errno, "cannot open " + f.temp_path);
    if (m_fd < 0) Log("job " + m_job.id + ": " + f.temp_path + " has gone; starting the file again from zero");
  }
  if (m_fd < 0) {
    std::string base = BaseName(f.local_path);
    if (base.size() > kLongestBaseInTempName) base = "transferd";
    std::string name = DirName(f.local_path) + "/." + base + ".XXXXXX.part";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    m_fd = mkostemps(buffer.data(), 5, O_CLOEXEC);
    if (m_fd < 0) return LocalFileFailure(errno, "cannot create a temporary file in " + DirName(f.local_path));
    fchmod(m_fd, NewFileMode());
    f.temp_path = buffer.data();
    f.bytes_done = 0;
    f.bytes_total = kSizeUnknown;
    f.etag.clear();
    f.last_modified.clear();
  }
  struct stat st {};
  if (fstat(m_fd, &st) != 0) return LocalFileFailure(errno, "cannot examine " + f.temp_path);
  f.bytes_done = static_cast<std::uint64_t>(st.st_size);
  bool beyond = f.bytes_total != kSizeUnknown && f.bytes_done > f.bytes_total;
  bool unprovable = f.bytes_done > 0 && f.etag.empty() && f.last_modified.empty();
  if (beyond || unprovable) {
    Log("job " + m_job.id + ": dropping the " + std::to_string(f.bytes_done) + " bytes in " + f.temp_path + ": " +
        (beyond ? "more than the file's size" : "the server gave no validator to resume them safely"));
    if (!Truncate()) return m_stopped->failure;
  }
  if (lseek(m_fd, static_cast<off_t>(f.bytes_done), SEEK_SET) < 0) {
    return LocalFileFailure(errno, "cannot seek in " + f.temp_path);
  }
  return std::nullopt;
}

std::optional<Failure> Transfer::Start() {
  if (auto failure = OpenTemporaryFile()) return failure;
  JobFile& f = file();
  m_offset = f.bytes_done;
  m_written_back = m_offset;
  m_easy = curl_easy_init();
  if (!m_easy) return Failure{true, ErrorContext::GeneralQueueManager, hr::kOutOfMemory, "curl_easy_init failed"};
  curl_easy_setopt(m_easy, CURLOPT_URL, f.remote_url.c_str());
  curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this);
  curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_curl_error);
  curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, kBufferSize);
  curl_easy_setopt(m_easy, CURLOPT_USERAGENT, "transferd/1.0");
  curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_config.connect_timeout_seconds));
  curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_config.stall_timeout_seconds));
  for (const std::string& pin : m_config.connect_to) m_connect_to = curl_slist_append(m_connect_to, pin.c_str());
  if (m_connect_to) curl_easy_setopt(m_easy, CURLOPT_CONNECT_TO, m_connect_to);
  if (m_offset > 0) {
    std::string range = std::to_string(m_offset) + "-";
    curl_easy_setopt(m_easy, CURLOPT_RANGE, range.c_str());
    std::string validator = "If-Range: " + (f.etag.empty() ? f.last_modified : f.etag);
    m_headers = curl_slist_append(m_headers, validator.c_str());
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
  }
  m_loop.Add(m_easy);
  return std::nullopt;
}

std::size_t Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    transfer->m_response.clear();  // a new answer (after a redirect or an interim one)
  } else if (auto colon = line.find(':'); colon != std::string::npos) {
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    transfer->m_response[Lower(line.substr(0, colon))] = value;
  }
  return size * count;
}

std::string Transfer::Header(const char* name) const {
  auto found = m_response.find(name);
  return found == m_response.end() ? std::string() : found->second;
}

bool Transfer::Stop(Outcome::Kind kind, Failure failure, const std::string& reason) {
  m_stopped = Outcome{kind, std::move(failure), reason};
  return false;
}

bool Transfer::Truncate() {
  JobFile& f = file();
  if (ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0) {
    return Stop(Outcome::Kind::Failed, LocalFileFailure(errno, "cannot truncate " + f.temp_path), "");
  }
  f.bytes_done = 0;
  f.bytes_total = kSizeUnknown;
  f.etag.clear();
  f.last_modified.clear();
  m_written_back = 0;
  return true;
}

bool Transfer::Restart(const std::string& reason) {
  if (!Truncate()) return false;
  return Stop(Outcome::Kind::Restart, Failure{}, reason);
}

bool Transfer::Accept() {
  m_accepted = true;
  long status = 0;
  curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
  JobFile& f = file();
  std::string etag = Header("etag");
  if (etag.rfind("W/", 0) == 0) etag.clear();  // a weak ETag cannot vouch for byte ranges
  std::string last_modified = Header("last-modified");
  std::uint64_t first = 0, total = 0;
  bool has_range = ParseContentRange(Header("content-range"), &first, &total);

  if (status == 206 && m_offset > 0) {
    if (!has_range || first != m_offset || total != f.bytes_total) {
      return Restart("the server's partial answer (Content-Range \"" + Header("content-range") +
                     "\") does not continue byte " + std::to_string(m_offset) + " of " + std::to_string(f.bytes_total));
    }
    bool etag_changed = !f.etag.empty() && !etag.empty() && etag != f.etag;
    bool date_changed = f.etag.empty() && !last_modified.empty() && last_modified != f.last_modified;
    if (etag_changed || date_changed) {
      return Restart("the server's file changed (" +
                     (etag_changed ? "ETag " + f.etag + " became " + etag
                                   : "Last-Modified " + f.last_modified + " became " + last_modified) +
                     ") yet it answered with a part of it");
    }
    m_observer.OnAccepted(*this, "continuing at byte " + std::to_string(m_offset) + " of " + std::to_string(total));
    return true;
  }
  if (status == 416 && m_offset > 0 && has_range && total == m_offset && total == f.bytes_total) {
    if (fsync(m_fd) != 0) return Stop(Outcome::Kind::Failed, LocalFileFailure(errno, "cannot sync " + f.temp_path), "");
    return Stop(Outcome::Kind::Whole, Failure{}, "all " + std::to_string(total) + " bytes were already on disk");
  }
  if (status == 416 && m_offset > 0) {
    return Restart("the server cannot serve the file from byte " + std::to_string(m_offset));
  }
  if (status == 200) {
    std::uint64_t length = 0;
    if (!ParseSize(Header("content-length"), &length)) {
      return Stop(Outcome::Kind::Failed, MissingFileSize(), "");
    }
    std::string note = "receiving " + std::to_string(length) + " bytes";
    if (m_offset > 0) {
      bool changed = (!f.etag.empty() && etag != f.etag) || (f.etag.empty() && last_modified != f.last_modified);
      note = "restarting from zero after " + std::to_string(m_offset) + " bytes: the server sent the whole file (" +
             (changed ? "its file changed" : "it did not serve the range") + ")";
      if (!Truncate()) return false;
    }
    f.bytes_total = length;
    f.etag = etag;
    f.last_modified = last_modified;
    m_observer.OnAccepted(*this, note);
    return true;
  }
  if (status == 206) {
    return Stop(Outcome::Kind::Failed, InvalidResponse("a partial answer (206) to a request for the whole file"), "");
  }
  return Stop(Outcome::Kind::Failed, HttpFailure(status), "");
}

std::size_t Transfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  std::size_t length = size * count;
  if (transfer->m_stopped || (!transfer->m_accepted && !transfer->Accept())) return 0;
  JobFile& f = transfer->file();
  if (f.bytes_done + length > f.bytes_total) {
    transfer->Stop(Outcome::Kind::Failed,
                   InvalidResponse("the server sent more than the " + std::to_string(f.bytes_total) +
                                   " bytes it announced"),
                   "");
    return 0;
  }
  for (std::size_t written = 0; written < length;) {
    ssize_t result = write(transfer->m_fd, data + written, length - written);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) {
      transfer->Stop(Outcome::Kind::Failed, LocalFileFailure(errno, "cannot write " + f.temp_path), "");
      return 0;
    }
    written += static_cast<std::size_t>(result);
  }
  f.bytes_done += length;
  transfer->m_received += length;
  transfer->StartWriteback();
  transfer->m_observer.OnBytes(*transfer);
  return length;
}

// The file is synced before it counts as whole; handing the written bytes to the
// disk as they come keeps that final sync short.
void Transfer::StartWriteback() {
  std::uint64_t done = file().bytes_done;
  if (done - m_written_back < kWritebackStep) return;
  sync_file_range(m_fd, static_cast<off64_t>(m_written_back), static_cast<off64_t>(done - m_written_back),
                  SYNC_FILE_RANGE_WRITE);
  m_written_back = done;
}

void Transfer::Finish(CURLcode result) {
  JobFile& f = file();
  Outcome outcome;
  if (m_stopped) {
    outcome = *m_stopped;
  } else if (result != CURLE_OK) {
    long os_errno = 0;
    curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &os_errno);
    outcome = Outcome{Outcome::Kind::Failed, TransportFailure(result, os_errno, m_curl_error), ""};
  } else if (!m_accepted && !Accept()) {
    outcome = *m_stopped;
  } else if (f.bytes_done != f.bytes_total) {
    outcome = Outcome{Outcome::Kind::Failed,
                      Failure{true, ErrorContext::GeneralTransport, hr::kInternetConnectionAborted,
                              "the server ended its answer after " + std::to_string(f.bytes_done) + " of " +
                                  std::to_string(f.bytes_total) + " bytes"},
                      ""};
  } else if (fsync(m_fd) != 0) {
    outcome = Outcome{Outcome::Kind::Failed, LocalFileFailure(errno, "cannot sync " + f.temp_path), ""};
  } else {
    outcome = Outcome{Outcome::Kind::Whole, Failure{}, "all " + std::to_string(f.bytes_total) + " bytes received"};
  }
  m_observer.OnDone(*this, outcome);
}

}  // namespace transferd
