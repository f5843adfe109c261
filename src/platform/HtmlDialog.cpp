#include "platform/HtmlDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/MessageBoxes.h"

namespace sonarelle {

void ShowHtmlDialog(const QString& html, const QString& url) {
  if (!HaveWidgets()) return;
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName(QStringLiteral("HtmlDialog"));
  dialog.setWindowTitle(QString::fromUtf8(kApplicationTitle));
  dialog.resize(520, 420);
  auto* layout = new QVBoxLayout(&dialog);
  auto* browser = new QTextBrowser(&dialog);
  // Links leave for the web browser; the dialog never fetches anything itself.
  browser->setOpenExternalLinks(true);
  browser->document()->setBaseUrl(QUrl(url));
  browser->setHtml(html);
  layout->addWidget(browser);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.exec();
}

}  // namespace sonarelle
