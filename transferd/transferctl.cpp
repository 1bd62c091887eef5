// transferctl: look at and steer the user's transferd jobs from a terminal.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "client.h"
#include "codes.h"

namespace transferd {
namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(500);

volatile std::sig_atomic_t g_interrupted = 0;

struct JobInfo {
  std::uint32_t result = hr::kFail;
  std::string name;
  JobState state = JobState::Suspended;
  std::uint64_t bytes_total = 0, bytes_done = 0;
  std::uint32_t files_total = 0, files_done = 0;
  std::int64_t created = 0, modified = 0, completed = 0;
  ErrorContext context = ErrorContext::None;
  std::uint32_t code = 0;
  std::uint32_t retry_delay = 0, no_progress_timeout = 0;
};

const char* CodeName(std::uint32_t code) {
  static const std::map<std::uint32_t, const char*> kNames = {
      {hr::kOk, "S_OK"},
      {hr::kPartialComplete, "BG_S_PARTIAL_COMPLETE"},
      {hr::kNotFound, "BG_E_NOT_FOUND"},
      {hr::kInvalidState, "BG_E_INVALID_STATE"},
      {hr::kEmpty, "BG_E_EMPTY"},
      {hr::kErrorInformationUnavailable, "BG_E_ERROR_INFORMATION_UNAVAILABLE"},
      {hr::kTooManyJobsPerUser, "BG_E_TOO_MANY_JOBS_PER_USER"},
      {hr::kInvalidArg, "E_INVALIDARG"},
      {hr::kAccessDenied, "E_ACCESSDENIED"},
  };
  auto found = kNames.find(code);
  return found == kNames.end() ? "" : found->second;
}

class Client {
 public:
  bool Ok(bool done) {
    if (!done) std::fprintf(stderr, "transferctl: %s\n", m_error.c_str());
    return done;
  }

  bool List(std::vector<std::string>* ids) {
    return Ok(m_channel.Invoke(
        [&](TransferdManager1* proxy, GError** error) -> gboolean {
          gchar** list = nullptr;
          if (!transferd_manager1_call_list_jobs_sync(proxy, &list, nullptr, error)) return FALSE;
          ids->assign(list, list + g_strv_length(list));
          g_strfreev(list);
          return TRUE;
        },
        &m_error));
  }

  bool Get(const std::string& id, JobInfo* info) {
    return Ok(m_channel.Invoke(
        [&](TransferdManager1* proxy, GError** error) -> gboolean {
          gchar* name = nullptr;
          guint state = 0, context = 0;
          gboolean done = transferd_manager1_call_get_job_sync(
              proxy, id.c_str(), &info->result, &name, nullptr, &state, &info->bytes_total, &info->bytes_done,
              &info->files_total, &info->files_done, &info->created, &info->modified, &info->completed, &context,
              &info->code, &info->retry_delay, &info->no_progress_timeout, nullptr, error);
          if (done) {
            info->name = name;
            info->state = static_cast<JobState>(state);
            info->context = static_cast<ErrorContext>(context);
          }
          g_free(name);
          return done;
        },
        &m_error));
  }

  bool Files(const std::string& id, GVariant** files) {
    return Ok(m_channel.Invoke(
        [&](TransferdManager1* proxy, GError** error) -> gboolean {
          guint result = 0;
          return transferd_manager1_call_get_files_sync(proxy, id.c_str(), &result, files, nullptr, error);
        },
        &m_error));
  }

  std::string Describe(std::uint32_t code) {
    std::string text;
    m_channel.Invoke(
        [&](TransferdManager1* proxy, GError** error) -> gboolean {
          guint result = 0;
          gchar* description = nullptr;
          gboolean done = transferd_manager1_call_get_error_description_sync(proxy, code, kLanguageEnglishUs, &result,
                                                                             &description, nullptr, error);
          if (done && !hr::Failed(result)) text = description;
          g_free(description);
          return done;
        },
        &m_error);
    return text;
  }

