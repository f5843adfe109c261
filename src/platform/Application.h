#pragma once

#include <QApplication>

namespace sonarelle {

// The program's application object: its title is the standard boxes' caption, and an error
// that escapes a handler anywhere in the message loop is shown in the standard error box
// instead of ending the program.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace sonarelle
