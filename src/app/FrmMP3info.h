#pragma once

#include <QString>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sonarelle {

class TIniSnapshot;

// The tag dialog: the five ID3v1 texts a saved MP3 take gets, read from config.ini once at
// creation and stored by OK.
class TFrmMP3info : public QWidget {
 public:
  static constexpr int kClientWidth = 300;
  static constexpr int kClientHeight = 200;

  // Reads the tag texts of `configFile`; OK writes them back there.
  explicit TFrmMP3info(QString configFile);

  // Takes the window's texts from the "FrmMP3info" section of the language file; missing
  // keys keep their defaults.
  void LoadLanguage(const TIniSnapshot& texts);

  QGroupBox* suiGroupBox1 = nullptr;
  QLabel* Label1 = nullptr;           // title
  QLabel* Label2 = nullptr;           // artist
  QLabel* Label3 = nullptr;           // album
  QLabel* Label4 = nullptr;           // year
  QLabel* Label5 = nullptr;           // comment
  QLineEdit* suiEdit1 = nullptr;      // title
  QLineEdit* suiEdit2 = nullptr;      // artist
  QLineEdit* suiEdit3 = nullptr;      // album
  QLineEdit* suiEdit4 = nullptr;      // year
  QLineEdit* suiEdit5 = nullptr;      // comment
  QPushButton* suiButton1 = nullptr;  // OK
  QPushButton* suiButton2 = nullptr;  // Cancel

 private:
  void FormCreate();
  void suiButton1Click();

  QString configFile_;
};

}  // namespace sonarelle
