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
  // Questions with Yes and No are answered Yes from now on (No before).
  void AnswerYes(bool yes) { answerYes_ = yes; }
  const QList<Box>& Boxes() const { return boxes_; }
  QStringList Texts() const;

 private:
  void Poll();

  bool cancelOtherDialogs_;
  bool answerYes_ = false;
  QTimer timer_;
  QList<Box> boxes_;
};
