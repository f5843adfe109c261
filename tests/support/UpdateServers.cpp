#include "UpdateServers.h"

#include <QFile>

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

UpdateServers::UpdateServers(const QString& folder) {
  const QString cert = own_.filePath(QStringLiteral("cert.pem"));
  const QString key = own_.filePath(QStringLiteral("key.pem"));
  QProcess openssl;
  openssl.start(
      QStringLiteral("openssl"),
      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
       QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
       QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
       QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"),
       QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
       QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1")});
  if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
    error_ = QStringLiteral("openssl could not make a certificate: ") +
             QString::fromLocal8Bit(openssl.readAllStandardError());
    return;
  }

  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(QStringLiteral(SONARELLE_SERVER_PYTHON),
                 {QStringLiteral(SONARELLE_UPDATE_SERVERS_SCRIPT), folder, QStringLiteral("--logs"),
                  own_.path(), QStringLiteral("--cert"), cert, QStringLiteral("--key"), key,
                  QStringLiteral("--proxy-user"), QString::fromLatin1(kProxyUser),
                  QStringLiteral("--proxy-password"), QString::fromLatin1(kProxyPassword),
                  QStringLiteral("--ftp-user"), QString::fromLatin1(kFtpUser),
                  QStringLiteral("--ftp-password"), QString::fromLatin1(kFtpPassword)});
  while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
  }
  const QString line = QString::fromLatin1(process_.readLine()).trimmed();
  for (const QString& entry : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const QString name = entry.section(QLatin1Char('='), 0, 0);
    const int port = entry.section(QLatin1Char('='), 1).toInt();
    if (name == QLatin1String("http")) httpPort_ = port;
    if (name == QLatin1String("https")) httpsPort_ = port;
    if (name == QLatin1String("proxy")) proxyPort_ = port;
    if (name == QLatin1String("ftp")) ftpPort_ = port;
  }
  if (httpPort_ == 0 || httpsPort_ == 0 || proxyPort_ == 0 || ftpPort_ == 0) {
    error_ = QStringLiteral("the update servers did not start (they said \"%1\")").arg(line);
    Stop();
  }
}

UpdateServers::~UpdateServers() {
  Stop();
}

void UpdateServers::Stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.closeWriteChannel();
  if (process_.waitForFinished(10000)) return;
  process_.kill();
  process_.waitForFinished(10000);
}

QString UpdateServers::HttpUrl(const QString& path) const {
  return QStringLiteral("http://127.0.0.1:%1/%2").arg(httpPort_).arg(path);
}

QString UpdateServers::HttpsUrl(const QString& path) const {
  return QStringLiteral("https://localhost:%1/%2").arg(httpsPort_).arg(path);
}

QString UpdateServers::FtpUrl(const QString& path) const {
  return QStringLiteral("ftp://127.0.0.1:%1/%2").arg(ftpPort_).arg(path);
}

QString UpdateServers::ProxyAddress() const {
  return QStringLiteral("127.0.0.1:%1").arg(proxyPort_);
}

QString UpdateServers::CaBundle() const {
  return own_.filePath(QStringLiteral("cert.pem"));
}

QByteArray UpdateServers::OriginLog() const {
  return ReadAll(own_.filePath(QStringLiteral("origin.log")));
}

QByteArray UpdateServers::ProxyLog() const {
  return ReadAll(own_.filePath(QStringLiteral("proxy.log")));
}

QByteArray UpdateServers::FtpLog() const {
  return ReadAll(own_.filePath(QStringLiteral("ftp.log")));
}
