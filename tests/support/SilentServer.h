#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <QByteArray>
#include <QString>

// A unix socket that takes connections and never answers: a hung sound server.
class SilentServer {
 public:
  explicit SilentServer(const QString& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    std::memcpy(address.sun_path, bytes.constData(),
                std::min<std::size_t>(bytes.size(), sizeof address.sun_path - 1));
    listening_ = fd_ >= 0 &&
                 bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                 listen(fd_, 8) == 0;
  }
  ~SilentServer() {
    if (fd_ >= 0) close(fd_);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  bool Listening() const { return listening_; }

 private:
  int fd_;
  bool listening_ = false;
};
