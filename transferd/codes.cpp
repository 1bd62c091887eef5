#include "codes.h"

namespace transferd {

const char* StateName(JobState state) {
  static const char* const kNames[] = {"QUEUED", "CONNECTING", "TRANSFERRING", "SUSPENDED",   "ERROR",
                                       "TRANSIENT_ERROR", "TRANSFERRED", "ACKNOWLEDGED", "CANCELLED"};
  auto index = static_cast<std::uint32_t>(state);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "UNKNOWN";
}

const char* ContextName(ErrorContext context) {
  static const char* const kNames[] = {"NONE",      "UNKNOWN",     "GENERAL_QUEUE_MANAGER", "QUEUE_MANAGER_NOTIFICATION",
                                       "LOCAL_FILE", "REMOTE_FILE", "GENERAL_TRANSPORT",     "REMOTE_APPLICATION"};
  auto index = static_cast<std::uint32_t>(context);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "UNKNOWN";
}

}  // namespace transferd
