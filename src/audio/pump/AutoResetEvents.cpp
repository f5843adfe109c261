#include "audio/pump/AutoResetEvents.h"

namespace sonarelle {

void AutoResetEvents::Set(int event) {
  {
    std::lock_guard guard(lock_);
    signalled_[static_cast<std::size_t>(event)] = 1;
  }
  changed_.notify_all();
}

bool AutoResetEvents::Wait(int event, std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  char& flag = signalled_[static_cast<std::size_t>(event)];
  if (!changed_.wait_for(lock, timeout, [&] { return flag != 0; })) return false;
  flag = 0;
  return true;
}

int AutoResetEvents::WaitAny(std::initializer_list<int> events) {
  std::unique_lock lock(lock_);
  int found = -1;
  changed_.wait(lock, [&] {
    for (int event : events) {
      if (signalled_[static_cast<std::size_t>(event)] != 0) {
        found = event;
        return true;
      }
    }
    return false;
  });
  signalled_[static_cast<std::size_t>(found)] = 0;
  return found;
}

}  // namespace sonarelle
