#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers the standard message boxes a test provokes: while it lives, every QMessageBox
// that comes up modal is recorded (caption and text) and closed with its OK button; any
// other modal dialog is cancelled.
class ModalBoxWatcher : public QObject {
 public:
  // `cancelOtherDialogs` off leaves file dialogs to the test.
  explicit ModalBoxWatcher(bool cancelOtherDialogs = true);

  struct Box {
    QString caption;
    QString text;
    bool critical = false;
  };
  const QList<Box>& Boxes() const { return boxes_; }
  QStringList Texts() const;

 private:
  void Poll();

  bool cancelOtherDialogs_;
  QTimer timer_;
  QList<Box> boxes_;
};
