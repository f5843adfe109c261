#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers the standard message boxes a test provokes: while it lives, every QMessageBox
// that comes up modal is recorded (caption and text) and closed with its default button.
class ModalBoxWatcher : public QObject {
 public:
  ModalBoxWatcher();

  struct Box {
    QString caption;
    QString text;
    bool critical = false;
  };
  const QList<Box>& Boxes() const { return boxes_; }
  QStringList Texts() const;

 private:
  void Poll();

  QTimer timer_;
  QList<Box> boxes_;
};
