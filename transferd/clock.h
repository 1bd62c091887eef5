// The service's notion of time. Retry delays, the no-progress time-out and the
// expiry of untouched jobs are measured on it, so tests can drive them with a
// fake clock instead of waiting.
#pragma once

#include <cstdint>
#include <functional>

namespace transferd {

using Micros = std::int64_t;  // microseconds since the Unix epoch
constexpr Micros kSecond = 1000000;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Micros Now() const = 0;
  // Asks for one call of the wake handler at or after `when`, replacing any
  // earlier request; 0 cancels.
  virtual void WakeAt(Micros when) = 0;
  void SetWakeHandler(std::function<void()> handler) { m_wake = std::move(handler); }

 protected:
  void Wake() {
    if (m_wake) m_wake();
  }

 private:
  std::function<void()> m_wake;
};

// Wall-clock time, woken from the thread-default GLib main context.
class SystemClock final : public Clock {
 public:
  ~SystemClock() override;
  Micros Now() const override;
  void WakeAt(Micros when) override;

 private:
  unsigned m_source = 0;
};

// Time moves only when a test advances it; due wake requests fire then.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(Micros start) : m_now(start) {}
  Micros Now() const override { return m_now; }
  void WakeAt(Micros when) override { m_wake_at = when; }
  void Advance(Micros by);
  Micros PendingWake() const { return m_wake_at; }

 private:
  Micros m_now;
  Micros m_wake_at = 0;
};

}  // namespace transferd
