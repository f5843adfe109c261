#include "platform/InternetSession.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <thread>

#include "support/UpdateServers.h"

using sonarelle::InternetConnectionExists;
using sonarelle::InternetSession;
using sonarelle::InternetSettings;
using sonarelle::TransferResult;
using Outcome = TransferResult::Outcome;

namespace {

// What one fetch handed over, block by block.
struct Download {
  TransferResult result;
  QByteArray data;
  qint64 largestBlock = 0;
};

Download Fetch(InternetSession& session, const QString& url, qint64 cancelAt = -1,
               bool failWrites = false) {
  Download d;
  d.result = session.Fetch(
      url,
      [&](const char* block, qint64 size) {
        d.largestBlock = std::max(d.largestBlock, size);
        d.data.append(block, size);
        return !failWrites;
      },
      [&](qint64 received, qint64) { return cancelAt >= 0 && received >= cancelAt; });
  return d;
}

// A port that was free a moment ago, where nothing listens.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

// 300000 bytes: many of curl's chunks, and not a whole number of 4096-byte blocks.
QByteArray Pattern() {
  QByteArray bytes(300000, '\0');
  for (qsizetype i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 5);
  return bytes;
}

class InternetSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<QTemporaryDir>();
    QFile file(folder_->filePath(QStringLiteral("update.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Pattern());
    file.close();
    servers_ = std::make_unique<UpdateServers>(folder_->path());
  }
  static void TearDownTestSuite() {
    servers_.reset();
    folder_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(servers_->Error().isEmpty()) << servers_->Error().toStdString();
  }

  static InternetSettings Settings() {
    InternetSettings s;
    s.Agent = QStringLiteral("WebUpdate");
    s.UserID = QString::fromLatin1(UpdateServers::kFtpUser);
    s.Password = QString::fromLatin1(UpdateServers::kFtpPassword);
    s.CaBundle = servers_->CaBundle();
    return s;
  }

  static std::unique_ptr<QTemporaryDir> folder_;
  static std::unique_ptr<UpdateServers> servers_;
};

std::unique_ptr<QTemporaryDir> InternetSessionTest::folder_;
std::unique_ptr<UpdateServers> InternetSessionTest::servers_;

TEST_F(InternetSessionTest, FileArrivesWholeOverEveryTransport) {
  const QByteArray expected = Pattern();
  InternetSettings passive = Settings();
  passive.FTPPassive = true;
  InternetSession active(Settings());
  InternetSession ftpPassive(passive);
  InternetSession web(Settings());
  Download https;
  // The engine runs its transfers on a worker thread.
  std::thread worker([&] { https = Fetch(web, servers_->HttpsUrl(QStringLiteral("update.bin"))); });
  worker.join();
  const std::pair<const char*, Download> runs[] = {
      {"http", Fetch(web, servers_->HttpUrl(QStringLiteral("update.bin")))},
      {"https", https},
      {"ftp active", Fetch(active, servers_->FtpUrl(QStringLiteral("update.bin")))},
      {"ftp passive", Fetch(ftpPassive, servers_->FtpUrl(QStringLiteral("update.bin")))}};
  for (const auto& [name, d] : runs) {
    SCOPED_TRACE(name);
    EXPECT_EQ(d.result.outcome, Outcome::Done) << d.result.errorText.toStdString();
    EXPECT_TRUE(d.data == expected) << d.data.size() << " bytes";
    EXPECT_EQ(d.result.received, expected.size());
    EXPECT_EQ(d.result.total, expected.size());
    EXPECT_LE(d.largestBlock, 4096);
  }
  EXPECT_EQ(runs[0].second.result.status, 200);
  EXPECT_EQ(runs[2].second.result.status, 226);
  // Reload semantics, the agent name, and the data connections the settings asked for.
  const QByteArray origin = servers_->OriginLog();
  EXPECT_TRUE(origin.contains("Cache-Control: no-cache")) << origin.toStdString();
  EXPECT_TRUE(origin.contains("Pragma: no-cache"));
  EXPECT_TRUE(origin.contains("User-Agent: WebUpdate"));
  const QByteArray ftp = servers_->FtpLog();
  EXPECT_TRUE(ftp.contains("USER ftpuser")) << ftp.toStdString();
  EXPECT_TRUE(ftp.contains("EPRT ") || ftp.contains("PORT ")) << ftp.toStdString();
  EXPECT_TRUE(ftp.contains("EPSV") || ftp.contains("PASV")) << ftp.toStdString();
}

TEST_F(InternetSessionTest, FailuresGiveTheirOutcome) {
  InternetSession session(Settings());
  const qint64 size = Pattern().size();

  Download missing = Fetch(session, servers_->HttpUrl(QStringLiteral("missing.bin")));
  EXPECT_EQ(missing.result.outcome, Outcome::HttpStatus);
  EXPECT_EQ(missing.result.status, 404);
  EXPECT_TRUE(missing.data.isEmpty()) << "the error page reached the file";

  Download cut = Fetch(session, servers_->HttpUrl(QStringLiteral("_cut/update.bin")));
  EXPECT_EQ(cut.result.outcome, Outcome::Incomplete);
  EXPECT_EQ(cut.result.received, size / 2);
  EXPECT_EQ(cut.result.total, size);
  EXPECT_FALSE(cut.result.errorText.isEmpty());

  Download shorter = Fetch(session, servers_->HttpUrl(QStringLiteral("_short/update.bin")));
  EXPECT_EQ(shorter.result.outcome, Outcome::Incomplete);
  EXPECT_EQ(shorter.result.received, size);
  EXPECT_EQ(shorter.result.total, size + 1000);

  Download ftpMissing = Fetch(session, servers_->FtpUrl(QStringLiteral("missing.bin")));
  EXPECT_EQ(ftpMissing.result.outcome, Outcome::NotOpened);
  EXPECT_EQ(ftpMissing.result.status, 550);

  const int closedPort = ClosedPort();
  ASSERT_NE(closedPort, 0);
  Download refused =
      Fetch(session, QStringLiteral("http://127.0.0.1:%1/update.bin").arg(closedPort));
  EXPECT_EQ(refused.result.outcome, Outcome::NotOpened);
  EXPECT_NE(refused.result.errorCode, 0);
  EXPECT_FALSE(refused.result.errorText.isEmpty());

  Download unknown = Fetch(session, QStringLiteral("http://update.nowhere.invalid/update.bin"));
  EXPECT_EQ(unknown.result.outcome, Outcome::NotOpened);
  EXPECT_TRUE(unknown.result.errorText.contains(QStringLiteral("resolve")))
      << unknown.result.errorText.toStdString();

  // TLS verification stays on: without the test's certificate the origin is not trusted.
  InternetSettings untrusting = Settings();
  untrusting.CaBundle.clear();
  InternetSession strict(untrusting);
  Download untrusted = Fetch(strict, servers_->HttpsUrl(QStringLiteral("update.bin")));
  EXPECT_EQ(untrusted.result.outcome, Outcome::NotOpened);
  EXPECT_TRUE(untrusted.data.isEmpty());

  Download failing = Fetch(session, servers_->HttpUrl(QStringLiteral("update.bin")), -1, true);
  EXPECT_EQ(failing.result.outcome, Outcome::WriteError);
  EXPECT_EQ(failing.data.size(), 4096) << "writing went on after a failed block";
}

TEST_F(InternetSessionTest, CancelStopsEarly) {
  InternetSession session(Settings());
  for (const QString& url : {servers_->HttpUrl(QStringLiteral("update.bin")),
                             servers_->FtpUrl(QStringLiteral("update.bin"))}) {
    SCOPED_TRACE(url.toStdString());
    Download d = Fetch(session, url, 8192);
    EXPECT_EQ(d.result.outcome, Outcome::Cancelled);
    EXPECT_EQ(d.result.received, 8192);
    EXPECT_EQ(d.data.size(), 8192);
  }
  // The session goes on after a cancel.
  EXPECT_EQ(Fetch(session, servers_->HttpUrl(QStringLiteral("update.bin"))).result.outcome,
            Outcome::Done);
}

TEST_F(InternetSessionTest, ProxyGetsTheCredentialsAndTheOriginNever) {
  InternetSettings settings = Settings();
  settings.Proxy = servers_->ProxyAddress();
  settings.ProxyUserID = QString::fromLatin1(UpdateServers::kProxyUser);
  settings.ProxyPassword = QString::fromLatin1(UpdateServers::kProxyPassword);
  // Many machines exempt loopback hosts from the environment's proxy; the proxy set here
  // still serves them.
  const QByteArray noProxy = qgetenv("no_proxy");
  qputenv("no_proxy", "127.0.0.1,localhost");
  const auto restore = qScopeGuard([&] { qputenv("no_proxy", noProxy); });
  InternetSession session(settings);
  const QByteArray expected = Pattern();
  for (const QString& url : {servers_->HttpUrl(QStringLiteral("update.bin?plain")),
                             servers_->HttpsUrl(QStringLiteral("update.bin?tunnel")),
                             servers_->HttpUrl(QStringLiteral("_redirect/update.bin?moved"))}) {
    SCOPED_TRACE(url.toStdString());
    Download d = Fetch(session, url);
    EXPECT_EQ(d.result.outcome, Outcome::Done) << d.result.errorText.toStdString();
    EXPECT_TRUE(d.data == expected) << d.data.size() << " bytes";
  }
  const QByteArray token =
      QByteArray(UpdateServers::kProxyUser) + ':' + UpdateServers::kProxyPassword;
  const QByteArray proxy = servers_->ProxyLog();
  const QByteArray credentials = "Proxy-Authorization: Basic " + token.toBase64();
  // Each request, the tunnel and the redirect's second request reached the proxy with them (in
  // the last try: the first may go without, to learn the proxy's scheme).
  for (const char* request : {"GET http://127.0.0.1:%1/update.bin?plain ", "CONNECT localhost:%1 ",
                              "GET http://127.0.0.1:%1/update.bin?moved "}) {
    const int port =
        QByteArray(request).startsWith("CONNECT") ? servers_->HttpsPort() : servers_->HttpPort();
    const QByteArray line = QString::fromLatin1(request).arg(port).toLatin1();
    const qsizetype at = proxy.lastIndexOf(line);
    ASSERT_GE(at, 0) << line.toStdString() << " not in\n" << proxy.toStdString();
    const QByteArray block = proxy.mid(at, proxy.indexOf("\n\n", at) - at);
    EXPECT_TRUE(block.contains(credentials)) << block.toStdString();
  }
  const QByteArray origin = servers_->OriginLog();
  EXPECT_TRUE(origin.contains("GET /update.bin?moved")) << origin.toStdString();
  EXPECT_TRUE(origin.contains("[https] GET /update.bin?tunnel")) << origin.toStdString();
  EXPECT_FALSE(origin.toLower().contains("authorization")) << origin.toStdString();
  EXPECT_FALSE(origin.contains(UpdateServers::kProxyPassword));
  EXPECT_FALSE(origin.contains(token.toBase64()));

  // Wrong credentials: the proxy's refusal is a status, for plain requests and tunnels alike.
  settings.ProxyPassword = QStringLiteral("wrong");
  InternetSession refused(settings);
  for (const QString& url : {servers_->HttpUrl(QStringLiteral("update.bin")),
                             servers_->HttpsUrl(QStringLiteral("update.bin"))}) {
    Download d = Fetch(refused, url);
    EXPECT_EQ(d.result.outcome, Outcome::HttpStatus) << url.toStdString();
    EXPECT_EQ(d.result.status, 407) << url.toStdString();
    EXPECT_TRUE(d.data.isEmpty());
  }
}

// The client's port of the origin's last request for `path`.
QByteArray ClientPort(const QByteArray& log, const QByteArray& path) {
  const qsizetype request = log.lastIndexOf("GET /" + path + " ");
  const qsizetype from = log.lastIndexOf("# from port ", request);
  return request < 0 || from < 0 ? QByteArray() : log.mid(from, log.indexOf('\n', from) - from);
}

TEST_F(InternetSessionTest, KeepAliveDecidesWhetherConnectionsAreKept) {
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "kept" : "not kept");
    InternetSettings settings = Settings();
    settings.KeepAlive = keep;
    InternetSession session(settings);
    const QByteArray first = keep ? "update.bin?keep1" : "update.bin?new1";
    const QByteArray second = keep ? "update.bin?keep2" : "update.bin?new2";
    ASSERT_EQ(Fetch(session, servers_->HttpUrl(QString::fromLatin1(first))).result.outcome,
              Outcome::Done);
    ASSERT_EQ(Fetch(session, servers_->HttpUrl(QString::fromLatin1(second))).result.outcome,
              Outcome::Done);
    const QByteArray log = servers_->OriginLog();
    ASSERT_FALSE(ClientPort(log, first).isEmpty()) << log.toStdString();
    EXPECT_EQ(ClientPort(log, first) == ClientPort(log, second), keep);
  }
}

