// The program: creates its windows in their fixed order, shows the main window and runs
// the message loop until the program ends.
#include <cstdio>
#include <memory>

#include <QTimer>

#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
  sonarelle::Application app(argc, argv);

  sonarelle::TProgramWindows windows;
  windows.FrmMain->show();

  // The start-up benchmark asks to be told when the main window is on screen.
  if (qEnvironmentVariableIsSet("SONARELLE_STARTUP_PROBE")) {
    QTimer::singleShot(0, &app, [] {
      std::puts("shown");
      std::fflush(stdout);
      QCoreApplication::exit(0);
    });
  }
  return app.exec();
}
