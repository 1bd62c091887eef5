#include "log.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace transferd {
namespace {

constexpr off_t kRotateSize = 4 * 1024 * 1024;

std::mutex g_mutex;
FILE* g_file = nullptr;
bool g_echo = false;

}  // namespace

void OpenLog(const std::string& path, bool echo) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_echo = echo;
  if (path.empty()) return;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && st.st_size > kRotateSize) {
    std::rename(path.c_str(), (path + ".1").c_str());
  }
  if (g_file) std::fclose(g_file);
  g_file = std::fopen(path.c_str(), "ae");
  if (g_file) setvbuf(g_file, nullptr, _IOLBF, 0);
}

void Log(const std::string& line) {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc {};
  gmtime_r(&now.tv_sec, &utc);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, now.tv_nsec / 1000000);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_file) std::fprintf(g_file, "%s transferd[%d]: %s\n", stamp, static_cast<int>(getpid()), line.c_str());
  if (g_echo) std::fprintf(stderr, "%s transferd[%d]: %s\n", stamp, static_cast<int>(getpid()), line.c_str());
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace transferd
