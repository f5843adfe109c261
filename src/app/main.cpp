// The program: creates its windows in their fixed order, shows the main window and runs
// the message loop until the program ends.
#include <cstdio>
#include <memory>

#include <QIcon>

#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
  sonarelle::Application app(argc, argv);
  // Desktops match the windows to the installed desktop entry by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.sonarelle.Sonarelle"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.sonarelle.Sonarelle-48.png")));

  sonarelle::TProgramWindows windows;
  // The start-up benchmark asks to be told when the main window is on screen.
  if (qEnvironmentVariableIsSet("SONARELLE_STARTUP_PROBE")) {
    windows.FrmMain->OnScreen = [] {
      std::puts("shown");
      std::fflush(stdout);
      QCoreApplication::exit(0);
    };
  }
  windows.FrmMain->show();
  return app.exec();
}
