#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QWidget>

#include "platform/LanguageSection.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace sonarelle {

class TIniSnapshot;

class TWebUpdate;

// The online update window: the proxy settings, Update and Cancel, and the progress of a run
// of its update engine.
class TFrmUpdate : public QWidget {
 public:
  static constexpr int kClientWidth = 266;
  static constexpr int kClientHeight = 238;
  static constexpr const char* kDefaultUpdateUrl =
      "https://sonarelle.org/update/sonarelle_recorder/update.inf";

  // Reads the proxy settings of `configFile`; `closeMainWindow` ends the program when the
  // updater must replace its files.
  TFrmUpdate(QString configFile, std::function<void()> closeMainWindow);
  ~TFrmUpdate() override;

  // Takes the window's texts, the restart question and the control file's address from the
  // "FrmUpdate" section of the language file; missing keys keep their defaults.
  void LoadLanguage(const TIniSnapshot& texts);

  QGroupBox* suiGroupBox1 = nullptr;
  QCheckBox* suiCheckBox1 = nullptr;
  QLineEdit* suiEdit1 = nullptr;
  QLineEdit* suiEdit2 = nullptr;
  QLineEdit* suiEdit3 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QProgressBar* suiProgressBar1 = nullptr;
  QPushButton* suiButton1 = nullptr;
  QPushButton* suiButton2 = nullptr;
  std::unique_ptr<TWebUpdate> WebUpdate1;

  // The restart question and the control file's address.
  QString Msg1 = QStringLiteral("Shutting down application to update executable files ?");
  QString WebUpdateUrl = QString::fromLatin1(kDefaultUpdateUrl);

 private:
  void FormCreate();
  void suiCheckBox1Click();
  void suiButton1Click();
  void WebUpdate1FileProgress(qint64 received, qint64 total);

  QString configFile_;
  TLanguageTexts texts_{QStringLiteral("FrmUpdate")};
  std::function<void()> closeMainWindow_;
};

}  // namespace sonarelle
