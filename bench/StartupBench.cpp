// Time from starting the program as a user starts it to its main window on the screen, over
// ten runs; prints every run, the median, and what it measured with.
//   bench_startup [RUNS] [--server PULSE_SERVER]
// It installs the build into a folder of its own (bench-installed in the build folder, the way
// the end-to-end test installs it), starts a private X server (Xvfb on a free display, no
// window manager) and a private sound server (scripts/sound-rig.sh; --server names another),
// and starts the installed program there with the SoundFont the program picks by itself. The
// program's start-up probe (SONARELLE_STARTUP_PROBE) says when its window is on the screen;
// the benchmark's own connection to the X server sees the window mapped and its first pixel
// drawn, to check the probe against. Prints figures only; never fails on them.
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "BenchRig.h"
#include "platform/SoundFont.h"

namespace {

constexpr int kWaitMs = 30000;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString LoadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                        : QStringLiteral("unknown");
}

// Xvfb on the first free display, which it names itself.
class XServer {
 public:
  bool Start() {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QString::fromLatin1(kScreen), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")});
    if (!process_.waitForStarted(10000)) return false;
    QElapsedTimer waited;
    waited.start();
    QByteArray number;
    while (!number.endsWith('\n') && waited.elapsed() < 10000 &&
           process_.state() == QProcess::Running) {
      process_.waitForReadyRead(100);
      number += process_.readAllStandardOutput();
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    return number.endsWith('\n');
  }
  ~XServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(10000);
    }
  }
  QString Display() const { return display_; }
  static constexpr const char* kScreen = "1280x1024x24";

 private:
  QProcess process_;
  QString display_;
};

// The benchmark's own view of the X server: top-level windows as they are mapped, and whether
// a mapped window shows anything yet.
class XWatch {
 public:
  explicit XWatch(const QString& display)
      : connection_(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {
    if (xcb_connection_has_error(connection_) != 0) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    usable_ = true;
  }
  ~XWatch() { xcb_disconnect(connection_); }
  XWatch(const XWatch&) = delete;
  XWatch& operator=(const XWatch&) = delete;

  bool Usable() const { return usable_; }
  // The first top-level window mapped since the last call, if any.
  std::optional<xcb_window_t> Mapped() {
    std::optional<xcb_window_t> mapped;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (map->event == root_ && !mapped) mapped = map->window;
      }
      std::free(event);
    }
    return mapped;
  }
  // Whether the window's centre pixel is drawn (Xvfb leaves a new window black).
  bool Drawn(xcb_window_t window) {
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    if (geometry == nullptr) return false;
    const auto x = static_cast<std::int16_t>(geometry->width / 2);
    const auto y = static_cast<std::int16_t>(geometry->height / 2);
    std::free(geometry);
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection_, xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, 1, 1, ~0U),
        nullptr);
    if (image == nullptr) return false;
    const std::uint8_t* pixel = xcb_get_image_data(image);
    const bool drawn =
        xcb_get_image_data_length(image) >= 3 && (pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0);
    std::free(image);
    return drawn;
  }

 private:
  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
  bool usable_ = false;
};

struct Run {
  double shown = -1;  // the probe's "shown"
  double mapped = -1;
  double drawn = -1;  // the first drawn pixel, when seen before the probe
};

