#include "platform/Application.h"

#include "platform/MessageBoxes.h"

namespace sonarelle {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("sonarelle"));
  setOrganizationName(QStringLiteral("sonarelle"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  // Commands and ticks catch their own errors; this is the last line for the rest.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(error);
  }
  return false;
}

}  // namespace sonarelle
