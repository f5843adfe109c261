#include "update/FrmUpdate.h"

#include <unistd.h>

#include <algorithm>

#include <QCheckBox>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "platform/Exception.h"
#include "platform/IniProfile.h"
#include "platform/LanguageSection.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "platform/UpdateSignature.h"
#include "update/WebUpdate.h"

namespace sonarelle {

namespace {

constexpr TText kCannotUpdateItself{
    "MsgCannotUpdateItself",
    "Sonarelle cannot update itself: its folder %1 is not writable. Update it the way it was "
    "installed (with the package manager)."};
constexpr TText kUnableToWrite{"MsgUnableToWrite", "Unable to write to %1"};

const QString kProxySection = QStringLiteral("proxy");

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int y) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(16, y, 80, 17);
  return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, int y) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(96, y, 145, 17);
  return edit;
}

// The key a publisher's own updates are checked with: a key file beside the program, which
// is as trustworthy as the program's own files, else the key the program was built with.
QByteArray TrustedUpdateKey() {
  QFile file(ProgramFolder() + QStringLiteral("update-key.pub"));
  if (file.open(QIODevice::ReadOnly)) {
    QByteArray key = file.readAll().trimmed();
    if (!key.isEmpty()) return key;
  }
  return UpdateSignature::ReleasePublicKey();
}

}  // namespace

TFrmUpdate::TFrmUpdate(QString configFile, std::function<void()> closeMainWindow)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      WebUpdate1(std::make_unique<TWebUpdate>()),
      configFile_(std::move(configFile)),
      closeMainWindow_(std::move(closeMainWindow)) {
  setObjectName(QStringLiteral("FrmUpdate"));
  setWindowTitle(QStringLiteral("Online Updates"));
  setFixedSize(kClientWidth, kClientHeight);
  // The layout's sizes were made for a small dialog font: "Proxy Password" fits its 80 pixels.
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(10);
  setFont(font);

  suiGroupBox1 = new QGroupBox(QStringLiteral("Proxy"), this);
  suiGroupBox1->setObjectName(QStringLiteral("suiGroupBox1"));
  suiGroupBox1->setGeometry(8, 32, 249, 113);
  suiCheckBox1 = new QCheckBox(QStringLiteral("Enable Proxy"), suiGroupBox1);
  suiCheckBox1->setObjectName(QStringLiteral("suiCheckBox1"));
  suiCheckBox1->setGeometry(16, 16, 225, 17);
  Label1 = AddLabel(suiGroupBox1, "Label1", QStringLiteral("Proxy"), 40);
  Label2 = AddLabel(suiGroupBox1, "Label2", QStringLiteral("Proxy User ID"), 64);
  Label3 = AddLabel(suiGroupBox1, "Label3", QStringLiteral("Proxy Password"), 88);
  suiEdit1 = AddEdit(suiGroupBox1, "suiEdit1", 40);
  suiEdit2 = AddEdit(suiGroupBox1, "suiEdit2", 64);
  suiEdit3 = AddEdit(suiGroupBox1, "suiEdit3", 88);
  suiEdit3->setEchoMode(QLineEdit::Password);

  Label4 = new QLabel(QStringLiteral("The process will need long time. Please wait!"), this);
  Label4->setObjectName(QStringLiteral("Label4"));
  Label4->setGeometry(8, 153, 249, 17);
  suiProgressBar1 = new QProgressBar(this);
  suiProgressBar1->setObjectName(QStringLiteral("suiProgressBar1"));
  suiProgressBar1->setGeometry(8, 176, 249, 12);
  suiProgressBar1->setRange(0, 100);
  suiProgressBar1->setValue(0);
  suiProgressBar1->setTextVisible(true);
  suiButton1 = new QPushButton(QStringLiteral("Update"), this);
  suiButton1->setObjectName(QStringLiteral("suiButton1"));
  suiButton1->setGeometry(24, 200, 73, 25);
  suiButton2 = new QPushButton(QStringLiteral("Cancel"), this);
  suiButton2->setObjectName(QStringLiteral("suiButton2"));
  suiButton2->setGeometry(160, 200, 73, 25);

  TWebUpdate& engine = *WebUpdate1;
  engine.UpdateType = TWebUpdateType::httpUpdate;
  engine.UpdateConnect = TWebUpdateConnect::wucNoConnect;
  engine.UpdateUpdate = TWebUpdateUpdate::wuuSilent;
  engine.ExtractCAB = true;
  engine.UpdatePublicKey = TrustedUpdateKey();
  engine.OnFileProgress = [this](TWebUpdate*, const QString&, qint64 received, qint64 total) {
    WebUpdate1FileProgress(received, total);
  };
  engine.OnAppRestart = [this](TWebUpdate*, bool* allow) { *allow = AskYesNo(Msg1); };
  engine.OnAppDoClose = [this](TWebUpdate*) {
    if (closeMainWindow_) closeMainWindow_();
  };

  connect(suiCheckBox1, &QCheckBox::clicked, this, [this] { suiCheckBox1Click(); });
  connect(suiButton1, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { suiButton1Click(); }); });
  // Cancel only hides the window: a run that is going on goes on.
  connect(suiButton2, &QPushButton::clicked, this, &QWidget::hide);
  FormCreate();
}

