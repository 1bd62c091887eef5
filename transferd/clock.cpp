#include "clock.h"

#include <algorithm>
#include <glib.h>

namespace transferd {

SystemClock::~SystemClock() {
  if (m_source) g_source_remove(m_source);
}

Micros SystemClock::Now() const { return g_get_real_time(); }

void SystemClock::WakeAt(Micros when) {
  if (m_source) g_source_remove(m_source);
  m_source = 0;
  if (when <= 0) return;
  // Whole seconds are enough for delays counted in seconds; the cap keeps a
  // changed system clock from postponing a wake-up for long.
  Micros delay = std::clamp<Micros>(when - Now(), 0, 3600 * kSecond);
  m_source = g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, static_cast<guint>((delay + kSecond - 1) / kSecond),
                                        [](gpointer self) -> gboolean {
                                          auto* clock = static_cast<SystemClock*>(self);
                                          clock->m_source = 0;
                                          clock->Wake();
                                          return G_SOURCE_REMOVE;
                                        },
                                        this, nullptr);
}

void FakeClock::Advance(Micros by) {
  m_now += by;
  if (m_wake_at > 0 && m_wake_at <= m_now) {
    m_wake_at = 0;
    Wake();
  }
}

}  // namespace transferd
