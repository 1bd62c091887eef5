#include "service.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log.h"

namespace transferd {
namespace {

constexpr Micros kProgressCommitInterval = kSecond;

std::string NewGuid() {
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(g_random_int());
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  char text[40];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

bool ValidName(const std::string& name) {
  return g_utf8_validate(name.c_str(), static_cast<gssize>(name.size()), nullptr) &&
         g_utf8_strlen(name.c_str(), static_cast<gssize>(name.size())) <= static_cast<glong>(kMaxDisplayName);
}

// http and https only, with a host; anything else is refused before it reaches libcurl.
bool ValidRemoteUrl(const std::string& url, std::string* reason) {
  CURLU* parsed = curl_url();
  bool valid = false;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    *reason = "not a URL";
  } else {
    char* scheme = nullptr;
    char* host = nullptr;
    curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(parsed, CURLUPART_HOST, &host, 0);
    gchar* lowered = g_ascii_strdown(scheme ? scheme : "", -1);
    std::string lower = lowered;
    g_free(lowered);
    valid = (lower == "http" || lower == "https") && host && *host;
    if (!valid) *reason = host && *host ? "only http and https are allowed" : "no host";
    curl_free(scheme);
    curl_free(host);
  }
  curl_url_cleanup(parsed);
  return valid;
}

std::string Folder(const std::string& path) { return path.substr(0, std::max<std::size_t>(path.rfind('/'), 1)); }

void SyncFolder(const std::string& path) {
  int fd = open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

std::string Seconds(Micros duration) { return std::to_string(duration / kSecond) + " s"; }

}  // namespace

std::uint64_t Job::BytesTotal() const {
  std::uint64_t total = 0;
  for (const JobFile& file : files) {
    if (file.bytes_total == kSizeUnknown) return kSizeUnknown;
    total += file.bytes_total;
  }
  return total;
}

std::uint64_t Job::BytesTransferred() const {
  std::uint64_t done = 0;
  for (const JobFile& file : files) done += file.bytes_done;
  return done;
}

std::uint32_t Job::FilesTransferred() const {
  return static_cast<std::uint32_t>(std::count_if(files.begin(), files.end(), [](const JobFile& f) { return f.whole; }));
}

Service::Service(Store& store, Clock& clock, Config config)
    : m_store(store),
      m_clock(clock),
      m_config(std::move(config)) {
  m_clock.SetWakeHandler([this] { Pump(); });
}

Service::~Service() {
  for (auto& [id, transfer] : m_transfers) {
    Job& job = transfer->job();
    m_store.Save(job);
    Log("job " + id + ": stopped with " + std::to_string(job.BytesTransferred()) + " bytes on disk (transferd ends)");
  }
  m_transfers.clear();
  m_clock.SetWakeHandler(nullptr);
}

void Service::Start() {
  for (Job& stored : m_store.Load()) {
    for (JobFile& file : stored.files) {
      struct stat st {};
      if (!file.whole && !file.temp_path.empty() && stat(file.temp_path.c_str(), &st) == 0) {
        file.bytes_done = static_cast<std::uint64_t>(st.st_size);
      }
    }
    m_jobs.emplace(stored.id, std::move(stored));
  }
  Log("started with " + std::to_string(m_jobs.size()) + " stored jobs");
  for (auto& [id, job] : m_jobs) {
    if (job.state == JobState::Connecting || job.state == JobState::Transferring) {
      SetState(job, JobState::Queued,
               "transferd started again; continuing from the " + std::to_string(job.BytesTransferred()) +
                   " bytes on disk");
    }
  }
  Pump();
}

const Job* Service::Get(const std::string& id) const {
  auto found = m_jobs.find(id);
  return found == m_jobs.end() ? nullptr : &found->second;
}

Job* Service::Live(const std::string& id, std::uint32_t* result) {
  auto found = m_jobs.find(id);
  if (found == m_jobs.end()) {
    *result = hr::kNotFound;
    return nullptr;
  }
  if (found->second.Finished()) {
    *result = hr::kInvalidState;
    return nullptr;
  }
  *result = hr::kOk;
  return &found->second;
}

std::uint32_t Service::FindJob(const std::string& id) const {
  const Job* job = Get(id);
  return job && !job->Finished() ? hr::kOk : hr::kNotFound;
}

std::vector<std::string> Service::ListJobs() const {
  std::vector<const Job*> live;
  for (const auto& [id, job] : m_jobs) {
    if (!job.Finished()) live.push_back(&job);
  }
  std::sort(live.begin(), live.end(), [](const Job* a, const Job* b) { return a->created < b->created; });
  std::vector<std::string> ids;
  for (const Job* job : live) ids.push_back(job->id);
  return ids;
}

bool Service::Busy() const {
  return std::any_of(m_jobs.begin(), m_jobs.end(), [](const auto& entry) {
    JobState state = entry.second.state;
    return state == JobState::Queued || state == JobState::Connecting || state == JobState::Transferring ||
           state == JobState::TransientError;
  });
}

std::uint32_t Service::SetState(Job& job, JobState to, const std::string& reason, const Failure* failure) {
  JobState from = job.state;
  Micros now = m_clock.Now();
  if (to != JobState::Connecting && to != JobState::Transferring) {
    m_transfers.erase(job.id);
    m_progress_saved.erase(job.id);
    job.immediate_resumes = 0;
  }
  job.state = to;
  job.modified = now;
  if (failure) {
    job.error_context = failure->context;
    job.error_code = failure->code;
  } else if (to != JobState::Error && to != JobState::TransientError) {
    job.error_context = ErrorContext::None;
    job.error_code = 0;
  }
  if (to == JobState::Transferred) job.completed = now;
  job.retry_at = to == JobState::TransientError
                     ? now + std::max(job.retry_delay, kMinimumRetryDelay) * kSecond
                     : 0;
  if (to == JobState::TransientError && job.stalled_since == 0) job.stalled_since = now;
  std::string line = "job " + job.id + " \"" + job.display_name + "\": " + StateName(from) + " -> " + StateName(to) +
                     ": " + reason;
  if (failure) line += " [" + std::string(ContextName(failure->context)) + ", " + Hex(failure->code) + "]";
  Log(line);
  return m_store.Save(job);
}

std::uint32_t Service::Touch(Job& job) {
  job.modified = m_clock.Now();
  return m_store.Save(job);
}

std::uint32_t Service::CreateJob(const std::string& display_name, std::uint32_t type, std::string* id) {
  if (type != kJobTypeDownload || !ValidName(display_name)) {
    Log("refused to create a job: " + std::string(type != kJobTypeDownload ? "only download jobs are supported"
                                                                            : "the display name is too long or not UTF-8"));
    return hr::kInvalidArg;
  }
  if (ListJobs().size() >= static_cast<std::size_t>(m_config.max_jobs_per_user)) {
    Log("refused to create job \"" + display_name + "\": the user already has " +
        std::to_string(m_config.max_jobs_per_user) + " jobs");
    return hr::kTooManyJobsPerUser;
  }
  Job job;
  do {
    job.id = NewGuid();
  } while (m_jobs.count(job.id));
  job.display_name = display_name;
  job.type = type;
  job.created = job.modified = m_clock.Now();
  std::uint32_t result = m_store.Save(job);
  if (hr::Failed(result)) return result;
  Log("job " + job.id + " \"" + display_name + "\": created (SUSPENDED)");
  *id = job.id;
  m_jobs.emplace(job.id, std::move(job));
  return hr::kOk;
}

std::uint32_t Service::AddFile(const std::string& id, const std::string& remote_url, const std::string& local_path) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  if (job->state == JobState::Transferred) return hr::kInvalidState;
  std::string reason;
  std::string base = local_path.substr(local_path.rfind('/') + 1);
  if (!ValidRemoteUrl(remote_url, &reason)) {
    result = hr::kInvalidArg;
    reason = "remote name \"" + remote_url + "\" refused: " + reason;
  } else if (local_path.empty() || local_path[0] != '/' || base.empty() || base == "." || base == "..") {
    result = hr::kInvalidArg;
    reason = "local name \"" + local_path + "\" refused: not an absolute path of a file";
  } else {
    struct stat st {};
    std::string folder = Folder(local_path);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(folder.c_str(), W_OK | X_OK) != 0) {
      result = hr::kAccessDenied;
      reason = "local name \"" + local_path + "\" refused: its folder cannot be written (" + std::strerror(errno) + ")";
    }
  }
  if (hr::Failed(result)) {
    Log("job " + id + ": " + reason);
    return result;
  }
  JobFile file;
  file.remote_url = remote_url;
  file.local_path = local_path;
  job->files.push_back(file);
  Log("job " + id + ": added " + remote_url + " -> " + local_path);
  result = Touch(*job);
  Pump();
  return result;
}

