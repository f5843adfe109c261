// Shared main of the window tests: the program's own application object on whatever Qt
// platform the environment names (offscreen under ctest).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "platform/Application.h"
#include "support/PrivateFolders.h"

namespace {

// Counts the times dialogs come up, so that one shown again after an answer (a save dialog
// asking once more) is not taken for one left unanswered.
class DialogShows : public QObject {
 public:
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && qobject_cast<QDialog*>(watched) != nullptr) ++count;
    return false;
  }
};

// A modal dialog nobody answers would hang the test run: one still open after a second is
// reported as a failure and closed. Tests that expect dialogs answer them sooner.
void GuardAgainstStrayBoxes(QTimer& timer) {
  static DialogShows shows;
  qApp->installEventFilter(&shows);
  static QPointer<QWidget> seen;
  static int seenShows = 0;
  QObject::connect(&timer, &QTimer::timeout, [] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog != seen || shows.count != seenShows) {
      seen = dialog;
      seenShows = shows.count;
      return;
    }
    auto* box = qobject_cast<QMessageBox*>(dialog);
    ADD_FAILURE() << "unanswered dialog: "
                  << (box ? box->text() : dialog->windowTitle()).toStdString();
    seen = nullptr;
    dialog->reject();
  });
  timer.start(1000);
}

}  // namespace

int main(int argc, char** argv) {
  UsePrivateFolders();
  sonarelle::Application app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  QTimer guard;
  GuardAgainstStrayBoxes(guard);
  return RUN_ALL_TESTS();
}
