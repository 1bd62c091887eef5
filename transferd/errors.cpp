#include "errors.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "log.h"

namespace transferd {
namespace {

// Win32 error numbers that the errno values of a failed file operation stand for.
std::uint32_t Win32FromErrno(int error_number) {
  switch (error_number) {
    case ENOENT: return 3;          // ERROR_PATH_NOT_FOUND
    case EMFILE: case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES: case EPERM: return 5;   // ERROR_ACCESS_DENIED
    case ENOMEM: return 8;          // ERROR_NOT_ENOUGH_MEMORY
    case EROFS: return 19;          // ERROR_WRITE_PROTECT
    case EEXIST: return 80;         // ERROR_FILE_EXISTS
    case ENOSPC: case EDQUOT: return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EFBIG: return 223;         // ERROR_FILE_TOO_LARGE
    case ENOTDIR: return 267;       // ERROR_DIRECTORY
    case EIO: return 1117;          // ERROR_IO_DEVICE
    default: return 29;             // ERROR_WRITE_FAULT
  }
}

// The statuses that say "not now" rather than "never".
bool TransientStatus(long status) {
  return status == 408 || status == 409 || status == 429 || (status >= 500 && status != 501 && status != 505);
}

Failure Transport(std::uint32_t code, const std::string& detail) {
  return Failure{true, ErrorContext::GeneralTransport, code, detail};
}

}  // namespace

std::uint32_t HresultFromErrno(int error_number) { return hr::FromWin32(Win32FromErrno(error_number)); }

Failure TransportFailure(CURLcode result, long os_errno, const std::string& curl_message) {
  std::string detail = std::string(curl_easy_strerror(result)) + (curl_message.empty() ? "" : ": " + curl_message);
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Transport(hr::kInternetNameNotResolved, detail);
    case CURLE_COULDNT_CONNECT:
      if (os_errno == ENETUNREACH || os_errno == ENETDOWN) return Transport(hr::kNetworkDisconnected, detail);
      return Transport(hr::kInternetCannotConnect, detail);
    case CURLE_OPERATION_TIMEDOUT:
      return Transport(hr::kInternetTimeout, detail);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return Transport(os_errno == ECONNRESET ? hr::kInternetConnectionReset : hr::kInternetConnectionAborted, detail);
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return Transport(hr::kInternetConnectionAborted, detail);
    case CURLE_PEER_FAILED_VERIFICATION:
      return Failure{false, ErrorContext::GeneralTransport, hr::kInternetInvalidCa, detail};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return Failure{false, ErrorContext::GeneralTransport, hr::kInternetSecureFailure, detail};
    case CURLE_TOO_MANY_REDIRECTS:
      return Failure{false, ErrorContext::RemoteFile, hr::kInternetRedirectFailed, detail};
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Failure{false, ErrorContext::RemoteFile, hr::kInternetUnrecognizedScheme, detail};
    case CURLE_OUT_OF_MEMORY:
      return Failure{true, ErrorContext::GeneralQueueManager, hr::kOutOfMemory, detail};
    default:
      return Transport(hr::kInternetConnectionAborted, detail);
  }
}

Failure HttpFailure(long status) {
  return Failure{TransientStatus(status), ErrorContext::RemoteFile, hr::kHttpBase + static_cast<std::uint32_t>(status),
                 "the server answered HTTP " + std::to_string(status)};
}

Failure LocalFileFailure(int error_number, const std::string& what) {
  return Failure{false, ErrorContext::LocalFile, HresultFromErrno(error_number), what + ": " + std::strerror(error_number)};
}

Failure MissingFileSize() {
  return Failure{false, ErrorContext::RemoteFile, hr::kMissingFileSize, "the server did not say how large the file is"};
}

Failure InvalidResponse(const std::string& detail) {
  return Failure{false, ErrorContext::RemoteFile, hr::kInternetInvalidServerResponse, detail};
}