std::uint32_t Service::Resume(const std::string& id) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  switch (job->state) {
    case JobState::Suspended:
      if (job->files.empty()) return hr::kEmpty;
      result = SetState(*job, JobState::Queued, "resumed by the client");
      break;
    case JobState::Error:
      job->stalled_since = 0;
      result = SetState(*job, JobState::Queued, "resumed by the client after an error");
      break;
    case JobState::TransientError:
      result = SetState(*job, JobState::Queued, "resumed by the client before the retry delay passed");
      break;
    default:
      break;
  }
  Pump();
  return result;
}

std::uint32_t Service::Suspend(const std::string& id) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  if (job->state != JobState::Suspended && job->state != JobState::Transferred) {
    result = SetState(*job, JobState::Suspended,
                      "suspended by the client with " + std::to_string(job->BytesTransferred()) + " bytes on disk");
    Pump();
  }
  return result;
}

std::uint32_t Service::DropTemporaryFiles(Job& job) {
  std::uint32_t result = hr::kOk;
  for (JobFile& file : job.files) {
    if (file.temp_path.empty()) continue;
    if (unlink(file.temp_path.c_str()) != 0 && errno != ENOENT) {
      Log("job " + job.id + ": cannot delete " + file.temp_path + ": " + std::strerror(errno));
      result = HresultFromErrno(errno);
    }
    file.temp_path.clear();
  }
  return result;
}

