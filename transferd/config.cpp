#include "config.h"

#include <cstdlib>
#include <fstream>

#include "log.h"

namespace transferd {
namespace {

std::string Trim(const std::string& text) {
  auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

void AddConnectTo(const std::string& list, std::vector<std::string>* out) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    std::string entry = Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!entry.empty()) out->push_back(entry);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

// A whole number from `minimum` up to a year's seconds; *out is left alone otherwise.
bool ParseCount(const std::string& text, int minimum, int* out) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < minimum || value > 86400 * 365) return false;
  *out = static_cast<int>(value);
  return true;
}

}  // namespace

Config LoadConfig(const std::string& path) {
  Config config;
  std::ifstream in(path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    auto equals = line.find('=');
    std::string key = equals == std::string::npos ? line : Trim(line.substr(0, equals));
    std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
    bool ok = equals != std::string::npos;
    if (ok && key == "connect-to") {
      AddConnectTo(value, &config.connect_to);
    } else if (ok && key == "idle-exit") {
      ok = ParseCount(value, 0, &config.idle_exit_seconds);
    } else if (ok && key == "stall-timeout") {
      ok = ParseCount(value, 1, &config.stall_timeout_seconds);
    } else if (ok && key == "connect-timeout") {
      ok = ParseCount(value, 1, &config.connect_timeout_seconds);
    } else if (ok && key == "max-jobs-per-user") {
      ok = ParseCount(value, 1, &config.max_jobs_per_user);
    } else if (ok && key == "max-active-jobs") {
      ok = ParseCount(value, 1, &config.max_active_jobs);
    } else {
      ok = false;
    }
    if (!ok) Log(path + ":" + std::to_string(number) + ": ignored line \"" + line + "\" (unknown key or bad value)");
  }
  if (const char* pins = std::getenv("TRANSFERD_CONNECT_TO")) AddConnectTo(pins, &config.connect_to);
  return config;
}

}  // namespace transferd