TEST_F(InternetSessionTest, PostDeliversItsBodyAndBringsTheAnswer) {
  InternetSession session(Settings());
  QByteArray answer;
  const TransferResult r = session.Post(servers_->HttpUrl(QStringLiteral("_post")),
                                        "product=sonarelle&version=1.0.0.0", &answer);
  EXPECT_EQ(r.outcome, Outcome::Done) << r.errorText.toStdString();
  EXPECT_EQ(answer, "received 33 bytes: product=sonarelle&version=1.0.0.0");
  const QByteArray origin = servers_->OriginLog();
  EXPECT_TRUE(origin.contains("POST /_post HTTP/1.1\n")) << origin.toStdString();
  EXPECT_TRUE(origin.contains("Content-Type: application/x-www-form-urlencoded"));
  EXPECT_TRUE(origin.contains("body: product=sonarelle&version=1.0.0.0"));
}

TEST_F(InternetSessionTest, FtpLoginIsCheckedAndKept) {
  InternetSession session(Settings());
  const TransferResult login = session.ConnectFtp(QStringLiteral("127.0.0.1"), servers_->FtpPort());
  EXPECT_EQ(login.outcome, Outcome::Done) << login.errorText.toStdString();
  const qsizetype logins = servers_->FtpLog().count("USER ");
  EXPECT_EQ(Fetch(session, servers_->FtpUrl(QStringLiteral("update.bin"))).result.outcome,
            Outcome::Done);
  EXPECT_EQ(servers_->FtpLog().count("USER "), logins) << "the fetch logged in again";

  InternetSettings wrong = Settings();
  wrong.Password = QStringLiteral("wrong");
  InternetSession refused(wrong);
  const TransferResult denied =
      refused.ConnectFtp(QStringLiteral("127.0.0.1"), servers_->FtpPort());
  EXPECT_EQ(denied.outcome, Outcome::NotOpened);
  EXPECT_EQ(denied.status, 530);
}

