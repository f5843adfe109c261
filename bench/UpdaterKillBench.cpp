// Kill trials of the companion updater: five files of 20 MB, each with a "_new" file beside it,
// installed by the real sonarelle-updater, which is killed with SIGKILL at a random moment.
//
//   bench_updater_kill [TRIALS]   (default 100)
//
// The whole run is timed once first; each trial kills the updater between 0 and that time
// after its start. A trial passes when every base file exists and is byte for byte its old or
// its new version (by SHA-256), its "_new" file is still there exactly when the base is old,
// and nothing else lies in the folder. Prints the trials passed, the run time, and how many
// files the killed runs had replaced, which shows where the kills fell.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "platform/UpdateSignature.h"

namespace {

constexpr int kFiles = 5;
constexpr qint64 kFileSize = qint64{20} << 20;

QString BaseName(int i) {
  return QStringLiteral("part%1.bin").arg(i);
}

// Writes `size` pseudo-random bytes drawn from `seed`.
bool WriteNoise(const QString& path, unsigned seed) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  std::mt19937_64 random(seed);
  std::vector<quint64> block(1 << 17);  // 1 MB
  for (qint64 written = 0; written < kFileSize; written += 1 << 20) {
    for (quint64& word : block) word = random();
    if (file.write(reinterpret_cast<const char*>(block.data()), 1 << 20) != 1 << 20) return false;
  }
  return true;
}

// A process identifier that no process has any more.
QString GonePid() {
  QProcess p;
  p.start(QStringLiteral("true"), {});
  p.waitForFinished();
  return QString::number(p.processId());
}

struct Masters {
  QString folder;
  QString oldDigest[kFiles];
  QString newDigest[kFiles];
};

// Fills `folder` with the five old base files and their "_new" files.
bool Prepare(const Masters& masters, const QString& folder) {
  QDir().mkpath(folder);
  for (int i = 0; i < kFiles; ++i) {
    const QString base = folder + QLatin1Char('/') + BaseName(i);
    if (!QFile::copy(masters.folder + QStringLiteral("/old%1").arg(i), base) ||
        !QFile::copy(masters.folder + QStringLiteral("/new%1").arg(i),
                     base + QStringLiteral("_new"))) {
      return false;
    }
  }
  return true;
}

QStringList Arguments() {
  QStringList arguments{GonePid(), QStringLiteral("null")};
  for (int i = 0; i < kFiles; ++i) arguments << BaseName(i) + QStringLiteral("_new");
  return arguments;
}

// Checks the folder a killed run left; `replaced` counts the base files that are new.
bool Sound(const Masters& masters, const QString& folder, int& replaced, QString& why) {
  replaced = 0;
  QStringList expected;
  for (int i = 0; i < kFiles; ++i) {
    const QString base = folder + QLatin1Char('/') + BaseName(i);
    const QString digest = sonarelle::UpdateSignature::FileSha256(base);
    const bool isNew = digest == masters.newDigest[i];
    if (!isNew && digest != masters.oldDigest[i]) {
      why = BaseName(i) + (digest.isEmpty() ? QStringLiteral(" is missing")
                                            : QStringLiteral(" is neither old nor new"));
      return false;
    }
    const bool pending = QFile(base + QStringLiteral("_new")).size() == kFileSize;
    if (pending == isNew) {
      why = BaseName(i) + (isNew ? QStringLiteral(" is new but its _new file is still there")
                                 : QStringLiteral(" is old but its _new file is gone"));
      return false;
    }
    replaced += isNew ? 1 : 0;
    expected << BaseName(i);
    if (pending) expected << BaseName(i) + QStringLiteral("_new");
  }
  QStringList present =
      QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  expected.sort();
  present.sort();
  if (present != expected) {
    why = QStringLiteral("unexpected files: ") + present.join(QLatin1Char(' '));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int trials = argc > 1 ? std::max(1, QString::fromUtf8(argv[1]).toInt()) : 100;
  QTemporaryDir root;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_STATE_HOME"), root.filePath(QStringLiteral("state")));

  Masters masters;
  masters.folder = root.filePath(QStringLiteral("masters"));
  QDir().mkpath(masters.folder);
  for (int i = 0; i < kFiles; ++i) {
    const QString oldPath = masters.folder + QStringLiteral("/old%1").arg(i);
    const QString newPath = masters.folder + QStringLiteral("/new%1").arg(i);
    if (!WriteNoise(oldPath, 2 * i + 1) || !WriteNoise(newPath, 2 * i + 2)) {
      std::fprintf(stderr, "could not write the test files in %s\n", qPrintable(root.path()));
      return 1;
    }
    masters.oldDigest[i] = sonarelle::UpdateSignature::FileSha256(oldPath);
    masters.newDigest[i] = sonarelle::UpdateSignature::FileSha256(newPath);
  }

  // One whole run, timed, sets the range of the kill moments.
  const QString timed = root.filePath(QStringLiteral("timed"));
  if (!Prepare(masters, timed)) return 1;
  QProcess whole;
  whole.setProcessEnvironment(env);
  whole.setWorkingDirectory(timed);
  QElapsedTimer clock;
  clock.start();
  whole.start(QStringLiteral(SONARELLE_UPDATER), Arguments());
  whole.waitForFinished(-1);
  const qint64 runNs = clock.nsecsElapsed();
  int replaced = 0;
  QString why;
  if (!Sound(masters, timed, replaced, why) || replaced != kFiles) {
    std::fprintf(stderr, "the whole run did not install the files: %s\n", qPrintable(why));
    return 1;
  }
  QDir(timed).removeRecursively();

  std::random_device device;
  const unsigned seed = device();
  std::mt19937 random(seed);
  std::uniform_int_distribution<qint64> moment(0, runNs);
  int passed = 0;
  int replacedCount[kFiles + 1] = {};
  for (int trial = 0; trial < trials; ++trial) {
    const QString folder = root.filePath(QStringLiteral("trial"));
    if (!Prepare(masters, folder)) return 1;
    const qint64 killAt = moment(random);
    QProcess updater;
    updater.setProcessEnvironment(env);
    updater.setWorkingDirectory(folder);
    clock.restart();
    updater.start(QStringLiteral(SONARELLE_UPDATER), Arguments());
    updater.waitForStarted(-1);
    const qint64 left = killAt - clock.nsecsElapsed();
    if (left > 0) QThread::usleep(static_cast<unsigned long>(left / 1000));
    ::kill(static_cast<pid_t>(updater.processId()), SIGKILL);
    updater.waitForFinished(-1);
    if (Sound(masters, folder, replaced, why)) {
      ++passed;
      ++replacedCount[replaced];
    } else {
      std::printf("trial %d (killed at %.1f ms): %s\n", trial + 1, killAt / 1e6, qPrintable(why));
    }
    QDir(folder).removeRecursively();
  }

  std::printf("kill trials: %d/%d passed (seed %u)\n", passed, trials, seed);
  std::printf("run time: %.1f ms for %d files of %lld MB\n", runNs / 1e6, kFiles, kFileSize >> 20);
  std::printf("files replaced when killed:");
  for (int k = 0; k <= kFiles; ++k) std::printf(" %d: %d", k, replacedCount[k]);
  std::printf("\n");
  return 0;
}
