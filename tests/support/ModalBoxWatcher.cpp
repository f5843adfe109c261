#include "ModalBoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

ModalBoxWatcher::ModalBoxWatcher(bool cancelOtherDialogs)
    : cancelOtherDialogs_(cancelOtherDialogs) {
  connect(&timer_, &QTimer::timeout, this, &ModalBoxWatcher::Poll);
  timer_.start(5);
}

QStringList ModalBoxWatcher::Texts() const {
  QStringList texts;
  for (const Box& box : boxes_) texts << box.text;
  return texts;
}

void ModalBoxWatcher::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  auto* box = qobject_cast<QMessageBox*>(modal);
  if (box == nullptr) {
    // Other dialogs (file dialogs) are cancelled.
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (cancelOtherDialogs_ && dialog != nullptr && dialog->isVisible()) {
      dialog->reject();
    }
    return;
  }
  if (!box->isVisible()) return;
  boxes_.append({box->windowTitle(), box->text(), box->icon() == QMessageBox::Critical});
  if (QAbstractButton* yes = box->button(QMessageBox::Yes); yes != nullptr && answerYes_) {
    yes->click();
  } else if (QAbstractButton* no = box->button(QMessageBox::No)) {
    no->click();
  } else if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
    ok->click();
  } else {
    box->reject();
  }
}
