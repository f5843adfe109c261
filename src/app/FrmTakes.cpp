#include "app/FrmTakes.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/MessageBoxes.h"
#include "platform/Shell.h"

namespace sonarelle {

namespace {

constexpr TText kUnableToDelete{"MsgUnableToDelete", "Unable to delete %1"};
constexpr TText kUnableToShowFolder{"MsgUnableToShowFolder",
                                    "No file manager could show the folder %1."};
constexpr TText kDamaged{"MsgDamaged", "This take is damaged."};
constexpr TText kShowFolder{"BtnShowFolder", "Show in folder"};

}  // namespace

TFrmTakes::TFrmTakes() : QWidget(nullptr, Qt::Window) {
  setObjectName(QStringLiteral("FrmTakes"));
  setWindowTitle(QStringLiteral("Takes not saved"));
  resize(480, 240);
  Label1 = new QLabel(
      QStringLiteral("These takes were recorded but not saved. Save them, discard them, or "
                     "keep them for later."),
      this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setWordWrap(true);
  ListTakes = new QListWidget(this);
  ListTakes->setObjectName(QStringLiteral("ListTakes"));
  BtnSave = new QPushButton(QStringLiteral("Save as\u2026"), this);
  BtnSave->setObjectName(QStringLiteral("BtnSave"));
  BtnDiscard = new QPushButton(QStringLiteral("Discard"), this);
  BtnDiscard->setObjectName(QStringLiteral("BtnDiscard"));
  BtnShowFolder = new QPushButton(QString::fromUtf8(kShowFolder.english), this);
  BtnShowFolder->setObjectName(QStringLiteral("BtnShowFolder"));
  BtnLater = new QPushButton(QStringLiteral("Later"), this);
  BtnLater->setObjectName(QStringLiteral("BtnLater"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnSave);
  buttons->addWidget(BtnDiscard);
  buttons->addWidget(BtnShowFolder);
  buttons->addStretch();
  buttons->addWidget(BtnLater);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(ListTakes);
  layout->addLayout(buttons);
  connect(BtnSave, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnSaveClick(); }); });
  connect(BtnDiscard, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { BtnDiscardClick(); }); });
  connect(BtnShowFolder, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { BtnShowFolderClick(); }); });
  connect(ListTakes, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
  connect(BtnLater, &QPushButton::clicked, this, [this] { BtnLaterClick(); });
}

TFrmTakes::~TFrmTakes() = default;

void TFrmTakes::LoadLanguage(const TIniSnapshot& texts) {
  texts_.Load(texts);
  const TLanguageSection text(texts, QStringLiteral("FrmTakes"));
  setWindowTitle(text("caption", windowTitle()));
  Label1->setText(text("label1", Label1->text()));
  BtnSave->setText(text("BtnSave", BtnSave->text()));
  BtnDiscard->setText(text("BtnDiscard", BtnDiscard->text()));
  BtnShowFolder->setText(texts_(kShowFolder));
  BtnLater->setText(text("BtnLater", BtnLater->text()));
}

QString TakeLengthText(std::int64_t milliseconds) {
  if (milliseconds < 0) return QStringLiteral("?");
  const std::int64_t seconds = milliseconds / 1000;
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void TFrmTakes::Offer(TTakeFiles takes) {
  for (auto& take : takes) takes_.push_back(std::move(take));
  Refresh();
  if (!takes_.empty()) {
    show();
    raise();
  }
}

void TFrmTakes::Refresh() {
  const int row = std::max(0, Selected());
  ListTakes->clear();
  for (const auto& take : takes_) {
    ListTakes->addItem(
        QStringLiteral("%1    %2    %3")
            .arg(QLocale().toString(take->Recorded(), QLocale::ShortFormat),
                 take->Damaged() ? texts_(kDamaged) : TakeLengthText(take->LengthMs()),
                 QDir::toNativeSeparators(take->Path())));
  }
  if (!takes_.empty()) ListTakes->setCurrentRow(std::min<int>(row, int(takes_.size()) - 1));
  UpdateButtons();
}

void TFrmTakes::UpdateButtons() {
  const int row = Selected();
  BtnSave->setEnabled(row >= 0 && !takes_[static_cast<std::size_t>(row)]->Damaged());
  BtnDiscard->setEnabled(row >= 0);
  BtnShowFolder->setEnabled(row >= 0);
}

int TFrmTakes::Selected() const {
  const int row = ListTakes->currentRow();
  return row >= 0 && row < static_cast<int>(takes_.size()) ? row : -1;
}

void TFrmTakes::BtnSaveClick() {
  const int row = Selected();
  if (row < 0 || !OnSave || takes_[static_cast<std::size_t>(row)]->Damaged()) return;
  std::unique_ptr<TTakeFile> take = std::move(takes_[static_cast<std::size_t>(row)]);
  takes_.erase(takes_.begin() + row);
  // While the save dialog shows, the take is out of the list.
  if (std::unique_ptr<TTakeFile> kept = OnSave(std::move(take))) {
    takes_.insert(takes_.begin() + std::min<int>(row, int(takes_.size())), std::move(kept));
  }
  Refresh();
  if (takes_.empty()) hide();
}

void TFrmTakes::BtnDiscardClick() {
  const int row = Selected();
  if (row < 0) return;
  TTakeFile& take = *takes_[static_cast<std::size_t>(row)];
  if (!take.Remove()) {
    ShowMessage(texts_(kUnableToDelete).arg(QDir::toNativeSeparators(take.Path())));
    return;
  }
  takes_.erase(takes_.begin() + row);
  Refresh();
  if (takes_.empty()) hide();
}

void TFrmTakes::BtnShowFolderClick() {
  const int row = Selected();
  if (row < 0) return;
  const QString folder = QFileInfo(takes_[static_cast<std::size_t>(row)]->Path()).absolutePath();
  if (!Shell::Open(folder)) {
    ShowMessage(texts_(kUnableToShowFolder).arg(QDir::toNativeSeparators(folder)));
  }
}

void TFrmTakes::BtnLaterClick() {
  takes_.clear();  // lets go of them; the files stay for the next start
  Refresh();
  hide();
}

void TFrmTakes::closeEvent(QCloseEvent* event) {
  BtnLaterClick();
  event->accept();
}

}  // namespace sonarelle
