// The service: the user's jobs, the one function through which every state
// change goes, and the scheduling of transfers, retries and time-outs. It runs
// on the thread-default GLib main context and knows nothing of the IPC.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "config.h"
#include "curl_loop.h"
#include "job.h"
#include "store.h"
#include "transfer.h"

namespace transferd {

constexpr std::size_t kMaxDisplayName = 256;
constexpr Micros kUntouchedLimit = 90LL * 86400 * kSecond;
constexpr int kImmediateResumes = 3;

class Service final : public TransferObserver {
 public:
  Service(Store& store, Clock& clock, Config config);
  ~Service() override;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Takes up the stored jobs; those that were transferring continue from the bytes on disk.
  void Start();

  std::uint32_t CreateJob(const std::string& display_name, std::uint32_t type, std::string* id);
  std::uint32_t FindJob(const std::string& id) const;
  std::vector<std::string> ListJobs() const;
  std::uint32_t AddFile(const std::string& id, const std::string& remote_url, const std::string& local_path);
  std::uint32_t Resume(const std::string& id);
  std::uint32_t Suspend(const std::string& id);
  std::uint32_t Cancel(const std::string& id);
  std::uint32_t Complete(const std::string& id);
  std::uint32_t SetDisplayName(const std::string& id, const std::string& display_name);
  std::uint32_t SetMinimumRetryDelay(const std::string& id, std::uint32_t seconds);
  std::uint32_t SetNoProgressTimeout(const std::string& id, std::uint32_t seconds);

  // The job as the service sees it now, completed and cancelled ones included;
  // null when there is no such job.
  const Job* Get(const std::string& id) const;

  // Some job needs transferd to keep running (queued, transferring, waiting to retry).
  bool Busy() const;
  // Called whenever Busy() may have changed.
  void SetBusyHandler(std::function<void()> handler) { m_on_busy = std::move(handler); }

 private:
  // A job that operations may act on; null with BG_E_NOT_FOUND or BG_E_INVALID_STATE.
  Job* Live(const std::string& id, std::uint32_t* result);
  // Every state change goes through here: it stops a transfer the new state does
  // not want, logs the change with its reason and commits the job.
  std::uint32_t SetState(Job& job, JobState to, const std::string& reason, const Failure* failure = nullptr);
  std::uint32_t Touch(Job& job);
  void Pump();
  CurlLoop& Loop();
  void StartNextFile(Job& job);
  void Fail(Job& job, const Failure& failure, std::uint64_t bytes_received);
  std::uint32_t DropTemporaryFiles(Job& job);

  void OnAccepted(Transfer& transfer, const std::string& note) override;
  void OnBytes(Transfer& transfer) override;
  void OnDone(Transfer& transfer, const Outcome& outcome) override;

  Store& m_store;
  Clock& m_clock;
  Config m_config;
  std::unique_ptr<CurlLoop> m_loop;  // made for the first transfer
  std::map<std::string, Job> m_jobs;
  std::map<std::string, std::unique_ptr<Transfer>> m_transfers;
  std::map<std::string, std::int64_t> m_progress_saved;  // monotonic time of the last progress commit
  std::function<void()> m_on_busy;
};

}  // namespace transferd
