// An updating process for the online update test: the program's windows with their program
// folder at the first argument, Online Update chosen and Update pressed as a user would, and
// every question answered Yes. It ends when the update closes the main window.
#include <QAction>
#include <QPushButton>
#include <QTimer>

#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "platform/Application.h"
#include "platform/ProgramFolder.h"
#include "support/ModalBoxWatcher.h"
#include "update/FrmUpdate.h"

int main(int argc, char** argv) {
  sonarelle::Application app(argc, argv);
  if (argc < 2) return 2;
  sonarelle::SetProgramFolder(QString::fromLocal8Bit(argv[1]));

  sonarelle::TProgramWindows windows;
  windows.FrmMain->show();
  ModalBoxWatcher boxes;
  boxes.AnswerYes(true);
  QTimer::singleShot(0, windows.FrmMain.get(), [&] {
    windows.FrmMain->Item(QStringLiteral("N101"))->trigger();
    windows.FrmUpdate->suiButton1->click();
  });
  return app.exec();
}
