// libcurl's multi interface driven by the thread-default GLib main context, so
// every transfer runs on the service's one thread, beside the IPC.
#pragma once

#include <curl/curl.h>
#include <functional>
#include <glib.h>

namespace transferd {

class CurlLoop {
 public:
  // Told of each finished easy handle (already removed from the loop), outside
  // any libcurl callback, so the handler may free it and start others.
  using DoneHandler = std::function<void(CURL* easy, CURLcode result)>;

  explicit CurlLoop(DoneHandler on_done);
  ~CurlLoop();
  CurlLoop(const CurlLoop&) = delete;
  CurlLoop& operator=(const CurlLoop&) = delete;

  void Add(CURL* easy);
  void Remove(CURL* easy);

 private:
  static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* source);
  static int OnTimer(CURLM* multi, long timeout_ms, void* self);
  static gboolean OnReady(gint fd, GIOCondition condition, gpointer self);
  static gboolean OnTimeout(gpointer self);
  void Act(curl_socket_t socket, int events);

  CURLM* m_multi;
  DoneHandler m_on_done;
  guint m_timer = 0;
};

}  // namespace transferd
