#include "app/FrmDisplay.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

#include "app/FrmMain.h"
#include "midi/KaraokeScreen.h"
#include "platform/LanguageSection.h"

namespace sonarelle {

TFrmDisplay::TFrmDisplay(TFrmMain& main) : QWidget(nullptr, Qt::Window), main_(main) {
  setObjectName(QStringLiteral("FrmDisplay"));
  setWindowTitle(QStringLiteral("view"));
  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setAutoFillBackground(true);
  QPalette palette = Panel1->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipText));
  Panel1->setPalette(palette);
  Panel1->installEventFilter(this);
  KaraokeScreen = new TKaraokeScreen(Panel1);
  KaraokeScreen->hide();
  // Clicks and the pop-up menu reach the panel's own handling.
  KaraokeScreen->setAttribute(Qt::WA_TransparentForMouseEvents);
  SetLook(Readable(BuiltInLook(TsuiUIStyle::MacOS)));
  resize(352, 288);
}

void TFrmDisplay::SetLook(const TSkinColors& look) {
  const TKaraokeColours colours = KaraokeColoursOf(look);
  KaraokeScreen->SetColours(colours.background, colours.toSing, colours.sung);
}

void TFrmDisplay::ShowKaraoke(TKaraokeSong song, std::function<int()> position) {
  KaraokeScreen->Position = std::move(position);
  KaraokeScreen->setGeometry(Panel1->rect());
  KaraokeScreen->SetSong(std::move(song));
  KaraokeScreen->show();
}

void TFrmDisplay::HideKaraoke() {
  KaraokeScreen->Run(false);
  KaraokeScreen->hide();
}

void TFrmDisplay::LoadLanguage(const TIniSnapshot& texts) {
  const TLanguageSection text(texts, QStringLiteral("FrmDisplay"));
  setWindowTitle(text("caption", windowTitle()));
}

bool TFrmDisplay::eventFilter(QObject* watched, QEvent* event) {
  if (watched != Panel1) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Resize:
      // Full screen and Normal size the panel itself.
      KaraokeScreen->setGeometry(Panel1->rect());
      break;
    case QEvent::ContextMenu:
      main_.suiPopupMenu1->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    case QEvent::MouseButtonPress:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        activateWindow();
        setFocus();
      }
      break;
    case QEvent::MouseButtonDblClick:
      main_.raise();
      main_.activateWindow();
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void TFrmDisplay::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The panel fills the window below its title bar, windowed and full screen alike.
  Panel1->setGeometry(0, TitleBarHeight(), width(), height() - TitleBarHeight());
}

}  // namespace sonarelle
