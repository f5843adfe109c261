#include "platform/MessageBoxes.h"

#include <cstdio>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace sonarelle {

namespace {

void ShowBox(QMessageBox::Icon icon, const QString& text) {
  if (!HaveWidgets()) {
    std::fprintf(stderr, "%s: %s\n", kApplicationTitle, text.toLocal8Bit().constData());
    return;
  }
  QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

}  // namespace

bool HaveWidgets() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

void ShowMessage(const QString& text) {
  ShowBox(QMessageBox::NoIcon, text);
}

void ShowErrorBox(const QString& text) {
  ShowBox(QMessageBox::Critical, text);
}

void ShowInformation(const QString& text) {
  ShowBox(QMessageBox::Information, text);
}

bool AskYesNo(const QString& text) {
  return AskYesNo(text, QString(), QString());
}

bool AskYesNo(const QString& text, const QString& yes, const QString& no) {
  if (!HaveWidgets()) {
    std::fprintf(stderr, "%s: %s (No)\n", kApplicationTitle, text.toLocal8Bit().constData());
    return false;
  }
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationTitle), text,
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
  if (!yes.isEmpty()) box.button(QMessageBox::Yes)->setText(yes);
  if (!no.isEmpty()) box.button(QMessageBox::No)->setText(no);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void ShowException(const std::exception& error) {
  ShowErrorBox(QString::fromUtf8(error.what()));
}

}  // namespace sonarelle
