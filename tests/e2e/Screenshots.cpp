// The user guide's screenshots: the installed program on a desktop of its own, driven with
// real input like the end-to-end test, its windows photographed.
//   sonarelle_screenshots OUTDIR
// SONARELLE_PROGRAM names the installed program and SONARELLE_SOURCE_DIR the source tree;
// both default to this build's.
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QThread>
#include <cstdio>
#include <exception>

#include "DesktopSession.h"
#include "EveningFixtures.h"
#include "MediaFixtures.h"

namespace {

// Screen places for the windows: without a window manager every window opens at 0,0.
constexpr QPoint kBeside(540, 0);
constexpr QPoint kBelow(0, 360);

class Photographer {
 public:
  Photographer(DesktopSession& desktop, QString folder)
      : desktop_(desktop), folder_(std::move(folder)) {}

  // The window's picture as `name` once it stops changing (a window just shown or restyled
  // paints in a few steps).
  QImage Window(const QString& window, const QString& name) const {
    QImage shot = Settled(window);
    Save(shot, name);
    return shot;
  }
  QImage Settled(const QString& window) const {
    QImage before = desktop_.Screenshot(window);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
      QThread::msleep(300);
      QImage now = desktop_.Screenshot(window);
      if (now == before || waited.elapsed() > 5000) return now;
      before = now;
    }
  }
  void Save(const QImage& image, const QString& name) const {
    const QString path = QDir(folder_).filePath(name);
    if (!image.save(path, "PNG")) throw std::runtime_error("cannot write " + path.toStdString());
    std::printf("%s\n", qPrintable(path));
  }
  // Waits for the window and puts it at `place`.
  QString Place(const QString& title, QPoint place) const {
    QString window = desktop_.WaitWindow(title);
    desktop_.Move(window, place);
    return window;
  }

 private:
  DesktopSession& desktop_;
  QString folder_;
};

// The eight looks of the Skin menu, composed four by two with their names under them.
void Skins(DesktopSession& desktop, const Photographer& photos) {
  const QStringList names = {"MacOS",    "WinXP",    "Protein", "BlueGlass",
                             "DeepBlue", "SilverXP", "GreenXP", "BlueStorm"};
  std::vector<QImage> looks;
  QImage last;
  for (int i = 0; i < names.size(); ++i) {
    // The Skin menu's items have no access keys: the n-th is n-1 steps down from the first.
    QStringList keys = {"alt+s"};
    for (int step = 0; step < i; ++step) keys << "Down";
    desktop.Keys(desktop.MainWindow(), keys << "Return");
    QElapsedTimer waited;
    waited.start();
    QImage look = photos.Settled(desktop.MainWindow());
    while (i > 0 && look == last && waited.elapsed() < 10000) {
      look = photos.Settled(desktop.MainWindow());
    }
    looks.push_back(look);
    last = look;
  }
  const int labelHeight = 28;
  const int cellWidth = looks.front().width() + 16;
  const int cellHeight = looks.front().height() + labelHeight + 16;
  QImage sheet(cellWidth * 4, cellHeight * 2, QImage::Format_RGB32);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  QFont font = painter.font();
  font.setPixelSize(16);
  painter.setFont(font);
  for (int i = 0; i < names.size(); ++i) {
    const QPoint cell((i % 4) * cellWidth + 8, (i / 4) * cellHeight + 8);
    painter.drawImage(cell, looks[i]);
    painter.drawText(QRect(cell.x(), cell.y() + looks[i].height(), looks[i].width(), labelHeight),
                     Qt::AlignCenter, names[i]);
  }
  painter.end();
  photos.Save(sheet, "skins.png");
  // Back to the first look for what follows.
  desktop.Keys(desktop.MainWindow(), {"alt+s", "Return"});
  photos.Settled(desktop.MainWindow());
}

