// A job as transferd keeps it, in memory and in the store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "clock.h"
#include "codes.h"

namespace transferd {

constexpr std::uint32_t kDefaultRetryDelay = 600;
constexpr std::uint32_t kMinimumRetryDelay = 5;
constexpr std::uint32_t kDefaultNoProgressTimeout = 14 * 86400;

struct JobFile {
  std::string remote_url;
  std::string local_path;
  std::string temp_path;  // empty until the temporary file is created
  std::uint64_t bytes_total = kSizeUnknown;
  std::uint64_t bytes_done = 0;
  // The validators of the version the temporary file holds, sent back with If-Range.
  std::string etag;
  std::string last_modified;
  bool whole = false;  // every byte is in the temporary file, fsynced
};

struct Job {
  std::string id;  // GUID in registry form
  std::string display_name;
  std::uint32_t type = kJobTypeDownload;
  JobState state = JobState::Suspended;
  ErrorContext error_context = ErrorContext::None;
  std::uint32_t error_code = 0;
  Micros created = 0;
  Micros modified = 0;
  Micros completed = 0;
  std::uint32_t retry_delay = kDefaultRetryDelay;
  std::uint32_t no_progress_timeout = kDefaultNoProgressTimeout;
  Micros retry_at = 0;         // when a TRANSIENT_ERROR job is queued again
  Micros stalled_since = 0;    // first transient error with no byte since; 0 while bytes flow
  std::vector<JobFile> files;
  int immediate_resumes = 0;  // in a row, within one stretch of transferring; not stored

  bool Finished() const { return state == JobState::Acknowledged || state == JobState::Cancelled; }
  std::uint64_t BytesTotal() const;
  std::uint64_t BytesTransferred() const;
  std::uint32_t FilesTransferred() const;
};

}  // namespace transferd
