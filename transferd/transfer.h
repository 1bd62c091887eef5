// One HTTP request that brings one file of a job into its temporary file: the
// range and If-Range sent, what the answer means for the bytes already on disk
// (keep, or restart from zero), and how the request ended.
#pragma once

#include <curl/curl.h>
#include <map>
#include <optional>
#include <string>

#include "config.h"
#include "curl_loop.h"
#include "errors.h"
#include "job.h"

namespace transferd {

class Transfer;

struct Outcome {
  enum class Kind {
    Whole,    // every announced byte is on disk and synced
    Restart,  // the bytes on disk were dropped; ask again from zero at once
    Failed,
  };
  Kind kind = Kind::Failed;
  Failure failure;
  std::string reason;  // for the log
};

class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  // The answer was accepted and the file's record changed (size, validators, a
  // restart from zero): the record must be committed before bytes are written.
  virtual void OnAccepted(Transfer& transfer, const std::string& note) = 0;
  virtual void OnBytes(Transfer& transfer) = 0;
  // The request ended. The observer may destroy the transfer here.
  virtual void OnDone(Transfer& transfer, const Outcome& outcome) = 0;
};

class Transfer {
 public:
  Transfer(CurlLoop& loop, const Config& config, Job& job, std::size_t file_index, TransferObserver& observer);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Opens the temporary file (creating it exclusively beside the local file when
  // it has none) and sends the request. A failure here starts nothing.
  std::optional<Failure> Start();
  // Called by the loop's owner when libcurl finished this transfer's handle.
  void Finish(CURLcode result);

  Job& job() { return m_job; }
  std::size_t file_index() const { return m_index; }
  JobFile& file() { return m_job.files[m_index]; }
  std::uint64_t bytes_received() const { return m_received; }
  CURL* handle() const { return m_easy; }

 private:
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
  std::optional<Failure> OpenTemporaryFile();
  // Judges the answer once its headers are in; false when the transfer must stop.
  bool Accept();
  bool Restart(const std::string& reason);
  bool Stop(Outcome::Kind kind, Failure failure, const std::string& reason);
  bool Truncate();
  void StartWriteback();
  std::string Header(const char* name) const;

  CurlLoop& m_loop;
  const Config& m_config;
  Job& m_job;
  std::size_t m_index;
  TransferObserver& m_observer;
  CURL* m_easy = nullptr;
  curl_slist* m_headers = nullptr;
  curl_slist* m_connect_to = nullptr;
  int m_fd = -1;
  std::uint64_t m_offset = 0;  // the first byte asked for
  bool m_accepted = false;
  std::uint64_t m_received = 0;
  std::uint64_t m_written_back = 0;  // bytes handed to the disk so far
  std::map<std::string, std::string> m_response;
  std::optional<Outcome> m_stopped;
  char m_curl_error[CURL_ERROR_SIZE] = {};
};

}  // namespace transferd
