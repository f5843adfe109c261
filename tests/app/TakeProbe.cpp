// A recording process for the tests and the benchmark that end one from outside (a kill, a
// signal): the program's windows as the program makes them, Record as F5 gives it, and the
// take's path on standard output ("take PATH"). With "--ask-after MS" it stops recording
// after MS milliseconds, which shows the save dialog, and says "asking" once it shows; with
// "--save-as FILE" as well it answers the dialog with FILE and says "converting" once the
// take, slowed down, converts to it. With "--play FILE" it opens FILE as the open command
// does once recording runs, and says "opening" just before.
#include <cstdio>

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "audio/pump/MMTrigger.h"
#include "platform/Application.h"
#include "platform/MessageBoxes.h"

int main(int argc, char** argv) {
  sonarelle::Application app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  const qsizetype ask = args.indexOf(QStringLiteral("--ask-after"));
  const int askAfter = ask >= 0 ? args.value(ask + 1).toInt() : -1;
  const qsizetype save = args.indexOf(QStringLiteral("--save-as"));
  const QString saveAs = save >= 0 ? args.value(save + 1) : QString();
  const qsizetype play = args.indexOf(QStringLiteral("--play"));
  const QString song = play >= 0 ? args.value(play + 1) : QString();

  sonarelle::TProgramWindows windows;
  sonarelle::TFrmMain& main = *windows.FrmMain;
  main.show();
  if (!saveAs.isEmpty()) main.MMTrigger1->SetInterval(15);
  QTimer::singleShot(0, &main, [&] {
    main.Item(QStringLiteral("N31"))->trigger();
    if (!main.FRecording) {
      QCoreApplication::exit(3);
      return;
    }
    std::printf("take %s\n", qPrintable(main.FTempWave));
    std::fflush(stdout);
    if (!song.isEmpty()) {
      QTimer::singleShot(0, &main, [&] {
        std::printf("opening\n");
        std::fflush(stdout);
        sonarelle::RunGuarded([&] { main.PlayFile(song); });
      });
    }
    if (askAfter >= 0) {
      QTimer::singleShot(askAfter, &main, [&] { main.Item(QStringLiteral("N32"))->trigger(); });
    }
  });
  QTimer asking;
  QTimer converting;
  QObject::connect(&asking, &QTimer::timeout, [&] {
    if (main.SaveDialog1 == nullptr || !main.SaveDialog1->isVisible()) return;
    asking.stop();
    std::printf("asking\n");
    std::fflush(stdout);
    if (saveAs.isEmpty()) return;
    main.SaveDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(saveAs);
    static_cast<QDialog*>(main.SaveDialog1)->done(QDialog::Accepted);
    converting.start(20);
  });
  QObject::connect(&converting, &QTimer::timeout, [&] {
    if (!main.FConverting) return;
    converting.stop();
    std::printf("converting\n");
    std::fflush(stdout);
  });
  asking.start(20);
  return app.exec();
}
