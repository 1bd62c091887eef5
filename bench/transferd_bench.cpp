// Measures transferd from a client's side, for the bench/transferd-*.sh scripts.
//   transferd_bench download URL PATH   seconds from CreateJob to TRANSFERRED, then completes the job
//   transferd_bench queries N URL DIR   N queued jobs, then the time of each state query (GetJob)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "codes.h"

using namespace transferd;
using Clock = std::chrono::steady_clock;

namespace {

bool Check(bool answered, const std::string& error) {
  if (!answered) std::fprintf(stderr, "transferd_bench: %s\n", error.c_str());
  return answered;
}

bool CreateAndResume(Channel& channel, const std::string& url, const std::string& path, std::string* id) {
  std::string error;
  guint result = 0;
  bool answered = channel.Invoke(
      [&](TransferdManager1* proxy, GError** gerror) -> gboolean {
        gchar* new_id = nullptr;
        if (!transferd_manager1_call_create_job_sync(proxy, "bench", kJobTypeDownload, &result, &new_id, nullptr,
                                                     gerror))
          return FALSE;
        *id = new_id;
        g_free(new_id);
        return transferd_manager1_call_add_file_sync(proxy, id->c_str(), url.c_str(), path.c_str(), &result, nullptr,
                                                     gerror) &&
               !hr::Failed(result) &&
               transferd_manager1_call_resume_sync(proxy, id->c_str(), &result, nullptr, gerror);
      },
      &error);
  if (answered && hr::Failed(result)) {
    error = "the service answered 0x" + std::to_string(result);
    answered = false;
  }
  return Check(answered, error);
}

bool State(Channel& channel, const std::string& id, guint* state) {
  std::string error;
  return Check(channel.Invoke(
                   [&](TransferdManager1* proxy, GError** gerror) -> gboolean {
                     guint result = 0, type = 0, files = 0, whole = 0, context = 0, code = 0, delay = 0, timeout = 0;
                     guint64 total = 0, done = 0;
                     gint64 created = 0, modified = 0, completed = 0;
                     gchar* name = nullptr;
                     gboolean answered = transferd_manager1_call_get_job_sync(
                         proxy, id.c_str(), &result, &name, &type, state, &total, &done, &files, &whole, &created,
                         &modified, &completed, &context, &code, &delay, &timeout, nullptr, gerror);
                     g_free(name);
                     return answered;
                   },
                   &error),
               error);
}

int Download(const std::string& url, const std::string& path) {
  Channel channel;
  std::string error;
  if (!Check(channel.Connect(&error), error)) return 1;
  auto start = Clock::now();
  std::string id;
  if (!CreateAndResume(channel, url, path, &id)) return 1;
  guint state = 0;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!State(channel, id, &state)) return 1;
  } while (state != static_cast<guint>(JobState::Transferred) && state != static_cast<guint>(JobState::Error));
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  guint result = 0;
  channel.Invoke(
      [&](TransferdManager1* proxy, GError** gerror) {
        return transferd_manager1_call_complete_sync(proxy, id.c_str(), &result, nullptr, gerror);
      },
      &error);
  if (state != static_cast<guint>(JobState::Transferred)) {
    std::fprintf(stderr, "transferd_bench: the job ended in ERROR\n");
    return 1;
  }
  std::printf("%.3f\n", seconds);
  return 0;
}

int Queries(int count, const std::string& url, const std::string& dir) {
  Channel channel;
  std::vector<std::string> ids(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (!CreateAndResume(channel, url, dir + "/job" + std::to_string(i) + ".bin", &ids[static_cast<std::size_t>(i)]))
      return 1;
  }
  std::vector<double> times;
  for (int round = 0; round < 10; ++round) {
    for (const std::string& id : ids) {
      guint state = 0;
      auto start = Clock::now();
      if (!State(channel, id, &state)) return 1;
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("queries=%zu median_ms=%.3f p99_ms=%.3f max_ms=%.3f\n", times.size(), times[times.size() / 2],
              times[times.size() * 99 / 100], times.back());
  for (const std::string& id : ids) {
    guint result = 0;
    std::string error;
    channel.Invoke(
        [&](TransferdManager1* proxy, GError** gerror) {
          return transferd_manager1_call_cancel_sync(proxy, id.c_str(), &result, nullptr, gerror);
        },
        &error);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "download") return Download(args[1], args[2]);
  if (args.size() == 4 && args[0] == "queries") return Queries(std::stoi(args[1]), args[2], args[3]);
  std::fprintf(stderr, "usage: transferd_bench download URL PATH | queries N URL DIR\n");
  return 2;
}