constexpr const char* kNoRoutes = "SONARELLE_TEST_WITHOUT_ROUTES";

TEST(InternetConnection, LoopbackAlwaysAndOtherHostsOnlyWithADefaultRoute) {
  for (const char* host : {"127.0.0.1", "localhost", "::1", "[::1]"})
    EXPECT_TRUE(InternetConnectionExists(QString::fromLatin1(host))) << host;
  if (qEnvironmentVariableIsSet(kNoRoutes)) {
    // In a network namespace of our own: only a loopback interface, no route anywhere.
    EXPECT_FALSE(InternetConnectionExists(QStringLiteral("update.example.com")));
    EXPECT_FALSE(InternetConnectionExists(QStringLiteral("192.0.2.7")));
    return;
  }
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QString::fromLatin1(kNoRoutes), QStringLiteral("1"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QStringLiteral("unshare"), {QStringLiteral("-rn"), QStringLiteral("true")});
  if (!child.waitForFinished(10000) || child.exitCode() != 0)
    GTEST_SKIP() << "user and network namespaces are not allowed here";
  child.start(QStringLiteral("unshare"),
              {QStringLiteral("-rn"), QCoreApplication::applicationFilePath(),
               QStringLiteral("--gtest_filter=InternetConnection.*")});
  ASSERT_TRUE(child.waitForFinished(60000));
  EXPECT_EQ(child.exitCode(), 0) << "the test failed without routes (its output is above)";
}

}  // namespace