std::optional<std::string> Describe(std::uint32_t code) {
  static const std::map<std::uint32_t, const char*> kTexts = {
      {hr::kInternetNameNotResolved,
       "The server name could not be resolved. Check that the computer is connected to the network; the download "
       "will be retried automatically."},
      {hr::kInternetCannotConnect,
       "A connection with the server could not be established. The server may be down or unreachable from this "
       "network; the download will be retried automatically."},
      {hr::kInternetTimeout,
       "The server did not respond in time. The download will be retried automatically; check the network "
       "connection if this keeps happening."},
      {hr::kInternetConnectionAborted,
       "The connection with the server was interrupted. The download will continue from where it stopped when it is "
       "retried."},
      {hr::kInternetConnectionReset,
       "The connection with the server was reset. The download will continue from where it stopped when it is "
       "retried."},
      {hr::kNetworkDisconnected,
       "The network is not available. Connect the computer to the network; the download will continue by itself."},
      {hr::kMissingFileSize,
       "The server did not report the size of the file, so it cannot be downloaded safely. Try again later or "
       "contact the publisher of the file."},
      {hr::kInternetInvalidServerResponse,
       "The server sent a response that is not valid. Try again later or contact the publisher of the file."},
      {hr::kInternetInvalidCa,
       "The server's security certificate could not be verified, so the connection was refused. Check the computer's "
       "date and time, or contact the publisher of the file."},
      {hr::kInternetSecureFailure,
       "A secure connection with the server could not be established. Try again later or contact the publisher of "
       "the file."},
      {hr::kInternetRedirectFailed,
       "The server redirected the request too many times. Contact the publisher of the file."},
      {hr::kInternetUnrecognizedScheme,
       "The server redirected the request to an address that is not an http or https address, which is refused."},
      {hr::kOutOfMemory, "The transfer service ran out of memory. Close other programs and try again."},
      {hr::FromWin32(3),
       "The folder for the downloaded file no longer exists. Create the folder again, or start the download again."},
      {hr::FromWin32(4), "Too many files are open on this computer. Close other programs and try again."},
      {hr::kAccessDenied,
       "The downloaded file cannot be written because access to the folder is denied. Check the permissions of the "
       "folder."},
      {hr::FromWin32(8), "There is not enough memory to write the downloaded file. Close other programs and try again."},
      {hr::FromWin32(19), "The folder for the downloaded file is on a disk that cannot be written to."},
      {hr::FromWin32(29), "The downloaded file could not be written to the disk. Check the disk and try again."},
      {hr::FromWin32(80), "A file with the same name already exists and could not be replaced."},
      {hr::FromWin32(112), "There is not enough space on the disk. Free some space and try again."},
      {hr::FromWin32(206), "The name of the downloaded file is too long for the folder it goes into."},
      {hr::FromWin32(223), "The file is too large for the disk it is being written to."},
      {hr::FromWin32(267), "A part of the path of the downloaded file is not a folder."},
      {hr::FromWin32(1117), "The disk reported an input/output error while the file was written. Check the disk."},
      {hr::kHttpBase + 400, "The server rejected the request as malformed (HTTP 400). Contact the publisher of the file."},
      {hr::kHttpBase + 401,
       "The server requires a sign-in for this file (HTTP 401), which the download does not have."},
      {hr::kHttpBase + 403, "The server refused access to the file (HTTP 403). Contact the publisher of the file."},
      {hr::kHttpBase + 404,
       "The file was not found on the server (HTTP 404). Check the address, or contact the publisher of the file."},
      {hr::kHttpBase + 405, "The server does not allow downloading this address (HTTP 405)."},
      {hr::kHttpBase + 406, "The server cannot deliver the file in an acceptable form (HTTP 406)."},
      {hr::kHttpBase + 407, "The proxy server requires a sign-in (HTTP 407). Check the proxy settings."},
      {hr::kHttpBase + 408, "The server timed out waiting for the request (HTTP 408). The download will be retried."},
      {hr::kHttpBase + 409, "The request conflicted with the server's state (HTTP 409). The download will be retried."},
      {hr::kHttpBase + 410,
       "The file is no longer available on the server (HTTP 410). Contact the publisher of the file."},
      {hr::kHttpBase + 411, "The server requires a request length (HTTP 411), which a download does not send."},
      {hr::kHttpBase + 412, "A condition of the request was not met by the server (HTTP 412)."},
      {hr::kHttpBase + 414, "The address of the file is too long for the server (HTTP 414)."},
      {hr::kHttpBase + 416, "The server could not deliver the requested part of the file (HTTP 416)."},
      {hr::kHttpBase + 429,
       "The server is receiving too many requests (HTTP 429). The download will be retried later."},
      {hr::kHttpBase + 451, "The file is not available for legal reasons (HTTP 451)."},
      {hr::kHttpBase + 500,
       "The server had an internal error (HTTP 500). The download will be retried automatically."},
      {hr::kHttpBase + 501, "The server does not support downloading this file (HTTP 501)."},
      {hr::kHttpBase + 502,
       "A gateway or proxy server received a bad response (HTTP 502). The download will be retried automatically."},
      {hr::kHttpBase + 503,
       "The server is temporarily unavailable (HTTP 503). The download will be retried automatically."},
      {hr::kHttpBase + 504,
       "A gateway or proxy server timed out (HTTP 504). The download will be retried automatically."},
      {hr::kHttpBase + 505, "The server does not support the HTTP version used for the download (HTTP 505)."},
  };
  if (auto found = kTexts.find(code); found != kTexts.end()) return std::string(found->second);
  if (code >= hr::kHttpBase + 100 && code < hr::kHttpBase + 600) {
    std::uint32_t status = code - hr::kHttpBase;
    if (status < 400) {
      return "The server answered HTTP " + std::to_string(status) +
             " instead of sending the file. Contact the publisher of the file.";
    }
    if (TransientStatus(status)) {
      return "The server could not handle the request now (HTTP " + std::to_string(status) +
             "). The download will be retried automatically.";
    }
    return "The server refused the download (HTTP " + std::to_string(status) +
           "). Check the address, or contact the publisher of the file.";
  }
  return std::nullopt;
}

namespace {

std::uint32_t InLanguage(const std::optional<std::string>& found, std::uint32_t language, std::string* text) {
  if (language == 0) return hr::kInvalidArg;
  if (language != kLanguageEnglishUs) return hr::kLanguageNotFound;
  if (!found) return hr::FromWin32(317);  // ERROR_MR_MID_NOT_FOUND
  *text = *found;
  return hr::kOk;
}

std::optional<std::string> DescribeContext(std::uint32_t context) {
  static const char* const kTexts[] = {
      "No error occurred.",
      "The cause of the error is not known.",
      "The error occurred in the transfer service itself.",
      "The error occurred while the transfer service notified the program.",
      "The error occurred while the downloaded file was written on this computer.",
      "The error concerns the file on the server.",
      "The error occurred in the network connection with the server.",
      "The error was reported by the server's application.",
  };
  if (context >= sizeof kTexts / sizeof kTexts[0]) return std::nullopt;
  return std::string(kTexts[context]);
}

}  // namespace

std::uint32_t DescribeIn(std::uint32_t code, std::uint32_t language, std::string* text) {
  return InLanguage(Describe(code), language, text);
}

std::uint32_t DescribeContextIn(std::uint32_t context, std::uint32_t language, std::string* text) {
  return InLanguage(DescribeContext(context), language, text);
}

}  // namespace transferd