std::uint32_t Service::Cancel(const std::string& id) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  m_transfers.erase(id);
  DropTemporaryFiles(*job);
  result = SetState(*job, JobState::Cancelled, "cancelled by the client; temporary files deleted");
  Pump();
  return result;
}

std::uint32_t Service::Complete(const std::string& id) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  m_transfers.erase(id);
  std::size_t placed = 0, partial = 0;
  for (JobFile& file : job->files) {
    if (!file.whole) {
      if (!file.temp_path.empty()) ++partial;
      continue;
    }
    if (file.temp_path.empty()) continue;  // placed by an earlier Complete that failed later
    if (rename(file.temp_path.c_str(), file.local_path.c_str()) != 0) {
      int error = errno;
      Log("job " + id + ": cannot move " + file.temp_path + " to " + file.local_path + ": " + std::strerror(error));
      if (job->state == JobState::Connecting || job->state == JobState::Transferring) {
        SetState(*job, JobState::Queued, "completion failed; the transfer goes on");
      } else {
        Touch(*job);
      }
      Pump();
      return HresultFromErrno(error);
    }
    SyncFolder(file.local_path);
    file.temp_path.clear();
    ++placed;
  }
  for (JobFile& file : job->files) {
    if (!file.whole) file.bytes_done = 0;
  }
  DropTemporaryFiles(*job);
  bool whole = std::all_of(job->files.begin(), job->files.end(), [](const JobFile& f) { return f.whole; });
  result = SetState(*job, JobState::Acknowledged,
                    "completed by the client: " + std::to_string(placed) + " files moved into place, " +
                        std::to_string(partial) + " partial files deleted");
  Pump();
  if (hr::Failed(result)) return result;
  return whole ? hr::kOk : hr::kPartialComplete;
}

std::uint32_t Service::SetDisplayName(const std::string& id, const std::string& display_name) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  if (!ValidName(display_name)) return hr::kInvalidArg;
  job->display_name = display_name;
  return Touch(*job);
}

std::uint32_t Service::SetMinimumRetryDelay(const std::string& id, std::uint32_t seconds) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  job->retry_delay = seconds;
  if (job->state == JobState::TransientError) {
    job->retry_at = job->modified + std::max(seconds, kMinimumRetryDelay) * kSecond;
  }
  result = Touch(*job);
  Pump();
  return result;
}

std::uint32_t Service::SetNoProgressTimeout(const std::string& id, std::uint32_t seconds) {
  std::uint32_t result;
  Job* job = Live(id, &result);
  if (!job) return result;
  job->no_progress_timeout = seconds;
  result = Touch(*job);
  Pump();
  return result;
}

void Service::Pump() {
  Micros now = m_clock.Now();
  Micros next = 0;
  auto consider = [&next](Micros when) {
    if (next == 0 || when < next) next = when;
  };
  std::vector<Job*> queued;
  for (auto entry = m_jobs.begin(); entry != m_jobs.end();) {
    Job& job = entry->second;
    Micros untouched_until = job.modified + kUntouchedLimit;
    if (job.Finished()) {
      // Kept so that a client still holding the job learns BG_E_INVALID_STATE; forgotten later.
      if (now >= untouched_until) {
        m_store.Erase(job.id);
        entry = m_jobs.erase(entry);
        continue;
      }
    } else if (now >= untouched_until) {
      m_transfers.erase(job.id);
      DropTemporaryFiles(job);
      SetState(job, JobState::Cancelled, "untouched for 90 days; temporary files deleted");
    } else if (job.state == JobState::TransientError) {
      Micros give_up = job.stalled_since + job.no_progress_timeout * kSecond;
      if (now >= give_up) {
        Failure last{false, job.error_context, job.error_code, ""};
        SetState(job, JobState::Error,
                 "no byte arrived for " + Seconds(now - job.stalled_since) + " (the no-progress time-out is " +
                     std::to_string(job.no_progress_timeout) + " s)",
                 &last);
      } else if (now >= job.retry_at) {
        SetState(job, JobState::Queued, "the retry delay of " + std::to_string(job.retry_delay) + " s has passed");
      } else {
        consider(std::min(job.retry_at, give_up));
      }
    }
    if (job.state == JobState::Queued) queued.push_back(&job);
    consider(job.modified + kUntouchedLimit);
    ++entry;
  }
  std::sort(queued.begin(), queued.end(), [](const Job* a, const Job* b) { return a->created < b->created; });
  for (Job* job : queued) {
    if (m_transfers.size() >= static_cast<std::size_t>(m_config.max_active_jobs)) break;
    StartNextFile(*job);
  }
  m_clock.WakeAt(next);
  if (m_on_busy) m_on_busy();
}