TFrmUpdate::~TFrmUpdate() = default;

void TFrmUpdate::FormCreate() {
  const auto read = [this](const char* key) {
    return IniProfile::ReadString(configFile_, kProxySection, QString::fromLatin1(key), {});
  };
  suiCheckBox1->setChecked(read("isProxy") == QStringLiteral("1"));
  suiEdit1->setText(read("proxy"));
  suiEdit2->setText(read("proxyUserID"));
  suiEdit3->setText(read("proxyPassword"));
  suiCheckBox1Click();
}

void TFrmUpdate::LoadLanguage(const TIniSnapshot& texts) {
  texts_.Load(texts);
  const TLanguageSection text(texts, QStringLiteral("FrmUpdate"));
  setWindowTitle(text("caption", windowTitle()));
  Label1->setText(text("label1", Label1->text()));
  Label2->setText(text("label2", Label2->text()));
  Label3->setText(text("label3", Label3->text()));
  suiCheckBox1->setText(text("checkbox1", suiCheckBox1->text()));
  suiGroupBox1->setTitle(text("groupbox1", suiGroupBox1->title()));
  suiButton1->setText(text("button1", suiButton1->text()));
  suiButton2->setText(text("button2", suiButton2->text()));
  Msg1 = text("Msg1", Msg1);
  WebUpdateUrl = text("WebUpdateUrl", WebUpdateUrl);
  Label4->setText(text("label4", Label4->text()));
}

void TFrmUpdate::suiCheckBox1Click() {
  const bool on = suiCheckBox1->isChecked();
  suiEdit1->setEnabled(on);
  suiEdit2->setEnabled(on);
  suiEdit3->setEnabled(on);
}

void TFrmUpdate::suiButton1Click() {
  // A program installed by the package manager is updated by it; nothing is changed here.
  const QString folder = ProgramFolder();
  if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
    ShowErrorBox(texts_(kCannotUpdateItself).arg(folder));
    return;
  }
  suiButton1->setEnabled(false);
  const bool proxy = suiCheckBox1->isChecked();
  // A refused write ends the command like every settings write, and Update can be pressed
  // again.
  auto write = [this](const char* key, const QString& value) {
    if (!IniProfile::WriteString(configFile_, kProxySection, QString::fromLatin1(key), value)) {
      suiButton1->setEnabled(true);
      throw Exception(texts_(kUnableToWrite).arg(configFile_));
    }
  };
  write("isProxy", proxy ? QStringLiteral("1") : QStringLiteral("0"));
  write("proxy", suiEdit1->text());
  write("proxyUserID", suiEdit2->text());
  write("proxyPassword", suiEdit3->text());
  if (proxy) {
    WebUpdate1->Proxy = suiEdit1->text();
    WebUpdate1->ProxyUserID = suiEdit2->text();
    WebUpdate1->ProxyPassword = suiEdit3->text();
  }
  WebUpdate1->URL = WebUpdateUrl;
  WebUpdate1->DoUpdate();
}

void TFrmUpdate::WebUpdate1FileProgress(qint64 received, qint64 total) {
  // The bar counts in kilobytes past 2 GB, where its int range ends.
  const int scale = total > 0x7fffffff ? 1024 : 1;
  suiProgressBar1->setMaximum(int(total / scale));
  suiProgressBar1->setValue(int(std::min(received, total) / scale));
}

}  // namespace sonarelle
