#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace sonarelle {

// A set of auto-reset events sharing one lock, so that a thread can wait for whichever of
// several is signalled first. A wait that returns an event resets it.
class AutoResetEvents {
 public:
  explicit AutoResetEvents(int count) : signalled_(static_cast<std::size_t>(count), 0) {}

  void Set(int event);
  // True when `event` was signalled within `timeout`.
  bool Wait(int event, std::chrono::milliseconds timeout);
  // Waits without limit; of several signalled events the one listed first wins.
  int WaitAny(std::initializer_list<int> events);

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<char> signalled_;  // one flag per event
};

}  // namespace sonarelle
