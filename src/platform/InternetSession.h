#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace sonarelle {

// How a transfer session reaches the servers.
struct InternetSettings {
  QString Agent;        // the User-Agent header
  QString Proxy;        // "host:port" or a proxy URL; empty: the system's configured access
  QString ProxyUserID;  // credentials for the proxy only, never sent to the origin server
  QString ProxyPassword;
  QString UserID;  // FTP login, used only when both are set
  QString Password;
  bool FTPPassive = false;
  bool KeepAlive = false;  // keep HTTP connections between the session's requests; FTP's always
  QString CaBundle;        // extra trusted certificates (PEM file); empty: the system's only
};

// How one transfer ended.
struct TransferResult {
  enum class Outcome { Done, NotOpened, HttpStatus, ReadError, WriteError, Cancelled, Incomplete };
  Outcome outcome = Outcome::NotOpened;
  long status = 0;      // the HTTP status code, or the FTP reply code
  qint64 received = 0;  // bytes handed to `write`
  qint64 total = 0;     // the announced length (Content-Length, FTP SIZE); 0 when unknown
  int errorCode = 0;    // the transfer library's error number, 0 if none
  QString errorText;    // its text, or the server's reply text
};

// Blocking HTTP, HTTPS and FTP transfers on the calling thread, one session per update run.
// A session may live on any thread but is used by one thread at a time.
class InternetSession {
 public:
  explicit InternetSession(InternetSettings settings);
  ~InternetSession();
  InternetSession(const InternetSession&) = delete;
  InternetSession& operator=(const InternetSession&) = delete;

  // Fetches `url` (http, https, ftp): `write` gets each block of at most 4096 bytes and returns
  // false on a write failure; `cancel` is asked after every block with (received, total) and
  // returns true to stop. Both are called on the calling thread. Redirects are followed. An HTTP
  // status above 299 gives HttpStatus without any body bytes written; fewer bytes than announced
  // gives Incomplete.
  TransferResult Fetch(const QString& url, const std::function<bool(const char*, qint64)>& write,
                       const std::function<bool(qint64, qint64)>& cancel);
  // Logs in to an FTP server (UserID/Password when both set); Done when it answered. Later
  // fetches from that server reuse the login.
  TransferResult ConnectFtp(const QString& host, int port);
  // Sends `body` as an application/x-www-form-urlencoded POST; the answer goes to `answer`.
  TransferResult Post(const QString& url, const QByteArray& body, QByteArray* answer);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Whether an internet connection exists to reach `host`: a loopback host always does; any other
// needs a default route (IPv4 or IPv6) on the machine (/proc/net/route, /proc/net/ipv6_route).
bool InternetConnectionExists(const QString& host);

}  // namespace sonarelle
