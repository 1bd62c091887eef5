// The numbers transferd shares with its clients: job states, error contexts and
// result codes, with the values the COM interfaces of the client give them.
#pragma once

#include <cstdint>
#include <limits>

namespace transferd {

enum class JobState : std::uint32_t {
  Queued = 0,
  Connecting = 1,
  Transferring = 2,
  Suspended = 3,
  Error = 4,
  TransientError = 5,
  Transferred = 6,
  Acknowledged = 7,
  Cancelled = 8,
};

enum class ErrorContext : std::uint32_t {
  None = 0,
  Unknown = 1,
  GeneralQueueManager = 2,
  QueueManagerNotification = 3,
  LocalFile = 4,
  RemoteFile = 5,
  GeneralTransport = 6,
  RemoteApplication = 7,
};

constexpr std::uint32_t kJobTypeDownload = 0;
constexpr std::uint64_t kSizeUnknown = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kLanguageEnglishUs = 1033;

namespace hr {
constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kFail = 0x80004005;
constexpr std::uint32_t kNotImpl = 0x80004001;
constexpr std::uint32_t kInvalidArg = 0x80070057;
constexpr std::uint32_t kAccessDenied = 0x80070005;
constexpr std::uint32_t kOutOfMemory = 0x8007000E;
constexpr std::uint32_t kLanguageNotFound = 0x80070717;  // ERROR_RESOURCE_LANG_NOT_FOUND
constexpr std::uint32_t kNotFound = 0x80200001;
constexpr std::uint32_t kInvalidState = 0x80200002;
constexpr std::uint32_t kEmpty = 0x80200003;
constexpr std::uint32_t kErrorInformationUnavailable = 0x8020000F;
constexpr std::uint32_t kNetworkDisconnected = 0x80200010;
constexpr std::uint32_t kMissingFileSize = 0x80200011;
constexpr std::uint32_t kTooManyJobsPerUser = 0x80200049;
constexpr std::uint32_t kPartialComplete = 0x00200017;
constexpr std::uint32_t kHttpBase = 0x80190000;  // + the HTTP status

// Internet errors (WinINet numbering) for transport failures.
constexpr std::uint32_t kInternetTimeout = 0x80072EE2;
constexpr std::uint32_t kInternetUnrecognizedScheme = 0x80072EE6;
constexpr std::uint32_t kInternetNameNotResolved = 0x80072EE7;
constexpr std::uint32_t kInternetCannotConnect = 0x80072EFD;
constexpr std::uint32_t kInternetConnectionAborted = 0x80072EFE;
constexpr std::uint32_t kInternetConnectionReset = 0x80072EFF;
constexpr std::uint32_t kInternetInvalidCa = 0x80072F0D;
constexpr std::uint32_t kInternetRedirectFailed = 0x80072F7C;
constexpr std::uint32_t kInternetInvalidServerResponse = 0x80072F78;
constexpr std::uint32_t kInternetSecureFailure = 0x80072F8F;

constexpr std::uint32_t FromWin32(std::uint32_t error) { return 0x80070000u | (error & 0xFFFFu); }
constexpr bool Failed(std::uint32_t code) { return (code & 0x80000000u) != 0; }
}  // namespace hr

const char* StateName(JobState state);
const char* ContextName(ErrorContext context);

}  // namespace transferd
