// The failure table: what each kind of failure does to a job (which state, which
// error context, which code), and the English text transferd gives for each code.
#pragma once

#include <cstdint>
#include <curl/curl.h>
#include <optional>
#include <string>

#include "codes.h"

namespace transferd {

struct Failure {
  bool transient = false;  // TRANSIENT_ERROR (retried by itself) or ERROR
  ErrorContext context = ErrorContext::None;
  std::uint32_t code = hr::kOk;
  std::string detail;  // what failed and on what, for the log
};

Failure TransportFailure(CURLcode result, long os_errno, const std::string& curl_message);
Failure HttpFailure(long status);
Failure LocalFileFailure(int error_number, const std::string& what);
Failure MissingFileSize();
Failure InvalidResponse(const std::string& detail);

// The HRESULT of a system error (errno), as Windows would report the same cause.
std::uint32_t HresultFromErrno(int error_number);

// transferd's English sentence for a code it reports; none for codes it never reports.
std::optional<std::string> Describe(std::uint32_t code);
// The description in a language: E_INVALIDARG for language 0, ERROR_RESOURCE_LANG_NOT_FOUND
// for a language transferd has no texts in, ERROR_MR_MID_NOT_FOUND for a code without text.
std::uint32_t DescribeIn(std::uint32_t code, std::uint32_t language, std::string* text);
// The same for an error context.
std::uint32_t DescribeContextIn(std::uint32_t context, std::uint32_t language, std::string* text);

}  // namespace transferd
