#include "platform/InternetSession.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <netinet/in.h>

#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "platform/LibrarySymbol.h"

namespace sonarelle {

namespace {

// The engine hands blocks of this size to its file and to the host's progress callback.
constexpr size_t kBlock = 4096;

// Kernel route flags (linux/route.h).
constexpr unsigned kRouteUp = 0x0001;
constexpr unsigned kRouteReject = 0x0200;

// The entry points of curl the sessions use. The library is opened with the first session,
// not with the program: it and the libraries it brings slow the program's start.
struct CurlApi {
  decltype(&::curl_global_init) globalInit = nullptr;
  decltype(&::curl_easy_init) init = nullptr;
  decltype(&::curl_easy_cleanup) cleanup = nullptr;
  decltype(&::curl_easy_reset) reset = nullptr;
  decltype(&::curl_easy_setopt) setopt = nullptr;
  decltype(&::curl_easy_perform) perform = nullptr;
  decltype(&::curl_easy_getinfo) getinfo = nullptr;
  decltype(&::curl_easy_strerror) errorText = nullptr;
  decltype(&::curl_slist_append) slistAppend = nullptr;
  decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
};

// curl, opened and initialised on the first call and kept until the process ends; null when
// it is missing or lacks an entry point.
const CurlApi* LoadCurl() {
  static const CurlApi* const api = []() -> const CurlApi* {
    void* library = dlopen(SONARELLE_CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    static CurlApi bound;
    const auto bind = [library](const char* symbol, auto& target) {
      return BindSymbol(library, symbol, target);
    };
    if (!(bind("curl_global_init", bound.globalInit) && bind("curl_easy_init", bound.init) &&
          bind("curl_easy_cleanup", bound.cleanup) && bind("curl_easy_reset", bound.reset) &&
          bind("curl_easy_setopt", bound.setopt) && bind("curl_easy_perform", bound.perform) &&
          bind("curl_easy_getinfo", bound.getinfo) && bind("curl_easy_strerror", bound.errorText) &&
          bind("curl_slist_append", bound.slistAppend) &&
          bind("curl_slist_free_all", bound.slistFreeAll)) ||
        bound.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      dlclose(library);
      return nullptr;
    }
    return &bound;
  }();
  return api;
}

// The loaded library: only used where a session holds a handle of it.
const CurlApi& Curl() {
  return *LoadCurl();
}

// What one transfer saw, shared with the callbacks that curl calls during curl_easy_perform.
struct Transfer {
  CURL* curl = nullptr;
  bool http = false;
  const std::function<bool(const char*, qint64)>* write = nullptr;
  const std::function<bool(qint64, qint64)>* cancel = nullptr;
  qint64 received = 0;
  qint64 total = 0;
  bool refused = false;  // an HTTP status above 299 arrived with a body, which was dropped
  bool writeFailed = false;
  bool cancelled = false;
  QString reason;  // the reason phrase of the last HTTP status line

  void ReadTotal() {
    curl_off_t length = -1;
    Curl().getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    total = length > 0 ? static_cast<qint64>(length) : 0;
  }
};

long ResponseCode(CURL* curl) {
  long code = 0;
  Curl().getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

// Called by curl on the transferring thread with each piece of the body.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (t->http && ResponseCode(t->curl) > 299) {
    t->refused = true;
    return 0;
  }
  t->ReadTotal();
  for (size_t at = 0; at < bytes; at += kBlock) {
    const size_t n = std::min(kBlock, bytes - at);
    if (!(*t->write)(data + at, static_cast<qint64>(n))) {
      t->writeFailed = true;
      return 0;
    }
    t->received += static_cast<qint64>(n);
    if ((*t->cancel)(t->received, t->total)) {
      t->cancelled = true;
      return 0;
    }
  }
  return bytes;
}

// Called by curl with each header line; keeps the reason phrase of the status line.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  const QByteArray line = QByteArray(data, static_cast<qsizetype>(bytes)).trimmed();
  if (t->http && line.startsWith("HTTP/")) {
    // "HTTP/1.1 404 Not Found": the reason follows the second space, and may be missing.
    const QList<QByteArray> parts = line.split(' ');
    t->reason = parts.size() > 2
                    ? QString::fromLatin1(line.mid(parts[0].size() + parts[1].size() + 2))
                    : QString();
  }
  return bytes;
}

bool IsLoopback(QString host) {
  host = host.trimmed();
  if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
    host = host.mid(1, host.size() - 2);
  if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
      host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
    return true;
  const QByteArray text = host.toLatin1();
  in_addr v4{};
  if (inet_pton(AF_INET, text.constData(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.constData(), &v6) == 1) {
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
  }
  return false;
}

unsigned long Hex(const std::string& text) {
  return std::strtoul(text.c_str(), nullptr, 16);
}

bool HasDefaultRouteV4() {
  std::ifstream routes("/proc/net/route");
  std::string line;
  std::getline(routes, line);  // the column titles
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string device, destination, gateway, flags, refs, use, metric, mask;
    if (!(fields >> device >> destination >> gateway >> flags >> refs >> use >> metric >> mask))
      continue;
    if (Hex(destination) == 0 && Hex(mask) == 0 && (Hex(flags) & kRouteUp) != 0) return true;
  }
  return false;
}

bool HasDefaultRouteV6() {
  std::ifstream routes("/proc/net/ipv6_route");
  std::string line;
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string destination, length, source, sourceLength, hop, metric, refs, use, flags, device;
    if (!(fields >> destination >> length >> source >> sourceLength >> hop >> metric >> refs >>
          use >> flags >> device))
      continue;
    const unsigned long bits = Hex(flags);
    // Every namespace has unreachable default routes on "lo"; they lead nowhere.
    if (destination == std::string(32, '0') && length == "00" && (bits & kRouteUp) != 0 &&
        (bits & kRouteReject) == 0 && device != "lo")
      return true;
  }
  return false;
}

}  // namespace

