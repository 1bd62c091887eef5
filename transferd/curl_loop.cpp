#include "curl_loop.h"

#include <glib-unix.h>
#include <vector>

namespace transferd {

CurlLoop::CurlLoop(DoneHandler on_done) : m_multi(curl_multi_init()), m_on_done(std::move(on_done)) {
  curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlLoop::OnSocket);
  curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlLoop::OnTimer);
  curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
}

CurlLoop::~CurlLoop() {
  if (m_timer) g_source_remove(m_timer);
  curl_multi_cleanup(m_multi);
}

void CurlLoop::Add(CURL* easy) { curl_multi_add_handle(m_multi, easy); }

void CurlLoop::Remove(CURL* easy) { curl_multi_remove_handle(m_multi, easy); }

int CurlLoop::OnSocket(CURL*, curl_socket_t socket, int what, void* self, void* source) {
  auto* loop = static_cast<CurlLoop*>(self);
  if (source) {
    g_source_destroy(static_cast<GSource*>(source));
    g_source_unref(static_cast<GSource*>(source));
    curl_multi_assign(loop->m_multi, socket, nullptr);
  }
  if (what == CURL_POLL_REMOVE) return 0;
  int condition = G_IO_ERR | G_IO_HUP;
  if (what & CURL_POLL_IN) condition |= G_IO_IN;
  if (what & CURL_POLL_OUT) condition |= G_IO_OUT;
  GSource* watch = g_unix_fd_source_new(socket, static_cast<GIOCondition>(condition));
  g_source_set_callback(watch, G_SOURCE_FUNC(&CurlLoop::OnReady), loop, nullptr);
  g_source_attach(watch, g_main_context_get_thread_default());
  curl_multi_assign(loop->m_multi, socket, watch);
  return 0;
}

int CurlLoop::OnTimer(CURLM*, long timeout_ms, void* self) {
  auto* loop = static_cast<CurlLoop*>(self);
  if (loop->m_timer) g_source_remove(loop->m_timer);
  loop->m_timer = 0;
  if (timeout_ms >= 0) {
    GSource* timer = g_timeout_source_new(static_cast<guint>(timeout_ms));
    g_source_set_callback(timer, &CurlLoop::OnTimeout, loop, nullptr);
    loop->m_timer = g_source_attach(timer, g_main_context_get_thread_default());
    g_source_unref(timer);
  }
  return 0;
}

gboolean CurlLoop::OnReady(gint fd, GIOCondition condition, gpointer self) {
  int events = 0;
  if (condition & G_IO_IN) events |= CURL_CSELECT_IN;
  if (condition & G_IO_OUT) events |= CURL_CSELECT_OUT;
  if (condition & (G_IO_ERR | G_IO_HUP)) events |= CURL_CSELECT_ERR;
  static_cast<CurlLoop*>(self)->Act(fd, events);
  return G_SOURCE_CONTINUE;
}

gboolean CurlLoop::OnTimeout(gpointer self) {
  auto* loop = static_cast<CurlLoop*>(self);
  loop->m_timer = 0;
  loop->Act(CURL_SOCKET_TIMEOUT, 0);
  return G_SOURCE_REMOVE;
}

void CurlLoop::Act(curl_socket_t socket, int events) {
  int running = 0;
  curl_multi_socket_action(m_multi, socket, events, &running);
  std::vector<std::pair<CURL*, CURLcode>> finished;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
    if (message->msg == CURLMSG_DONE) finished.emplace_back(message->easy_handle, message->data.result);
  }
  for (auto& [easy, result] : finished) {
    curl_multi_remove_handle(m_multi, easy);
    m_on_done(easy, result);
  }
}

}  // namespace transferd
