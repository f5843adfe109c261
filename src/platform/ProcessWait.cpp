#include "platform/ProcessWait.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace sonarelle {

namespace {

QString ErrnoText(int error) {
  return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

bool Exists(pid_t pid) {
  // EPERM: the process exists but belongs to someone else.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

ProcessEndWait WaitForProcessEnd(pid_t pid) {
  ProcessEndWait result;
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    do {
      ready = ::poll(&entry, 1, -1);
    } while (ready < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (ready > 0) {
      result.how = ProcessEndWait::Ended;
      return result;
    }
    result.whyPolled = QStringLiteral("poll: ") + ErrnoText(error);
  } else if (errno == ESRCH) {
    return result;
  } else {
    // Kernels before 5.3 have no pidfd_open (ENOSYS). Any other refusal (out of descriptors)
    // must not let the caller go on while the process still runs either.
    result.whyPolled = QStringLiteral("pidfd_open: ") + ErrnoText(errno);
  }
  if (!Exists(pid)) return result;
  result.how = ProcessEndWait::Polled;
  while (Exists(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return result;
}

}  // namespace sonarelle
