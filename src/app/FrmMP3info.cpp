#include "app/FrmMP3info.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/LanguageSection.h"
#include "platform/MessageBoxes.h"
#include "platform/NamedControl.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

namespace Keys = ConfigKeys;

TFrmMP3info::TFrmMP3info(QString configFile)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      configFile_(std::move(configFile)) {
  setObjectName(QStringLiteral("FrmMP3info"));
  setWindowTitle(QStringLiteral("MP3 Infomation Setting"));
  setFixedSize(kClientWidth, kClientHeight);

  suiGroupBox1 = AddNamed<QGroupBox>(this, "suiGroupBox1", {8, 8, 284, 148});
  const auto row = [this](int index, const char* caption, QLabel*& label, QLineEdit*& edit) {
    const int y = 16 + index * 26;
    label =
        AddNamed<QLabel>(suiGroupBox1, QByteArray("Label").append(char('1' + index)).constData(),
                         {12, y + 2, 64, 17}, QString::fromLatin1(caption));
    edit = AddNamed<QLineEdit>(suiGroupBox1,
                               QByteArray("suiEdit").append(char('1' + index)).constData(),
                               {80, y, 192, 21});
  };
  row(0, "title", Label1, suiEdit1);
  row(1, "Artist", Label2, suiEdit2);
  row(2, "Album", Label3, suiEdit3);
  row(3, "Year", Label4, suiEdit4);
  row(4, "Comment", Label5, suiEdit5);

  suiButton1 = AddNamed<QPushButton>(this, "suiButton1", {56, 166, 75, 25}, QStringLiteral("OK"));
  suiButton2 =
      AddNamed<QPushButton>(this, "suiButton2", {168, 166, 75, 25}, QStringLiteral("Cancel"));

  connect(suiButton1, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { suiButton1Click(); }); });
  // Cancel keeps what was typed: a later OK stores it.
  connect(suiButton2, &QPushButton::clicked, this, &QWidget::hide);
  FormCreate();
}

void TFrmMP3info::FormCreate() {
  const auto read = [this](const char* key) {
    return SettingsStore::ReadText(configFile_, QString::fromLatin1(Keys::kMp3InfoSection),
                                   QString::fromLatin1(key));
  };
  suiEdit3->setText(read(Keys::kAlbum));
  suiEdit2->setText(read(Keys::kArtist));
  suiEdit5->setText(read(Keys::kComment));
  suiEdit1->setText(read(Keys::kTitle));
  suiEdit4->setText(read(Keys::kYear));
}

void TFrmMP3info::LoadLanguage(const TIniSnapshot& texts) {
  const TLanguageSection text(texts, QStringLiteral("FrmMP3info"));
  setWindowTitle(text("caption", windowTitle()));
  Label1->setText(text("label1", Label1->text()));
  Label2->setText(text("label2", Label2->text()));
  Label3->setText(text("label3", Label3->text()));
  Label4->setText(text("label4", Label4->text()));
  Label5->setText(text("label5", Label5->text()));
  suiButton1->setText(text("suiButton1", suiButton1->text()));
  suiButton2->setText(text("suiButton2", suiButton2->text()));
}

void TFrmMP3info::suiButton1Click() {
  const auto write = [this](const char* key, const QLineEdit* edit) {
    SettingsStore::WriteText(configFile_, QString::fromLatin1(Keys::kMp3InfoSection),
                             QString::fromLatin1(key), edit->text());
  };
  // The order readers of the file have always found them in.
  write(Keys::kAlbum, suiEdit3);
  write(Keys::kArtist, suiEdit2);
  write(Keys::kComment, suiEdit5);
  write(Keys::kTitle, suiEdit1);
  write(Keys::kYear, suiEdit4);
  hide();
}

}  // namespace sonarelle
