#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include <QSocketNotifier>

namespace sonarelle {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGHUP, SIGINT};

// Written by the handler, read on the owner's thread: a pipe is all a handler may touch.
int g_pipe[2] = {-1, -1};
std::array<struct sigaction, kSignals.size()> g_previous{};

void OnSignal(int signal) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Read(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    sigaction(kSignals[i], &action, &g_previous[i]);
  }
}

TerminationSignals::~TerminationSignals() {
  if (!notifier_) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    sigaction(kSignals[i], &g_previous[i], nullptr);
  }
  notifier_.reset();
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::Read() {
  unsigned char byte = 0;
  while (::read(g_pipe[0], &byte, 1) == 1) {
    if (onSignal_) onSignal_(byte);
  }
}

}  // namespace sonarelle