void TakeAll(const QString& out) {
  DesktopSession desktop;
  const Photographer photos(desktop, out);
  const QString video = desktop.Folder() + "/clip.mpg";
  const QString song = desktop.Folder() + "/evening.kar";
  const std::string made = media_fixtures::WriteMpegVideo(video, 320, 240, "smpte", 6, true);
  if (!made.empty()) throw std::runtime_error(made);
  evening::WriteSong(song);

  desktop.StartProgram();
  const QString main = desktop.MainWindow();
  photos.Window(main, "main-window.png");

  desktop.OpenFile(song);
  const QString lyrics = photos.Place("lyric", kBelow);
  // The karaoke screen, its top line part sung in the first look's blue, part to sing.
  const QString screen = photos.Place("view", kBeside);
  const auto screenSung = [](QRgb c) {
    return qBlue(c) > 180 && qRed(c) < 110 && qGreen(c) > 90 && qGreen(c) < 160;
  };
  photos.Save(evening::WaitPicture(desktop, screen, screenSung, 1500), "karaoke-screen.png");
  // A line partly coloured: some syllables sung, more to come.
  QElapsedTimer waited;
  waited.start();
  QImage karaoke;
  do {
    karaoke = desktop.Screenshot(lyrics);
  } while (evening::Pixels(karaoke, evening::Sung) < 600 && waited.elapsed() < 10000);
  photos.Save(karaoke, "karaoke.png");

  desktop.Keys(main, {"F5"});
  QThread::msleep(2500);
  photos.Save(desktop.Screenshot(main), "recording.png");
  desktop.Keys(main, {"F6"});
  const QString save = photos.Place("Save As", kBelow);
  photos.Window(save, "save-take.png");
  desktop.SaveTakeAs(desktop.Folder() + "/take.wav");
  desktop.Keys(main, {"F4"});

  desktop.OpenFile(video);
  // The program sizes and places the video window once the video has opened: move it after.
  const QString view = desktop.WaitWindow("view");
  evening::WaitPicture(desktop, view, evening::Yellow, 1000);
  desktop.Move(view, kBeside);
  evening::WaitPicture(desktop, view, evening::Yellow, 1000);
  QThread::msleep(1500);  // the time display moves on once a second
  // Both windows and the gap between them, not the empty rest of the screen.
  const QRect both = desktop.Geometry(main).united(desktop.Geometry(view)).adjusted(0, 0, 8, 8);
  photos.Save(desktop.ScreenshotOfScreen().copy(both), "video.png");
  desktop.Keys(main, {"F4"});

  // The panel's button has no key: it is the last 20 pixels of the collapsed panel's caption
  // bar, which is the bottom of the main window.
  const QRect bounds = desktop.Geometry(main);
  desktop.Click(main, bounds.width() - 10, bounds.height() - 10);
  photos.Window(main, "source-panel.png");
  desktop.Click(main, bounds.width() - 10, bounds.height() - 10);

  desktop.Keys(main, {"alt+o", "s"});
  photos.Window(photos.Place("setup", kBeside), "setup.png");
  desktop.Keys(main, {"alt+o", "Down", "Return"});
  photos.Window(photos.Place("MP3 Infomation Setting", QPoint(540, 560)), "mp3-info.png");
  // Update has no access key: the menu left of Help.
  desktop.Keys(main, {"alt+h", "Left", "Return"});
  photos.Window(photos.Place("Online Updates", QPoint(860, 560)), "update.png");

  Skins(desktop, photos);

  // A take left unsaved by a program that ended while recording.
  desktop.Keys(main, {"F5"});
  QThread::msleep(1500);
  desktop.KillProgram();
  desktop.StartProgram();
  photos.Window(photos.Place("Takes not saved", kBeside), "takes-not-saved.png");
  desktop.EndProgram();
}

}  // namespace

int main(int argc, char** argv) {
  // The pictures are composed here without a screen; the program gets the private X server.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("SONARELLE_PROGRAM")) {
    qputenv("SONARELLE_PROGRAM", SONARELLE_INSTALLED_PROGRAM);
  }
  if (qEnvironmentVariableIsEmpty("SONARELLE_SOURCE_DIR")) {
    qputenv("SONARELLE_SOURCE_DIR", SONARELLE_SOURCE_ROOT);
  }
  const QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  try {
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));
    TakeAll(QString::fromLocal8Bit(argv[1]));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "sonarelle_screenshots: %s\n", error.what());
    return 1;
  }
  return 0;
}
