// Time from starting the sonarelle executable to its main window being shown, over ten
// runs; prints every run and the median. Usage: bench_startup [executable] [runs]
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise (an X display under
// Xvfb gives the figure with a real window system).
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const QString program = args.size() > 1 ? args[1] : QStringLiteral(SONARELLE_EXECUTABLE);
  const int runs = args.size() > 2 ? args[2].toInt() : 10;

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("SONARELLE_STARTUP_PROBE"), QStringLiteral("1"));
  if (!env.contains(QStringLiteral("QT_QPA_PLATFORM"))) {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  }

  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    if (!process.waitForStarted(10000)) {
      std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
      return 1;
    }
    QByteArray out;
    while (!out.contains("shown") && process.waitForReadyRead(10000))
      out += process.readAllStandardOutput();
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    process.waitForFinished(10000);
    if (!out.contains("shown")) {
      std::fprintf(stderr, "run %d: the main window was never shown\n", i + 1);
      return 1;
    }
    times.push_back(ms);
    std::printf("run %2d: %7.1f ms\n", i + 1, ms);
  }
  std::sort(times.begin(), times.end());
  const size_t n = times.size();
  const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  std::printf("startup to main window shown, median of %zu runs: %.1f ms (target < 300 ms)\n", n,
              median);
  return 0;
}