  using Operation = gboolean (*)(TransferdManager1*, const gchar*, guint*, GCancellable*, GError**);
  bool Run(Operation operation, const std::string& id, std::uint32_t* result) {
    return Ok(m_channel.Invoke(
        [&](TransferdManager1* proxy, GError** error) -> gboolean { return operation(proxy, id.c_str(), result, nullptr, error); },
        &m_error));
  }

  bool Create(const std::string& name, const std::string& url, const std::string& path, std::string* id,
              std::uint32_t* result) {
    return Ok(m_channel.Invoke(
        [&](TransferdManager1* proxy, GError** error) -> gboolean {
          gchar* new_id = nullptr;
          if (!transferd_manager1_call_create_job_sync(proxy, name.c_str(), kJobTypeDownload, result, &new_id,
                                                       nullptr, error)) {
            return FALSE;
          }
          *id = new_id;
          g_free(new_id);
          if (hr::Failed(*result)) return TRUE;
          if (!transferd_manager1_call_add_file_sync(proxy, id->c_str(), url.c_str(), path.c_str(), result, nullptr,
                                                     error)) {
            return FALSE;
          }
          if (hr::Failed(*result)) return TRUE;
          return transferd_manager1_call_resume_sync(proxy, id->c_str(), result, nullptr, error);
        },
        &m_error));
  }

