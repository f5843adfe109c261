#include "ModalBoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

ModalBoxWatcher::ModalBoxWatcher() {
  connect(&timer_, &QTimer::timeout, this, &ModalBoxWatcher::Poll);
  timer_.start(5);
}

QStringList ModalBoxWatcher::Texts() const {
  QStringList texts;
  for (const Box& box : boxes_) texts << box.text;
  return texts;
}

void ModalBoxWatcher::Poll() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible()) return;
  boxes_.append({box->windowTitle(), box->text(), box->icon() == QMessageBox::Critical});
  if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
    ok->click();
  } else {
    box->reject();
  }
}
