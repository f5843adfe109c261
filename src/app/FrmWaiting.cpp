#include "app/FrmWaiting.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/LanguageSection.h"

namespace sonarelle {

namespace {

const char* const kClosingText =
    "Sonarelle closes once the take is saved as MP3. Stop the conversion to close now: the "
    "take is kept and offered again at the next start.";
const char* const kStopCaption = "&Stop and keep the take";

}  // namespace

TFrmWaiting::TFrmWaiting() : QWidget(nullptr, Qt::Window) {
  setObjectName(QStringLiteral("FrmWaiting"));
  setWindowTitle(QStringLiteral("Please waiting"));
  setFixedSize(360, 139);
  Label1 = new QLabel(QStringLiteral("Please waiting"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignCenter);
  suiProgressBar1 = new QProgressBar(this);
  suiProgressBar1->setObjectName(QStringLiteral("suiProgressBar1"));
  suiProgressBar1->setRange(0, 100);
  suiProgressBar1->setTextVisible(true);
  BtnStop = new QPushButton(QString::fromUtf8(kStopCaption), this);
  BtnStop->setObjectName(QStringLiteral("BtnStop"));
  BtnStop->hide();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(suiProgressBar1);
  layout->addWidget(BtnStop, 0, Qt::AlignRight);
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  closingText_ = QString::fromUtf8(kClosingText);
}

void TFrmWaiting::LoadLanguage(const TIniSnapshot& texts) {
  const TLanguageSection text(texts, QStringLiteral("FrmWaiting"));
  setWindowTitle(text("caption", windowTitle()));
  Label1->setText(text("label1", Label1->text()));
  closingText_ = text("closing", closingText_);
  BtnStop->setText(text("btnstop", BtnStop->text()));
}

void TFrmWaiting::ShowClosing() {
  Label1->setText(closingText_);
  Label1->setWordWrap(true);
  BtnStop->show();
  // Modality only changes while the window is hidden.
  hide();
  setWindowModality(Qt::ApplicationModal);
  show();
  raise();
  activateWindow();
}

int ProgressPercent(std::int64_t done, std::int64_t total) {
  if (total <= 0) total = 1;
  if (done < 0) done = 0;
  // 128-bit products: done x 100 cannot overflow whatever the file size.
  const __int128 scaled = static_cast<__int128>(done) * 100;
  __int128 quotient = scaled / total;
  const __int128 twiceRemainder = (scaled % total) * 2;
  if (twiceRemainder > total || (twiceRemainder == total && quotient % 2 != 0)) ++quotient;
  return static_cast<int>(quotient > 100 ? 100 : quotient);
}

}  // namespace sonarelle
