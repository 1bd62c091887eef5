// transferd's log: one line per decision with its reason, to the log file in the
// state folder (and to standard error when running in the foreground).
#pragma once

#include <cstdint>
#include <string>

namespace transferd {

// Opens the log; until then (and in tests) lines go to standard error only when
// `echo` was asked for.
void OpenLog(const std::string& path, bool echo);
void Log(const std::string& line);

std::string Hex(std::uint32_t value);

}  // namespace transferd
