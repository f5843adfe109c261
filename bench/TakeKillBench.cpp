// Kill trials: a take recorded from the sound rig's "mic" (440 Hz) by a real recording
// process, killed with SIGKILL at a random moment, and the file it leaves checked.
//
//   bench_take_kill [TRIALS]   (default 50)
//
// Starts its own rig and its own temporary and state folders. For each trial: start the
// recording process, wait a random time t of 1 to 20 s after Record, kill -9 it, then read
// the take with sox and with the program's own reader. A trial passes when both read it, it
// holds at least t - 1 s of audio, and the tone's phase runs on without a break. Prints the
// trials passed, the worst audio lost against t, and the audio that reached the disk after
// the header's last update (a plain reader misses it; the next start's repair brings it in).
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include "BenchRig.h"
#include "audio/wavefile/WaveIO.h"

using namespace sonarelle;

namespace {

// Raw audio of the file as sox reads it, or empty when sox refuses it.
QByteArray SoxRaw(const QString& path, bool& readable) {
  QProcess sox;
  sox.start(QStringLiteral("sox"), {QStringLiteral("-V1"), path, QStringLiteral("-t"),
                                    QStringLiteral("raw"), QStringLiteral("-")});
  readable = sox.waitForFinished(60000) && sox.exitCode() == 0;
  return sox.readAllStandardOutput();
}

// Largest deviation of the left channel from the 440 Hz sine's own recurrence
// x[n+1] = 2 cos(w) x[n] - x[n-1], relative to its peak: a gap or a skip shows as a jump.
double PhaseBreak(const QByteArray& pcm) {
  std::vector<double> left;
  for (qsizetype i = 0; i + 4 <= pcm.size(); i += 4) {
    left.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(pcm[i]) |
                                             (static_cast<unsigned char>(pcm[i + 1]) << 8)) /
                   32768.0);
  }
  double peak = 0;
  for (double v : left) peak = std::max(peak, std::abs(v));
  if (left.size() < 3 || peak == 0) return 1;
  const double c = 2 * std::cos(2 * M_PI * 440 / 44100);
  double worst = 0;
  for (std::size_t n = 1; n + 1 < left.size(); ++n) {
    worst = std::max(worst, std::abs(left[n + 1] - c * left[n] + left[n - 1]));
  }
  return worst / peak;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int trials = argc > 1 ? std::max(1, QString::fromUtf8(argv[1]).toInt()) : 50;
  BenchRig rig;
  if (!rig.Started()) {
    std::fprintf(stderr, "the sound rig did not start\n");
    return 1;
  }
  QDir().mkpath(rig.FilePath(QStringLiteral("tmp")));
  QDir().mkpath(rig.FilePath(QStringLiteral("state")));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PULSE_SERVER"), rig.Server());
  env.insert(QStringLiteral("TMPDIR"), rig.FilePath(QStringLiteral("tmp")));
  env.insert(QStringLiteral("XDG_STATE_HOME"), rig.FilePath(QStringLiteral("state")));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

  std::mt19937 random(std::random_device{}());
  std::uniform_real_distribution<double> moment(1.0, 20.0);
  int passed = 0;
  double worstLost = -1e9;
  double worstUnheaded = 0;
  double worstBreak = 0;
  for (int trial = 1; trial <= trials; ++trial) {
    const double t = moment(random);
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(SONARELLE_TAKE_PROBE), {});
    while (!probe.canReadLine() && probe.waitForReadyRead(10000)) {
    }
    const QByteArray line = probe.readLine();
    if (!line.startsWith("take ")) {
      probe.kill();
      probe.waitForFinished();
      std::printf("trial %2d: the recording did not start: %s\n", trial,
                  probe.readAllStandardError().right(300).constData());
      continue;
    }
    QElapsedTimer since;
    since.start();
    const QString take = QString::fromLocal8Bit(line.mid(5).trimmed());
    QThread::usleep(static_cast<unsigned long>(t * 1e6));
    const double killedAt = static_cast<double>(since.nsecsElapsed()) / 1e9;
    ::kill(static_cast<pid_t>(probe.processId()), SIGKILL);
    probe.waitForFinished(10000);

    bool soxReads = false;
    const QByteArray raw = SoxRaw(take, soxReads);
    WaveIOPtr block;
    const bool ownReads = OpenWaveFile(take, block) == kWaveIOOk;
    const double seconds = ownReads ? static_cast<double>(block->dataSize) / (44100.0 * 4) : 0;
    const double unheaded =
        ownReads ? static_cast<double>(QFile(take).size() - block->dataPosition - block->dataSize) /
                       (44100.0 * 4)
                 : 0;
    const double breakSize = PhaseBreak(raw);
    const bool same = ownReads && soxReads && raw.size() == block->dataSize;
    const bool ok = same && seconds >= killedAt - 1.0 && breakSize < 0.05;
    passed += ok ? 1 : 0;
    worstLost = std::max(worstLost, killedAt - seconds);
    worstUnheaded = std::max(worstUnheaded, unheaded);
    worstBreak = std::max(worstBreak, breakSize);
    std::printf(
        "trial %2d: killed at %5.2f s, file holds %5.2f s (sox %s, own reader %s), "
        "%.2f s past the header, phase %.4f: %s\n",
        trial, killedAt, seconds, soxReads ? "reads" : "refuses", ownReads ? "reads" : "refuses",
        unheaded, breakSize, ok ? "pass" : "FAIL");
    std::fflush(stdout);
    QFile::remove(take);
  }
  std::printf("trials passed: %d/%d\n", passed, trials);
  std::printf("worst audio lost (kill time minus audio in the file): %.2f s%s\n", worstLost,
              worstLost <= 0 ? " (none: the rig's source starts about a second ahead)" : "");
  std::printf("worst audio past the header's last update: %.2f s\n", worstUnheaded);
  std::printf("worst phase break of the tone: %.4f of its peak\n", worstBreak);
  return passed == trials ? 0 : 1;
}