 private:
  Channel m_channel;
  std::string m_error;
};

std::string Size(std::uint64_t bytes) {
  return bytes == kSizeUnknown ? std::string("?") : std::to_string(bytes);
}

std::string Time(std::int64_t micros) {
  if (micros == 0) return "-";
  std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  std::tm local {};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Percent(const JobInfo& info) {
  if (info.bytes_total == kSizeUnknown || info.bytes_total == 0) return "   ";
  char text[8];
  std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(info.bytes_done * 100 / info.bytes_total));
  return text;
}

std::string Line(const std::string& id, const JobInfo& info) {
  char text[512];
  std::snprintf(text, sizeof text, "%s  %-15s %s %s / %s bytes  %s", id.c_str(), StateName(info.state),
                Percent(info).c_str(), std::to_string(info.bytes_done).c_str(), Size(info.bytes_total).c_str(),
                info.name.c_str());
  return text;
}

int Report(const char* what, const std::string& id, std::uint32_t result) {
  const char* name = CodeName(result);
  if (hr::Failed(result)) {
    std::fprintf(stderr, "transferctl: %s %s: 0x%08X %s\n", what, id.c_str(), result, name);
    return 1;
  }
  std::printf("%s %s: 0x%08X %s\n", what, id.c_str(), result, name);
  return 0;
}

int List(Client& client) {
  std::vector<std::string> ids;
  if (!client.List(&ids)) return 1;
  for (const std::string& id : ids) {
    JobInfo info;
    if (client.Get(id, &info) && !hr::Failed(info.result)) std::printf("%s\n", Line(id, info).c_str());
  }
  return 0;
}

int Show(Client& client, const std::string& id) {
  JobInfo info;
  if (!client.Get(id, &info)) return 1;
  if (hr::Failed(info.result)) return Report("show", id, info.result);
  std::printf("Job %s\n  Name: %s\n  State: %s\n", id.c_str(), info.name.c_str(), StateName(info.state));
  std::printf("  Progress: %s of %s bytes, %u of %u files\n", std::to_string(info.bytes_done).c_str(),
              Size(info.bytes_total).c_str(), info.files_done, info.files_total);
  std::printf("  Created: %s  Modified: %s  Transferred: %s\n", Time(info.created).c_str(), Time(info.modified).c_str(),
              Time(info.completed).c_str());
  std::printf("  Minimum retry delay: %u s  No-progress time-out: %u s\n", info.retry_delay, info.no_progress_timeout);
  if (info.state == JobState::Error || info.state == JobState::TransientError) {
    std::printf("  Error: %s 0x%08X: %s\n", ContextName(info.context), info.code, client.Describe(info.code).c_str());
  }
  GVariant* files = nullptr;
  if (!client.Files(id, &files)) return 1;
  GVariantIter iter;
  g_variant_iter_init(&iter, files);
  const gchar *url, *local, *temp;
  guint64 total, done;
  gboolean whole;
  int number = 0;
  while (g_variant_iter_next(&iter, "(&s&s&sttb)", &url, &local, &temp, &total, &done, &whole)) {
    std::printf("  File %d: %s\n    -> %s\n    %s of %s bytes%s%s%s\n", ++number, url, local,
                std::to_string(done).c_str(), Size(total).c_str(), whole ? ", whole" : "",
                *temp ? ", in " : "", temp);
  }
  g_variant_unref(files);
  return 0;
}

bool Settled(JobState state) {
  return state == JobState::Suspended || state == JobState::Error || state == JobState::Transferred ||
         state == JobState::Acknowledged || state == JobState::Cancelled;
}

// Shows the jobs until Ctrl-C; with job ids, until each of them has settled
// (nothing moves by itself any more). Succeeds when all given jobs transferred.
int Watch(Client& client, std::vector<std::string> ids) {
  std::signal(SIGINT, [](int) { g_interrupted = 1; });
  bool all = ids.empty();
  bool terminal = isatty(STDOUT_FILENO);
  std::map<std::string, std::string> shown;
  while (!g_interrupted) {
    if (all && !client.List(&ids)) return 1;
    std::string screen;
    bool settled = true, transferred = true;
    for (const std::string& id : ids) {
      JobInfo info;
      if (!client.Get(id, &info)) return 1;
      std::string line = hr::Failed(info.result) ? id + "  (no such job)" : Line(id, info);
      settled = settled && (hr::Failed(info.result) || Settled(info.state));
      transferred = transferred && !hr::Failed(info.result) && info.state == JobState::Transferred;
      screen += line + "\n";
      if (!terminal && shown[id] != line) std::printf("%s\n", line.c_str());
      shown[id] = line;
    }
    if (terminal) std::printf("\033[H\033[J%s", screen.c_str());
    std::fflush(stdout);
    if (!all && settled) return transferred ? 0 : 1;
    std::this_thread::sleep_for(kWatchInterval);
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: transferctl list\n"
               "       transferctl show JOB\n"
               "       transferctl suspend|resume|cancel|complete JOB\n"
               "       transferctl watch [JOB...]\n"
               "       transferctl create NAME URL LOCAL-PATH\n"
               "JOB is a job's GUID, as list shows it. watch with jobs ends when they have settled,\n"
               "successfully when all of them were transferred.\n");
  return 2;
}

}  // namespace
}  // namespace transferd

int main(int argc, char** argv) {
  using namespace transferd;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  Client client;
  const std::string& command = args[0];
  if (command == "list" && args.size() == 1) return List(client);
  if (command == "show" && args.size() == 2) return Show(client, args[1]);
  if (command == "watch") return Watch(client, std::vector<std::string>(args.begin() + 1, args.end()));
  if (command == "create" && args.size() == 4) {
    std::string id;
    std::uint32_t result = hr::kFail;
    if (!client.Create(args[1], args[2], args[3], &id, &result)) return 1;
    if (hr::Failed(result)) return Report("create", id, result);
    std::printf("%s\n", id.c_str());
    return 0;
  }
  static const std::map<std::string, Client::Operation> kOperations = {
      {"suspend", transferd_manager1_call_suspend_sync},
      {"resume", transferd_manager1_call_resume_sync},
      {"cancel", transferd_manager1_call_cancel_sync},
      {"complete", transferd_manager1_call_complete_sync},
  };
  auto operation = kOperations.find(command);
  if (operation == kOperations.end() || args.size() != 2) return Usage();
  std::uint32_t result = hr::kFail;
  if (!client.Run(operation->second, args[1], &result)) return 1;
  return Report(command.c_str(), args[1], result);
}
