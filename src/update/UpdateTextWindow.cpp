#include "update/UpdateTextWindow.h"

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "platform/MessageBoxes.h"

namespace sonarelle::update_windows {

namespace {

constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

// The window both texts share: 400 x 400, centred, a system menu only, and a read-only
// memo 20 pixels narrower and 60 pixels lower than the client area.
QPlainTextEdit* Prepare(QDialog& dialog, const QString& caption, const QStringList& lines) {
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowCloseButtonHint);
  dialog.setWindowTitle(caption);
  dialog.setFixedSize(400, 400);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    dialog.move(screen->availableGeometry().center() - dialog.rect().center());
  }
  auto* memo = new QPlainTextEdit(&dialog);
  memo->setObjectName(QStringLiteral("Memo"));
  memo->setReadOnly(true);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setGeometry(10, 10, dialog.width() - 20, dialog.height() - 60);
  memo->setPlainText(lines.join(QLatin1Char('\n')));
  return memo;
}

QPushButton* Button(QDialog& dialog, const QString& caption, int x, int y) {
  auto* button = new QPushButton(caption, &dialog);
  button->setGeometry(x, y, kButtonWidth, kButtonHeight);
  return button;
}

}  // namespace

int ShowWhatsNew(const QString& caption, const QStringList& lines, const QString& okCaption,
                 const QString& cancelCaption) {
  if (!HaveWidgets()) return -1;
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName(QStringLiteral("WhatsNewWindow"));
  const QRect memo = Prepare(dialog, caption, lines)->geometry();
  const int y = memo.bottom() + 1 + 10;
  QPushButton* ok = Button(dialog, okCaption, memo.right() + 1 - 2 * kButtonWidth - 10, y);
  QPushButton* cancel = Button(dialog, cancelCaption, memo.right() + 1 - kButtonWidth, y);
  ok->setObjectName(QStringLiteral("OkButton"));
  cancel->setObjectName(QStringLiteral("CancelButton"));
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  return dialog.exec() == QDialog::Accepted ? 1 : -1;
}

bool ShowLicense(const QString& caption, const QStringList& lines, const QString& okCaption,
                 const QString& acceptCaption, const QString& notAcceptCaption) {
  if (!HaveWidgets()) return false;
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName(QStringLiteral("LicenseWindow"));
  const QRect memo = Prepare(dialog, caption, lines)->geometry();
  const int y = memo.bottom() + 1 + 10;
  QPushButton* ok = Button(dialog, okCaption, memo.right() + 1 - kButtonWidth, y);
  ok->setObjectName(QStringLiteral("OkButton"));
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* accept = new QRadioButton(acceptCaption, &dialog);
  accept->setObjectName(QStringLiteral("AcceptChoice"));
  accept->adjustSize();
  accept->move(10, y);
  auto* notAccept = new QRadioButton(notAcceptCaption, &dialog);
  notAccept->setObjectName(QStringLiteral("NotAcceptChoice"));
  notAccept->adjustSize();
  notAccept->move(accept->geometry().right() + 1 + 20, y);
  dialog.exec();
  return accept->isChecked();
}

}  // namespace sonarelle::update_windows