Run StartOnce(const QString& program, const QProcessEnvironment& env, XWatch& x) {
  Run run;
  QProcess process;
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardErrorFile(QProcess::nullDevice());
  x.Mapped();  // nothing of an earlier run counts
  QElapsedTimer clock;
  clock.start();
  process.start(program, {});
  if (!process.waitForStarted(10000)) return run;
  std::optional<xcb_window_t> window;
  QByteArray out;
  const auto now = [&] { return static_cast<double>(clock.nsecsElapsed()) / 1e6; };
  while (clock.elapsed() < kWaitMs && process.state() == QProcess::Running) {
    if (!window) {
      window = x.Mapped();
      if (window) run.mapped = now();
    }
    if (window && run.drawn < 0 && x.Drawn(*window)) run.drawn = now();
    process.waitForReadyRead(1);
    out += process.readAllStandardOutput();
    if (out.contains("shown")) {
      run.shown = now();
      // Drawn since the last look? The program ends after the probe: it is held still
      // meanwhile, so its window is looked at before it goes.
      if (window && run.drawn < 0) {
        ::kill(static_cast<pid_t>(process.processId()), SIGSTOP);
        if (x.Drawn(*window)) run.drawn = run.shown;
        ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
      }
      break;
    }
  }
  process.waitForFinished(10000);
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(10000);
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  int runs = 10;
  QString server;
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--server") && i + 1 < args.size()) {
      server = args[++i];
    } else {
      runs = std::max(1, args[i].toInt());
    }
  }

  const QString prefix = QStringLiteral(SONARELLE_BUILD_DIR "/bench-installed");
  QProcess install;
  install.setProcessChannelMode(QProcess::ForwardedChannels);
  install.start(QStringLiteral(SONARELLE_CMAKE),
                {QStringLiteral("-DPREFIX=") + prefix,
                 QStringLiteral("-DBUILD=" SONARELLE_BUILD_DIR), QStringLiteral("-P"),
                 QStringLiteral(SONARELLE_SOURCE_DIR "/tests/e2e/InstallProgram.cmake")});
  if (!install.waitForFinished(120000) || install.exitCode() != 0) {
    std::fprintf(stderr, "cmake --install into %s failed\n", qPrintable(prefix));
    return 1;
  }
  const QString program = prefix + QStringLiteral("/bin/sonarelle");

  XServer xserver;
  if (!xserver.Start()) {
    std::fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  XWatch x(xserver.Display());
  if (!x.Usable()) {
    std::fprintf(stderr, "cannot connect to the X server %s\n", qPrintable(xserver.Display()));
    return 1;
  }
  std::unique_ptr<BenchRig> rig;
  if (server.isEmpty()) {
    rig = std::make_unique<BenchRig>();
    if (!rig->Started()) {
      std::fprintf(stderr, "the sound rig did not start\n");
      return 1;
    }
    server = rig->Server();
  }

  // As the desktop starts it: the real X server, the sound server, homes of its own, and no
  // desktop bus or compositor of the machine's.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name :
       {"QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "SESSION_MANAGER"}) {
    env.remove(QString::fromLatin1(name));
  }
  env.insert(QStringLiteral("DISPLAY"), xserver.Display());
  env.insert(QStringLiteral("PULSE_SERVER"), server);
  env.insert(QStringLiteral("SONARELLE_STARTUP_PROBE"), QStringLiteral("1"));
  const QTemporaryDir user(QStringLiteral("/tmp/sonarelle-startup-XXXXXX"));
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME",
                           "XDG_RUNTIME_DIR", "TMPDIR"}) {
    const QString dir = user.filePath(QString::fromLatin1(name).toLower());
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QString::fromLatin1(name), dir);
  }
  // The program's own choice, asked the way the program asks it (SONARELLE_SOUNDFONT included).
  const QString soundFont = sonarelle::SynthesizerSoundFont();

  std::printf("installed program: %s\n", qPrintable(program));
  std::printf("X server: Xvfb %s, %s, no window manager\n", qPrintable(xserver.Display()),
              XServer::kScreen);
  std::printf("sound server: %s%s\n", qPrintable(server),
              rig ? " (a private rig: scripts/sound-rig.sh)" : "");
  std::printf("SoundFont: %s\n", soundFont.isEmpty() ? "none installed" : qPrintable(soundFont));
  std::printf("load average before: %s\n", qPrintable(LoadAverage()));
  std::fflush(stdout);

  std::vector<double> shown, mapped, drawn;
  int early = 0;
  for (int i = 0; i < runs; ++i) {
    const Run run = StartOnce(program, env, x);
    if (run.shown < 0) {
      std::printf("run %2d: the main window was never reported on the screen\n", i + 1);
      continue;
    }
    shown.push_back(run.shown);
    if (run.mapped >= 0) mapped.push_back(run.mapped);
    if (run.drawn >= 0) {
      drawn.push_back(run.drawn);
    } else {
      ++early;
    }
    std::printf("run %2d: %7.1f ms   (X server: mapped at %.1f ms, first pixel drawn at %s)\n",
                i + 1, run.shown, run.mapped,
                run.drawn >= 0 ? qPrintable(QString::number(run.drawn, 'f', 1) + " ms")
                               : "not seen before the probe");
    std::fflush(stdout);
  }
  std::printf("load average after: %s\n", qPrintable(LoadAverage()));
  std::printf("start to main window on the screen, median of %zu runs: %.1f ms (target < 250 ms)\n",
              shown.size(), Median(shown));
  std::printf(
      "X server: mapped at %.1f ms, first pixel drawn at %s (medians); the probe came "
      "before the window was drawn in %d of %zu runs\n",
      Median(mapped),
      drawn.empty() ? "never before the probe"
                    : qPrintable(QString::number(Median(drawn), 'f', 1) + " ms"),
      early, shown.size());
  return 0;
}
