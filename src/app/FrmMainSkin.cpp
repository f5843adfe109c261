#include <QAction>

#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"
#include "skins/SuiFileTheme.h"
#include "skins/SuiThemeManager.h"

namespace sonarelle {

namespace {

struct Skin {
  const char* item;
  TsuiUIStyle style;
  const char* themeFile;  // below the program folder, or null for a built-in look
};

// Skin numbers 1 to 8 in order. The numbers do not follow the library's style values.
constexpr Skin kSkins[] = {
    {"N91", TsuiUIStyle::MacOS, nullptr},
    {"N92", TsuiUIStyle::WinXP, nullptr},
    {"N93", TsuiUIStyle::Protein, nullptr},
    {"N94", TsuiUIStyle::BlueGlass, nullptr},
    {"N95", TsuiUIStyle::DeepBlue, nullptr},
    {"N96", TsuiUIStyle::FromThemeFile, "themes/xpsilver.sui"},
    {"N97", TsuiUIStyle::FromThemeFile, "themes/xpgreen.sui"},
    {"N98", TsuiUIStyle::FromThemeFile, "themes/bluestorm.sui"},
};
constexpr int kSkinCount = static_cast<int>(std::size(kSkins));

struct SkinnedWindow {
  const char* window;
  std::initializer_list<const char*> controls;
};

// The skinned controls of each window, in the order a skin reaches the windows. A window
// not made yet is skipped; once it is linked, its manager takes its list from here.
const std::initializer_list<SkinnedWindow>& SkinnedWindows() {
  static const std::initializer_list<SkinnedWindow> windows = {
      {"FrmConfig",
       {"suiForm1", "suiRadioGroup1", "suiRadioButton1", "suiRadioButton2", "suiRadioGroup2",
        "suiRadioButton3", "suiRadioButton4", "suiComboBox1", "suiEdit1", "suiButton1",
        "suiButton2", "suiButton3"}},
      {"FrmDisplay", {"suiForm1"}},
      {"FrmMain",
       {"suiForm1", "suiPanel1", "suiGroupBox4", "suiGroupBox1", "suiTrackBar1", "suiGroupBox2",
        "suiGroupBox3", "suiTrackBar2", "suiMainMenu1", "suiPopupMenu1"}},
      {"FrmMP3info",
       {"suiForm1", "suiGroupBox1", "suiEdit1", "suiEdit2", "suiEdit3", "suiEdit4", "suiEdit5",
        "suiButton1", "suiButton2"}},
      {"FrmWaiting", {"suiForm1", "suiProgressBar1", "BtnStop"}},
      {"FrmMidiPlayer", {"suiForm1", "suiComboBox1"}},
      {"FrmUpdate",
       {"suiForm1", "suiGroupBox1", "suiCheckBox1", "suiEdit1", "suiEdit2", "suiEdit3",
        "suiButton1", "suiButton2", "suiProgressBar1"}},
      {"FrmTakes", {"suiForm1", "ListTakes", "BtnSave", "BtnDiscard", "BtnShowFolder", "BtnLater"}},
  };
  return windows;
}

TsuiThemeManager* ManagerOf(const QWidget& window) {
  return window.findChild<TsuiThemeManager*>(QStringLiteral("suiThemeManager1"),
                                             Qt::FindDirectChildrenOnly);
}

}  // namespace

void TFrmMain::BuildSkinCommands() {
  for (int number = 1; number <= kSkinCount; ++number) {
    connect(Item(QString::fromLatin1(kSkins[number - 1].item)), &QAction::triggered, this,
            [this, number] { RunGuarded([this, number] { SkinClick(number); }); });
  }
  AttachThemeManagers({this});
}

void TFrmMain::AttachThemeManagers(const QList<QWidget*>& windows) {
  for (QWidget* window : windows) {
    if (window == nullptr || ManagerOf(*window) != nullptr) continue;
    for (const SkinnedWindow& row : SkinnedWindows()) {
      if (window->objectName() != QLatin1String(row.window)) continue;
      QStringList controls;
      for (const char* name : row.controls) controls << QString::fromLatin1(name);
      // The window owns its manager.
      new TsuiThemeManager(*window, controls, *suiFileTheme1);
      skinnedWindows_ << window;
    }
  }
}

QList<TsuiThemeManager*> TFrmMain::ThemeManagers() const {
  QList<TsuiThemeManager*> managers;
  for (const SkinnedWindow& row : SkinnedWindows()) {
    for (QWidget* window : skinnedWindows_) {
      if (window->objectName() == QLatin1String(row.window)) managers << ManagerOf(*window);
    }
  }
  return managers;
}

void TFrmMain::ApplySkin(int number) {
  TsuiUIStyle style = TsuiUIStyle::MacOS;
  if (number >= 1 && number <= kSkinCount) {
    const Skin& skin = kSkins[number - 1];
    // A theme file that does not load leaves the file theme's colours as they were.
    if (skin.themeFile != nullptr) {
      suiFileTheme1->Load(ProgramFolder() + QString::fromLatin1(skin.themeFile));
    }
    style = skin.style;
  }
  for (TsuiThemeManager* manager : ThemeManagers()) manager->SetUIStyle(style);
  if (FrmDisplay != nullptr) {
    if (const TsuiThemeManager* manager = ManagerOf(*FrmDisplay)) {
      FrmDisplay->SetLook(manager->Colors());
    }
  }
}

void TFrmMain::SkinClick(int number) {
  ApplySkin(number);
  SettingsStore::WriteInteger(FConfigFile, QString::fromLatin1(ConfigKeys::kSkinSection),
                              QString::fromLatin1(ConfigKeys::kSkin), number);
}

void TFrmMain::ApplySavedSkin() {
  ApplySkin(SettingsStore::ReadInteger(FConfigFile, QString::fromLatin1(ConfigKeys::kSkinSection),
                                       QString::fromLatin1(ConfigKeys::kSkin),
                                       ConfigKeys::kSkinDefault));
}

}  // namespace sonarelle
