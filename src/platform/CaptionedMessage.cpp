#include "platform/CaptionedMessage.h"

#include "platform/MessageBoxes.h"

#include <cstdio>

#include <QApplication>
#include <QMessageBox>

namespace sonarelle {

void ShowCaptionedMessage(const QString& caption, const QString& text) {
  if (!HaveWidgets()) {
    std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

}  // namespace sonarelle