struct InternetSession::Impl {
  InternetSettings settings;
  CURL* curl = nullptr;
  curl_slist* headers = nullptr;      // reload semantics: nothing from a cache on the way
  curl_slist* postHeaders = nullptr;  // the same and the form's content type
  char errorBuffer[CURL_ERROR_SIZE] = {};

  // Readies the handle for one transfer of `url`; the connections stay cached in the handle.
  void Prepare(const QString& url, Transfer* t) {
    Curl().reset(curl);
    errorBuffer[0] = '\0';
    Curl().setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // Signals are not ours to take on a worker thread.
    Curl().setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Spaces and other characters the URL syntax forbids are escaped, as browsers do.
    const QUrl parsed(url, QUrl::TolerantMode);
    const QByteArray encoded = parsed.isValid() ? parsed.toEncoded() : url.toUtf8();
    Curl().setopt(curl, CURLOPT_URL, encoded.constData());
    Curl().setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    // A redirect never leads to FTP, where the login would go along.
    Curl().setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    Curl().setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    Curl().setopt(curl, CURLOPT_MAXREDIRS, 20L);
    if (!settings.Agent.isEmpty())
      Curl().setopt(curl, CURLOPT_USERAGENT, settings.Agent.toUtf8().constData());
    Curl().setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops sending for a minute ends the transfer instead of hanging the run.
    Curl().setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    Curl().setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    if (!settings.CaBundle.isEmpty())
      Curl().setopt(curl, CURLOPT_CAINFO, settings.CaBundle.toUtf8().constData());
    if (!settings.Proxy.isEmpty()) {
      Curl().setopt(curl, CURLOPT_PROXY, settings.Proxy.toUtf8().constData());
      // A proxy set by the user serves every host, whatever no_proxy says.
      Curl().setopt(curl, CURLOPT_NOPROXY, "");
    }
    if (!settings.ProxyUserID.isEmpty()) {
      // Also applies to a proxy from the environment; curl sends these to the proxy only.
      Curl().setopt(curl, CURLOPT_PROXYUSERNAME, settings.ProxyUserID.toUtf8().constData());
      Curl().setopt(curl, CURLOPT_PROXYPASSWORD, settings.ProxyPassword.toUtf8().constData());
      Curl().setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
    }
    const QString scheme = parsed.scheme().toLower();
    t->curl = curl;
    t->http = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (t->http) {
      Curl().setopt(curl, CURLOPT_HTTPHEADER, headers);
      if (!settings.KeepAlive) Curl().setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    } else if (scheme == QLatin1String("ftp")) {
      if (!settings.UserID.isEmpty() && !settings.Password.isEmpty()) {
        Curl().setopt(curl, CURLOPT_USERNAME, settings.UserID.toUtf8().constData());
        Curl().setopt(curl, CURLOPT_PASSWORD, settings.Password.toUtf8().constData());
      }
      // "-": the data connection comes back to this machine's address of the control one.
      if (!settings.FTPPassive) Curl().setopt(curl, CURLOPT_FTPPORT, "-");
    }
    Curl().setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    Curl().setopt(curl, CURLOPT_WRITEDATA, t);
    Curl().setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    Curl().setopt(curl, CURLOPT_HEADERDATA, t);
  }

