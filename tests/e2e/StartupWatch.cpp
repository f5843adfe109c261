#include "StartupWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

StartupWatch::StartupWatch(const QString& display, const QString& file)
    : connection_(xcb_connect(display.toLocal8Bit().constData(), nullptr)),
      inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      stop_(eventfd(0, EFD_CLOEXEC)) {
  if (xcb_connection_has_error(connection_) != 0 || inotify_ < 0 || stop_ < 0 ||
      inotify_add_watch(inotify_, file.toLocal8Bit().constData(), IN_OPEN) < 0) {
    return;
  }
  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  // Checked: the watch is in place before the program can map anything.
  xcb_generic_error_t* error = xcb_request_check(
      connection_,
      xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask));
  if (error != nullptr) {
    std::free(error);
    return;
  }
  usable_ = true;
  thread_ = std::thread([this] { Run(); });
}

StartupWatch::~StartupWatch() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)write(stop_, &one, sizeof one);
    thread_.join();
  }
  if (stop_ >= 0) close(stop_);
  if (inotify_ >= 0) close(inotify_);
  xcb_disconnect(connection_);
}

QStringList StartupWatch::Events(int timeoutMs) const {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return opened_; });
  return events_;
}

void StartupWatch::NoteMaps() {
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
      const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
      if (map->event == root_) {
        const std::lock_guard<std::mutex> guard(lock_);
        events_ << QStringLiteral("map %1").arg(map->window);
      }
    }
    std::free(event);
  }
}

void StartupWatch::Run() {
  for (;;) {
    pollfd fds[] = {{xcb_get_file_descriptor(connection_), POLLIN, 0},
                    {inotify_, POLLIN, 0},
                    {stop_, POLLIN, 0}};
    if (poll(fds, 3, 100) < 0 || (fds[2].revents & POLLIN) != 0 ||
        xcb_connection_has_error(connection_) != 0) {
      return;
    }
    NoteMaps();
    if ((fds[1].revents & POLLIN) == 0) continue;
    alignas(inotify_event) char buffer[4096];
    bool opened = false;
    for (ssize_t got; (got = read(inotify_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        opened = opened || (event->mask & IN_OPEN) != 0;
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
    if (!opened || opened_) continue;
    // Whatever the X server did before this moment reaches us before its reply.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    NoteMaps();
    const std::lock_guard<std::mutex> guard(lock_);
    events_ << QStringLiteral("open");
    opened_ = true;
    changed_.notify_all();
  }
}
