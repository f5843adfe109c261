#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The update tests' local servers (update_servers/servers.py) as a real process on 127.0.0.1:
// HTTP and HTTPS origins over `folder`, an HTTP proxy that asks for kProxyUser/kProxyPassword,
// and an FTP server with kFtpUser/kFtpPassword. Its certificate, made with openssl, and the
// request logs live in a temporary folder of its own. Stopped when destroyed.
class UpdateServers {
 public:
  static constexpr const char* kProxyUser = "proxyuser";
  static constexpr const char* kProxyPassword = "Pr0xy-secret";
  static constexpr const char* kFtpUser = "ftpuser";
  static constexpr const char* kFtpPassword = "Ftp-secret";

  explicit UpdateServers(const QString& folder);
  ~UpdateServers();
  UpdateServers(const UpdateServers&) = delete;
  UpdateServers& operator=(const UpdateServers&) = delete;

  // Empty once every server listens; otherwise what went wrong.
  QString Error() const { return error_; }
  int HttpPort() const { return httpPort_; }
  int HttpsPort() const { return httpsPort_; }
  int ProxyPort() const { return proxyPort_; }
  int FtpPort() const { return ftpPort_; }
  // "http://127.0.0.1:PORT/" + path, and the same for the others; the HTTPS origin's
  // certificate is made out to "localhost".
  QString HttpUrl(const QString& path) const;
  QString HttpsUrl(const QString& path) const;
  QString FtpUrl(const QString& path) const;
  // "127.0.0.1:PORT" of the proxy.
  QString ProxyAddress() const;
  // The PEM file of the HTTPS origin's self-signed certificate.
  QString CaBundle() const;
  // What each server has received so far (see servers.py for the layout).
  QByteArray OriginLog() const;
  QByteArray ProxyLog() const;
  QByteArray FtpLog() const;
  // Ends the process: its standard input closes, and it is killed if it lingers.
  void Stop();

 private:
  QTemporaryDir own_;
  QProcess process_;
  QString error_;
  int httpPort_ = 0;
  int httpsPort_ = 0;
  int proxyPort_ = 0;
  int ftpPort_ = 0;
};
