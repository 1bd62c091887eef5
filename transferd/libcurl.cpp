// libcurl, loaded the first time a transfer or a URL needs it, so that an idle
// transferd maps none of its TLS and network stack. The functions below are the
// libcurl calls transferd makes, each forwarded to the loaded library.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>

#include "log.h"

namespace transferd {
namespace {

struct Library {
#define TRANSFERD_CURL_FUNCTIONS(X)                                                                               \
  X(curl_global_init) X(curl_easy_init) X(curl_easy_cleanup) X(curl_easy_setopt) X(curl_easy_getinfo)            \
  X(curl_easy_strerror) X(curl_free) X(curl_slist_append) X(curl_slist_free_all) X(curl_multi_init)             \
  X(curl_multi_cleanup) X(curl_multi_setopt) X(curl_multi_add_handle) X(curl_multi_remove_handle)               \
  X(curl_multi_assign) X(curl_multi_socket_action) X(curl_multi_info_read) X(curl_url) X(curl_url_cleanup)      \
  X(curl_url_set) X(curl_url_get)
#define TRANSFERD_DECLARE(name) decltype(&::name) name = nullptr;
  TRANSFERD_CURL_FUNCTIONS(TRANSFERD_DECLARE)
#undef TRANSFERD_DECLARE
};

Library Load() {
  Library library;
  void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  bool complete = handle != nullptr;
#define TRANSFERD_RESOLVE(name)                                                            \
  library.name = handle ? reinterpret_cast<decltype(library.name)>(dlsym(handle, #name)) : nullptr; \
  complete = complete && library.name;
  TRANSFERD_CURL_FUNCTIONS(TRANSFERD_RESOLVE)
#undef TRANSFERD_RESOLVE
  if (!complete) {
    const char* reason = dlerror();
    Log(std::string("cannot load libcurl.so.4, without which nothing can be transferred: ") +
        (reason ? reason : "a function is missing"));
    std::exit(1);
  }
  library.curl_global_init(CURL_GLOBAL_DEFAULT);
  Log("loaded libcurl for the first transfer");
  return library;
}

// Loaded on the first call, on the service's one thread.
const Library& Curl() {
  static const Library library = Load();
  return library;
}

// The type of an option's one argument follows from its number.
template <class Handle, class Option, class Function>
CURLcode ForwardOption(Function function, Handle* handle, Option option, va_list args) {
  long number = static_cast<long>(option);
  if (number < CURLOPTTYPE_OBJECTPOINT) return static_cast<CURLcode>(function(handle, option, va_arg(args, long)));
  if (number >= CURLOPTTYPE_OFF_T && number < CURLOPTTYPE_BLOB) {
    return static_cast<CURLcode>(function(handle, option, va_arg(args, curl_off_t)));
  }
  return static_cast<CURLcode>(function(handle, option, va_arg(args, void*)));
}

}  // namespace
}  // namespace transferd

using transferd::Curl;

extern "C" {

CURL* curl_easy_init() { return Curl().curl_easy_init(); }
void curl_easy_cleanup(CURL* easy) { Curl().curl_easy_cleanup(easy); }
const char* curl_easy_strerror(CURLcode code) { return Curl().curl_easy_strerror(code); }
void curl_free(void* pointer) { Curl().curl_free(pointer); }
curl_slist* curl_slist_append(curl_slist* list, const char* text) { return Curl().curl_slist_append(list, text); }
void curl_slist_free_all(curl_slist* list) {
  if (list) Curl().curl_slist_free_all(list);
}
CURLM* curl_multi_init() { return Curl().curl_multi_init(); }
CURLMcode curl_multi_cleanup(CURLM* multi) { return Curl().curl_multi_cleanup(multi); }
CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) { return Curl().curl_multi_add_handle(multi, easy); }
CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) { return Curl().curl_multi_remove_handle(multi, easy); }
CURLMcode curl_multi_assign(CURLM* multi, curl_socket_t socket, void* data) {
  return Curl().curl_multi_assign(multi, socket, data);
}
CURLMcode curl_multi_socket_action(CURLM* multi, curl_socket_t socket, int events, int* running) {
  return Curl().curl_multi_socket_action(multi, socket, events, running);
}
CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) { return Curl().curl_multi_info_read(multi, queued); }
CURLU* curl_url() { return Curl().curl_url(); }
void curl_url_cleanup(CURLU* url) { Curl().curl_url_cleanup(url); }
CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* text, unsigned int flags) {
  return Curl().curl_url_set(url, part, text, flags);
}
CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** text, unsigned int flags) {
  return Curl().curl_url_get(url, part, text, flags);
}

CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  va_list args;
  va_start(args, option);
  CURLcode result = transferd::ForwardOption(Curl().curl_easy_setopt, easy, option, args);
  va_end(args);
  return result;
}

CURLMcode curl_multi_setopt(CURLM* multi, CURLMoption option, ...) {
  va_list args;
  va_start(args, option);
  auto result = static_cast<CURLMcode>(transferd::ForwardOption(Curl().curl_multi_setopt, multi, option, args));
  va_end(args);
  return result;
}

CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  va_list args;
  va_start(args, info);
  CURLcode result = Curl().curl_easy_getinfo(easy, info, va_arg(args, void*));
  va_end(args);
  return result;
}

}  // extern "C"