  TransferResult Perform(Transfer* t) {
    const CURLcode code = Curl().perform(curl);
    TransferResult r;
    r.status = ResponseCode(curl);
    r.received = t->received;
    t->ReadTotal();
    r.total = t->total;
    using O = TransferResult::Outcome;
    long connectCode = 0;
    Curl().getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (t->http && (t->refused || r.status > 299 || (code != CURLE_OK && connectCode > 299))) {
      // The server (or the proxy refusing its tunnel) answered with a status, not the file.
      if (r.status <= 299) r.status = connectCode;
      r.outcome = O::HttpStatus;
      r.errorText = t->reason.isEmpty() ? QString::number(r.status) : t->reason;
      return r;
    }
    if (code != CURLE_OK) {
      r.errorCode = static_cast<int>(code);
      r.errorText =
          QString::fromUtf8(errorBuffer[0] != '\0' ? errorBuffer : Curl().errorText(code));
    }
    if (t->cancelled) {
      r.outcome = O::Cancelled;
    } else if (t->writeFailed) {
      r.outcome = O::WriteError;
    } else if (code == CURLE_OK) {
      r.outcome = r.total > 0 && r.received < r.total ? O::Incomplete : O::Done;
    } else if (code == CURLE_PARTIAL_FILE || (r.received > 0 && r.received < r.total)) {
      r.outcome = O::Incomplete;
    } else if (r.received > 0) {
      r.outcome = O::ReadError;
    } else {
      r.outcome = O::NotOpened;
    }
    if (r.outcome == O::Cancelled || r.outcome == O::WriteError) {
      // The abort was ours; curl's "failed writing" says nothing more.
      r.errorCode = 0;
      r.errorText.clear();
    }
    return r;
  }
};

InternetSession::InternetSession(InternetSettings settings) : d_(std::make_unique<Impl>()) {
  d_->settings = std::move(settings);
  // Without the library every transfer fails, as without a handle.
  if (LoadCurl() == nullptr) return;
  d_->curl = Curl().init();
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache", "Expect:"}) {
    d_->headers = Curl().slistAppend(d_->headers, header);
    d_->postHeaders = Curl().slistAppend(d_->postHeaders, header);
  }
  d_->postHeaders =
      Curl().slistAppend(d_->postHeaders, "Content-Type: application/x-www-form-urlencoded");
}

InternetSession::~InternetSession() {
  if (LoadCurl() == nullptr) return;
  Curl().cleanup(d_->curl);
  Curl().slistFreeAll(d_->headers);
  Curl().slistFreeAll(d_->postHeaders);
}

TransferResult InternetSession::Fetch(const QString& url,
                                      const std::function<bool(const char*, qint64)>& write,
                                      const std::function<bool(qint64, qint64)>& cancel) {
  if (d_->curl == nullptr) return {};
  Transfer t;
  t.write = &write;
  t.cancel = &cancel;
  d_->Prepare(url, &t);
  return d_->Perform(&t);
}

TransferResult InternetSession::ConnectFtp(const QString& host, int port) {
  if (d_->curl == nullptr) return {};
  const std::function<bool(const char*, qint64)> write = [](const char*, qint64) { return true; };
  const std::function<bool(qint64, qint64)> cancel = [](qint64, qint64) { return false; };
  Transfer t;
  t.write = &write;
  t.cancel = &cancel;
  QUrl url;
  url.setScheme(QStringLiteral("ftp"));
  url.setHost(host);
  url.setPort(port);
  url.setPath(QStringLiteral("/"));
  d_->Prepare(url.toString(), &t);
  // Log in and stop there; the control connection stays for the fetches that follow.
  Curl().setopt(d_->curl, CURLOPT_NOBODY, 1L);
  return d_->Perform(&t);
}

TransferResult InternetSession::Post(const QString& url, const QByteArray& body,
                                     QByteArray* answer) {
  if (d_->curl == nullptr) return {};
  const std::function<bool(const char*, qint64)> write = [answer](const char* data, qint64 size) {
    if (answer != nullptr) answer->append(data, static_cast<qsizetype>(size));
    return true;
  };
  const std::function<bool(qint64, qint64)> cancel = [](qint64, qint64) { return false; };
  Transfer t;
  t.write = &write;
  t.cancel = &cancel;
  d_->Prepare(url, &t);
  Curl().setopt(d_->curl, CURLOPT_HTTPHEADER, d_->postHeaders);
  Curl().setopt(d_->curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  Curl().setopt(d_->curl, CURLOPT_POSTFIELDS, body.constData());
  return d_->Perform(&t);
}

bool InternetConnectionExists(const QString& host) {
  return IsLoopback(host) || HasDefaultRouteV4() || HasDefaultRouteV6();
}

}  // namespace sonarelle