CurlLoop& Service::Loop() {
  if (!m_loop) {
    m_loop = std::make_unique<CurlLoop>([](CURL* easy, CURLcode result) {
      Transfer* transfer = nullptr;
      curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
      transfer->Finish(result);
    });
  }
  return *m_loop;
}

void Service::StartNextFile(Job& job) {
  auto next = std::find_if(job.files.begin(), job.files.end(), [](const JobFile& f) { return !f.whole; });
  if (next == job.files.end()) {
    SetState(job, JobState::Transferred, "all " + std::to_string(job.files.size()) + " files are whole");
    return;
  }
  std::size_t index = static_cast<std::size_t>(next - job.files.begin());
  auto transfer = std::make_unique<Transfer>(Loop(), m_config, job, index, *this);
  if (std::optional<Failure> failure = transfer->Start()) {
    Fail(job, *failure, 0);
    return;
  }
  m_transfers[job.id] = std::move(transfer);
  std::string what = "requesting " + next->remote_url +
                     (next->bytes_done ? " from byte " + std::to_string(next->bytes_done) : std::string());
  if (job.state == JobState::Transferring) {
    Log("job " + job.id + ": " + what);
    m_store.Save(job);
  } else {
    SetState(job, JobState::Connecting, what);
  }
}

void Service::Fail(Job& job, const Failure& failure, std::uint64_t bytes_received) {
  bool broke_off = failure.transient && failure.context == ErrorContext::GeneralTransport && bytes_received > 0;
  if (broke_off && job.immediate_resumes < kImmediateResumes) {
    ++job.immediate_resumes;
    Log("job " + job.id + ": the connection broke after " + std::to_string(bytes_received) + " bytes (" +
        failure.detail + "); resuming at once (" + std::to_string(job.immediate_resumes) + " of " +
        std::to_string(kImmediateResumes) + ")");
    StartNextFile(job);
    return;
  }
  if (!failure.transient) {
    SetState(job, JobState::Error, failure.detail, &failure);
    return;
  }
  Micros now = m_clock.Now();
  Micros stalled = job.stalled_since ? now - job.stalled_since : 0;
  if (stalled >= job.no_progress_timeout * kSecond) {
    SetState(job, JobState::Error,
             failure.detail + "; no byte arrived for " + Seconds(stalled) + " (the no-progress time-out is " +
                 std::to_string(job.no_progress_timeout) + " s)",
             &failure);
    return;
  }
  SetState(job, JobState::TransientError,
           failure.detail + "; retrying in " + std::to_string(std::max(job.retry_delay, kMinimumRetryDelay)) + " s",
           &failure);
}

void Service::OnAccepted(Transfer& transfer, const std::string& note) {
  Job& job = transfer.job();
  if (job.state == JobState::Connecting) {
    SetState(job, JobState::Transferring, note);
  } else {
    Log("job " + job.id + ": " + note);
    m_store.Save(job);
  }
}

void Service::OnBytes(Transfer& transfer) {
  Job& job = transfer.job();
  job.stalled_since = 0;
  std::int64_t now = g_get_monotonic_time();
  std::int64_t& saved = m_progress_saved[job.id];
  if (now - saved >= kProgressCommitInterval) {
    saved = now;
    m_store.Save(job, false);  // the bytes on disk are what counts after a crash
  }
}

void Service::OnDone(Transfer& transfer, const Outcome& outcome) {
  Job& job = transfer.job();
  JobFile& file = transfer.file();
  std::unique_ptr<Transfer> finished = std::move(m_transfers[job.id]);
  m_transfers.erase(job.id);
  switch (outcome.kind) {
    case Outcome::Kind::Whole:
      file.whole = true;
      job.immediate_resumes = 0;
      Log("job " + job.id + ": " + file.remote_url + " is whole: " + outcome.reason);
      StartNextFile(job);
      break;
    case Outcome::Kind::Restart:
      Log("job " + job.id + ": restarting " + file.remote_url + " from zero: " + outcome.reason);
      m_store.Save(job);
      StartNextFile(job);
      break;
    case Outcome::Kind::Failed:
      Fail(job, outcome.failure, transfer.bytes_received());
      break;
  }
  Pump();
}

}  // namespace transferd
