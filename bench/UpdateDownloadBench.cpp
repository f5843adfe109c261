// An update of 50 files of 1 MB from a local HTTP server: the engine's wall time against the
// curl command line fetching the same files in one process, the engine's peak memory, and how
// long events posted to the window's thread waited meanwhile.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/UpdateSignature.h"
#include "update/WebUpdate.h"

namespace {

constexpr int kFiles = 50;
constexpr int kFileBytes = 1 << 20;

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(const QElapsedTimer& timer) {
  return double(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir work;
  const QString served = work.filePath(QStringLiteral("served"));
  const QString installed = work.filePath(QStringLiteral("installed"));
  const QString byCurl = work.filePath(QStringLiteral("curl"));
  QDir().mkpath(served);
  QDir().mkpath(installed);
  QDir().mkpath(byCurl);

  std::mt19937 random(7);
  QByteArray bytes(kFileBytes, '\0');
  for (int i = 1; i <= kFiles; ++i) {
    for (char& byte : bytes) byte = char(random());
    QFile file(served + QStringLiteral("/part%1.bin").arg(i));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
  }

  QProcess servers;
  servers.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(SONARELLE_SOURCE_DIR "/tests/support/update_servers/servers.py"),
                 served, QStringLiteral("--logs"), work.path()});
  if (!servers.waitForReadyRead(20000)) {
    std::fprintf(stderr, "the test servers did not start\n");
    return 1;
  }
  QString port;
  for (const QString& item : QString::fromUtf8(servers.readLine()).split(QLatin1Char(' '))) {
    if (item.startsWith(QStringLiteral("http="))) port = item.mid(5).trimmed();
  }
  const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(port);

  // A signed control file with a hash per file, as a publisher makes it.
  QByteArray publicKey;
  QByteArray secretKey;
  sonarelle::UpdateSignature::GenerateKeyPair(&publicKey, &secretKey);
  QByteArray control =
      "[update]\nunconditional=1\n[files]\ncount=" + QByteArray::number(kFiles) + "\n";
  QStringList curlArguments{QStringLiteral("-s")};
  for (int i = 1; i <= kFiles; ++i) {
    const QString name = QStringLiteral("part%1.bin").arg(i);
    control += QStringLiteral("[file%1]\nurl=%2%3\ntargetdir=%4\n")
                   .arg(i)
                   .arg(base, name, installed)
                   .toUtf8();
    if (!qEnvironmentVariableIsSet("NOSHA")) {
      control += "sha256=" +
                 sonarelle::UpdateSignature::FileSha256(served + QLatin1Char('/') + name).toUtf8() +
                 "\n";
    }
    curlArguments << QStringLiteral("-o") << byCurl + QLatin1Char('/') + name << base + name;
  }
  QFile controlFile(served + QStringLiteral("/update.inf"));
  controlFile.open(QIODevice::WriteOnly);
  controlFile.write(control);
  controlFile.close();
  QFile signature(served + QStringLiteral("/update.inf.sig"));
  signature.open(QIODevice::WriteOnly);
  signature.write(sonarelle::UpdateSignature::Sign(control, secretKey));
  signature.close();

  sonarelle::TWebUpdate engine;
  engine.URL = base + QStringLiteral("update.inf");
  engine.UpdateType = sonarelle::TWebUpdateType::httpUpdate;
  engine.UpdateUpdate = sonarelle::TWebUpdateUpdate::wuuSilent;
  engine.UpdatePublicKey = publicKey;
  qint64 progressCalls = 0;
  engine.OnFileProgress = [&](sonarelle::TWebUpdate*, const QString&, qint64, qint64) {
    ++progressCalls;
  };
  bool finished = false;
  engine.OnFinished = [&](sonarelle::TWebUpdate*) {
    finished = true;
    app.quit();
  };

  // A posted event every 5 ms: how long it waits shows whether the window would respond.
  std::vector<double> waits;
  QTimer prober;
  QObject::connect(&prober, &QTimer::timeout, [&] {
    QElapsedTimer posted;
    posted.start();
    QMetaObject::invokeMethod(
        &app, [&waits, posted] { waits.push_back(double(posted.nsecsElapsed()) / 1e6); },
        Qt::QueuedConnection);
  });

  // Rounds in turn, medians compared: the machine's other work touches both alike.
  constexpr int kRounds = 7;
  std::vector<double> curlTimes;
  std::vector<double> engineTimes;
  const long peakBefore = PeakKilobytes();
  for (int round = 0; round < kRounds; ++round) {
    QDir(byCurl).removeRecursively();
    QDir().mkpath(byCurl);
    QElapsedTimer curlTimer;
    curlTimer.start();
    QProcess::execute(QStringLiteral("curl"), curlArguments);
    curlTimes.push_back(Seconds(curlTimer));

    QDir(installed).removeRecursively();
    QDir().mkpath(installed);
    finished = false;
    QElapsedTimer engineTimer;
    engineTimer.start();
    prober.start(5);
    engine.DoUpdate();
    app.exec();
    engineTimes.push_back(Seconds(engineTimer));
    prober.stop();
    // Probes still queued are answered now, not after the next round's curl.
    QCoreApplication::processEvents();
  }
  const auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  const double curlSeconds = median(curlTimes);
  const double engineSeconds = median(engineTimes);

  int complete = 0;
  for (int i = 1; i <= kFiles; ++i) {
    complete += QFileInfo(installed + QStringLiteral("/part%1.bin").arg(i)).size() == kFileBytes;
  }
  std::sort(waits.begin(), waits.end());
  const auto at = [&](double share) {
    return waits.empty() ? 0.0
                         : waits[std::min(waits.size() - 1, std::size_t(share * waits.size()))];
  };
  std::printf("update of %d x 1 MB over local HTTP: %d files installed%s\n", kFiles, complete,
              finished ? "" : " (the run did not finish)");
  std::printf("  median of %d rounds: engine %.3f s, curl %.3f s: %.2fx curl's time\n", kRounds,
              engineSeconds, curlSeconds, engineSeconds / curlSeconds);
  std::printf("  peak memory %.1f MB (%.1f MB before the runs), %lld progress calls in all\n",
              PeakKilobytes() / 1024.0, peakBefore / 1024.0, static_cast<long long>(progressCalls));
  std::printf(
      "  posted-event wait during the runs: p50 %.2f ms, p99 %.2f ms, worst %.2f ms (%zu probes)\n",
      at(0.5), at(0.99), waits.empty() ? 0.0 : waits.back(), waits.size());
  servers.closeWriteChannel();
  servers.terminate();
  servers.waitForFinished(5000);
  return complete == kFiles ? 0 : 1;
}
