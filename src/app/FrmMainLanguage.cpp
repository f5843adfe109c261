#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

#include "app/CollapsiblePanel.h"
#include "app/FrmConfig.h"
#include "app/FrmDisplay.h"
#include "app/FrmMP3info.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "midi/FrmMidiPlayer.h"
#include "platform/LanguageSection.h"
#include "update/FrmUpdate.h"

namespace sonarelle {

namespace {

struct MenuText {
  const char* key;
  const char* item;
};

// The menu items the language file names, in the order it is read. The key of the VCD menu
// is spelt differently from its item.
constexpr MenuText kMenuTexts[] = {
    {"N1", "N1"},
    {"N11", "N11"},
    {"N12", "N12"},
    {"N13", "N13"},
    {"N14", "N14"},
    {"N15", "N15"},
    {"N16", "N16"},
    {"N17", "N17"},
    {"N2", "N2"},
    {"N21", "N21"},
    {"N22", "N22"},
    {"N23", "N23"},
    {"N3", "N3"},
    {"N31", "N31"},
    {"N32", "N32"},
    {"N4", "N4"},
    {"N41", "N41"},
    {"N42", "N42"},
    {"N43", "N43"},
    {"N5", "N5"},
    {"N51", "N51"},
    {"N52", "N52"},
    {"N6", "N6"},
    {"N61", "N61"},
    {"N62", "N62"},
    {"N63", "N63"},
    {"N64", "N64"},
    {"N8", "N8"},
    {"N81", "N81"},
    {"N82", "N82"},
    {"N83", "N83"},
    {"N9", "N9"},
    {"N91", "N91"},
    {"N92", "N92"},
    {"N93", "N93"},
    {"N94", "N94"},
    {"N95", "N95"},
    {"N96", "N96"},
    {"N97", "N97"},
    {"N98", "N98"},
    {"N10", "N10"},
    {"N101", "N101"},
    {"menuVCD", "MenuVCD"},
    {"MenuScreen", "MenuScreen"},
    {"MenuWindows", "MenuWindows"},
};

// A menu item whose text is "-" is a separator; any other text makes it an ordinary item
// again, even one that was a separator. A menu's own title stays a title.
void SetMenuText(QAction& item, const QString& text) {
  const bool separator = text == QLatin1String("-") && item.menu() == nullptr;
  item.setSeparator(separator);
  item.setText(text);
}

}  // namespace

void TFrmMain::LoadLanguage(const QString& languageFile) {
  // Read once for every window.
  const TIniSnapshot texts = TIniSnapshot::FromFile(languageFile);
  if (FrmConfig != nullptr) FrmConfig->LoadLanguage(texts);
  if (FrmDisplay != nullptr) FrmDisplay->LoadLanguage(texts);

  FTexts.Load(texts);
  const TLanguageSection text(texts, QStringLiteral("FrmMain"));
  setWindowTitle(text("caption", windowTitle()));
  Label1->setText(text("label1", Label1->text()));
  suiPanel1->SetCaption(text("suiPanel1", suiPanel1->Caption()));
  suiPanel1->SetHints(text("HintExpand", suiPanel1->ExpandHint()),
                      text("HintCollapse", suiPanel1->CollapseHint()));
  for (QToolButton* button : {BtnPlay, BtnPause, BtnStop, BtnRecord, BtnStopRecord}) {
    button->setToolTip(text(button->objectName().toLatin1().constData(), button->toolTip()));
  }
  for (const MenuText& row : kMenuTexts) {
    QAction* item = Item(QString::fromLatin1(row.item));
    const QString shown = item->isSeparator() ? QStringLiteral("-") : item->text();
    SetMenuText(*item, text(row.key, shown));
  }

  if (FrmMP3info != nullptr) FrmMP3info->LoadLanguage(texts);
  if (FrmWaiting != nullptr) FrmWaiting->LoadLanguage(texts);
  if (FrmMidiPlayer != nullptr) FrmMidiPlayer->LoadLanguage(texts);
  if (FrmUpdate != nullptr) FrmUpdate->LoadLanguage(texts);
  if (FrmTakes != nullptr) FrmTakes->LoadLanguage(texts);
}

void TFrmMain::FormShow() {
  LoadLanguage(FLanguageFile);
  ApplySavedSkin();
}

}  // namespace sonarelle
