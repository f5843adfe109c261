// sonarelle-updater PID RESTART-COMMAND [COMPONENT]...
// Started by the update engine, in the program's current folder, just before the program
// ends; see updater/Updater.h.
#include <QCoreApplication>

#include "updater/Updater.h"

int main(int argc, char** argv) {
  const QCoreApplication app(argc, argv);
  sonarelle::updater::Log log(sonarelle::updater::Log::DefaultPath());
  return sonarelle::updater::Run(QCoreApplication::arguments().mid(1), log);
}
