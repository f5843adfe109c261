#include "app/FrmConfig.h"

#include <cstdint>

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include "platform/Exception.h"
#include "platform/LanguageSection.h"
#include "platform/MessageBoxes.h"
#include "platform/NamedControl.h"
#include "platform/TakeMixChoice.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

namespace Keys = ConfigKeys;

namespace {

// The bars count in steps: 40 steps of 256 bytes, 40 steps of 2 buffers.
constexpr int kSteps = 40;
constexpr int kMaxBufferSize = 10240;
constexpr int kMaxNumBuffers = 80;

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& place) {
  return AddNamed<QLabel>(parent, name, place, text);
}

QSlider* AddBar(QWidget* parent, const char* name, const QRect& place) {
  auto* bar = AddNamed<QSlider>(parent, name, place, Qt::Horizontal);
  bar->setRange(0, kSteps);
  bar->setSingleStep(1);
  bar->setPageStep(1);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(1);
  return bar;
}

QRadioButton* AddRadio(QWidget* parent, const char* name, const char* text, const QRect& place) {
  return AddNamed<QRadioButton>(parent, name, place, QString::fromLatin1(text));
}

QSpinBox* AddSpin(QWidget* parent, const char* name, int low, int high, const char* suffix,
                  const QRect& place) {
  auto* spin = AddNamed<QSpinBox>(parent, name, place);
  spin->setRange(low, high);
  spin->setSuffix(QString::fromLatin1(suffix));
  return spin;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* text, int x) {
  return AddNamed<QPushButton>(parent, name, {x, 338, 75, 25}, QString::fromLatin1(text));
}

// The sample-rate box's text as a decimal integer; raises the text's error otherwise.
int SampleRateOf(const QString& text) {
  bool ok = false;
  const int rate = text.toInt(&ok, 10);
  if (!ok) throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return rate;
}

constexpr TText kProductName{"label3", "Product Name   "};
constexpr TText kLatencies{"LatencyLabel", "Server: microphone %1 ms, speakers %2 ms"};
constexpr TText kNoLatencies{"LatencyUnknown", "Server: latencies unknown (no sound server)"};
constexpr TText kBadSampleRate{"MsgBadSampleRate",
                               "The sample rate must be from %1 to %2 Hz. Nothing was stored."};
constexpr TText kNoBuffers{"MsgNoBuffers",
                           "A take needs buffers: the buffer size and the number of buffers "
                           "must be above 0. Nothing was stored."};

}  // namespace

QString ByteRateText(int sampleRate, int channels, int bits) {
  // 64 bits: a typed rate in the billions must not wrap round to a small figure.
  const std::int64_t perMinute = std::int64_t{sampleRate} * channels * (bits == 8 ? 1 : 2) * 60;
  const double megabytes = static_cast<double>(perMinute) / 1048576.0;
  QString text = QString::number(megabytes, 'g', 15);
  text.replace(QLatin1Char('.'), QLocale().decimalPoint());
  return text.left(4) + QStringLiteral("M/min");
}

TFrmConfig::TFrmConfig(QString configFile, std::function<QString()> productName)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      configFile_(std::move(configFile)),
      productName_(std::move(productName)) {
  setObjectName(QStringLiteral("FrmConfig"));
  setWindowTitle(QStringLiteral("setup"));
  setFixedSize(kClientWidth, kClientHeight);

  Label3 = AddLabel(this, "Label3", QStringLiteral("Product Name   "), {8, 8, 304, 17});
  Label4 = AddLabel(this, "Label4", QStringLiteral("Buffer Size"), {8, 32, 150, 17});
  TrackBar1 = AddBar(this, "TrackBar1", {8, 50, 250, 24});
  Label6 = AddLabel(this, "Label6", QStringLiteral("10240"), {264, 52, 48, 17});
  Label5 = AddLabel(this, "Label5", QStringLiteral("Number of Buffer"), {8, 80, 150, 17});
  TrackBar2 = AddBar(this, "TrackBar2", {8, 98, 250, 24});
  Label7 = AddLabel(this, "Label7", QStringLiteral("80"), {264, 100, 48, 17});

  suiRadioGroup1 =
      AddNamed<QGroupBox>(this, "suiRadioGroup1", {8, 130, 148, 48}, QStringLiteral("Channels"));
  suiRadioButton1 = AddRadio(suiRadioGroup1, "suiRadioButton1", "Mono", {10, 20, 60, 20});
  suiRadioButton2 = AddRadio(suiRadioGroup1, "suiRadioButton2", "Stereo", {74, 20, 68, 20});
  suiRadioGroup2 =
      AddNamed<QGroupBox>(this, "suiRadioGroup2", {164, 130, 148, 48}, QStringLiteral("SampleBit"));
  suiRadioButton3 = AddRadio(suiRadioGroup2, "suiRadioButton3", "8   Bit", {10, 20, 60, 20});
  suiRadioButton4 = AddRadio(suiRadioGroup2, "suiRadioButton4", "16 Bit", {74, 20, 68, 20});

  Label1 = AddLabel(this, "Label1", QStringLiteral("Sample Rate"), {8, 190, 84, 17});
  suiComboBox1 = AddNamed<QComboBox>(this, "suiComboBox1", {96, 188, 120, 22});
  suiComboBox1->setEditable(true);
  suiComboBox1->setInsertPolicy(QComboBox::NoInsert);
  suiComboBox1->addItems({QStringLiteral("8000"), QStringLiteral("11025"), QStringLiteral("22025"),
                          QStringLiteral("44100")});
  Label8 = AddLabel(this, "Label8", QStringLiteral("HZ"), {222, 190, 40, 17});
  Label2 = AddLabel(this, "Label2", QStringLiteral("Byte Rate"), {8, 220, 84, 17});
  suiEdit1 = AddNamed<QLineEdit>(this, "suiEdit1", {96, 218, 120, 22});
  suiEdit1->setReadOnly(true);

  MixGroup = AddNamed<QGroupBox>(this, "MixGroup", {8, 246, 304, 84}, take_mix::kSourceName);
  Label9 = AddLabel(MixGroup, "Label9", QStringLiteral("Accompaniment level"), {10, 20, 150, 17});
  MixLevelEdit = AddSpin(MixGroup, "MixLevelEdit", 0, 100, " %", {200, 18, 94, 22});
  Label10 = AddLabel(MixGroup, "Label10", QStringLiteral("Offset"), {10, 42, 150, 17});
  MixOffsetEdit = AddSpin(MixGroup, "MixOffsetEdit", -take_mix::kOffsetLimitMs,
                          take_mix::kOffsetLimitMs, " ms", {200, 40, 94, 22});
  MixOffsetEdit->setToolTip(
      QStringLiteral("Added to the delay the sound server reports: more when the voice sits "
                     "late on the beat in a take, less when it sits early."));
  LatencyLabel = AddLabel(MixGroup, "LatencyLabel", QString(), {10, 64, 288, 17});

  suiButton1 = AddButton(this, "suiButton1", "&OK", 24);
  suiButton2 = AddButton(this, "suiButton2", "&Cancel", 122);
  suiButton3 = AddButton(this, "suiButton3", "&Default", 220);

  const auto recompute = [this] { RunGuarded([this] { RecomputeByteRate(); }); };
  connect(suiComboBox1, &QComboBox::editTextChanged, this, recompute);
  for (QRadioButton* radio : {suiRadioButton1, suiRadioButton2, suiRadioButton3, suiRadioButton4}) {
    connect(radio, &QRadioButton::released, this, recompute);
  }
  for (QRadioButton* radio : {suiRadioButton3, suiRadioButton4}) {
    connect(radio, &QRadioButton::clicked, this, recompute);
  }
  connect(suiButton1, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { suiButton1Click(); }); });
  // Cancel writes nothing: the next activation shows the stored values again.
  connect(suiButton2, &QPushButton::clicked, this, &QWidget::hide);
  connect(suiButton3, &QPushButton::clicked, this, [this] { suiButton3Click(); });
}

bool TFrmConfig::event(QEvent* event) {
  // Shown, it becomes the active window, though a window manager may keep the focus away.
  if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate) {
    RunGuarded([this] { FormActivate(); });
  }
  return QWidget::event(event);
}

void TFrmConfig::LoadLanguage(const TIniSnapshot& texts) {
  texts_.Load(texts);
  const TLanguageSection text(texts, QStringLiteral("FrmConfig"));
  setWindowTitle(text("caption", windowTitle()));
  Label3->setText(texts_(kProductName) + (productName_ ? productName_() : QString()));
  Label8->setText(text("label8", Label8->text()));
  suiRadioGroup1->setTitle(text("suiRadioGroup1", suiRadioGroup1->title()));
  suiRadioButton1->setText(text("suiRadioButton1", suiRadioButton1->text()));
  suiRadioButton2->setText(text("suiRadioButton2", suiRadioButton2->text()));
  suiRadioGroup2->setTitle(text("suiRadioGroup2", suiRadioGroup2->title()));
  suiRadioButton3->setText(text("suiRadioButton3", suiRadioButton3->text()));
  suiRadioButton4->setText(text("suiRadioButton4", suiRadioButton4->text()));
  MixGroup->setTitle(text("MixGroup", MixGroup->title()));
  MixOffsetEdit->setToolTip(text("HintOffset", MixOffsetEdit->toolTip()));
  Label1->setText(text("label1", Label1->text()));
  Label2->setText(text("label2", Label2->text()));
  Label4->setText(text("label4", Label4->text()));
  Label5->setText(text("label5", Label5->text()));
  Label9->setText(text("label9", Label9->text()));
  Label10->setText(text("label10", Label10->text()));
  suiButton1->setText(text("suiButton1", suiButton1->text()));
  suiButton2->setText(text("suiButton2", suiButton2->text()));
  suiButton3->setText(text("suiButton3", suiButton3->text()));
}

void TFrmConfig::FormActivate() {
  Label3->setText(texts_(kProductName) + (productName_ ? productName_() : QString()));
  const auto read = [this](const char* key, int fallback) {
    return SettingsStore::ReadInteger(configFile_, QString::fromLatin1(Keys::kRecorderSection),
                                      QString::fromLatin1(key), fallback);
  };
  const int bufferSize = read(Keys::kBufferSize, Keys::kBufferSizeDefault);
  const int numBuffers = read(Keys::kNumBuffers, Keys::kNumBuffersDefault);
  const int sampleBit = read(Keys::kSampleBit, Keys::kSampleBitDefault);
  const int channels = read(Keys::kChannels, Keys::kChannelsDefault);
  const int sampleRate = read(Keys::kSampleRate, Keys::kSampleRateDefault);
  TrackBar1->setValue(static_cast<int>(std::int64_t{bufferSize} * kSteps / kMaxBufferSize));
  TrackBar2->setValue(static_cast<int>(std::int64_t{numBuffers} * kSteps / kMaxNumBuffers));
  suiComboBox1->setEditText(QString::number(sampleRate));
  (channels == 1 ? suiRadioButton1 : suiRadioButton2)->setChecked(true);
  (sampleBit == 8 ? suiRadioButton3 : suiRadioButton4)->setChecked(true);
  MixLevelEdit->setValue(read(Keys::kMixLevel, Keys::kMixLevelDefault));
  MixOffsetEdit->setValue(read(Keys::kMixOffset, Keys::kMixOffsetDefault));
  RecomputeByteRate();
  ShowLatencies();
}

void TFrmConfig::ShowLatencies() {
  const take_mix::Latencies measured = take_mix::MeasureLatencies();
  LatencyLabel->setText(
      measured.known
          ? texts_(kLatencies).arg(measured.inputMs, 0, 'f', 1).arg(measured.outputMs, 0, 'f', 1)
          : texts_(kNoLatencies));
}

void TFrmConfig::RecomputeByteRate() {
  const int rate = SampleRateOf(suiComboBox1->currentText());
  suiEdit1->setText(ByteRateText(rate, suiRadioButton1->isChecked() ? 1 : 2,
                                 suiRadioButton3->isChecked() ? 8 : 16));
}

void TFrmConfig::suiButton1Click() {
  const int bufferSize = TrackBar1->value() * kMaxBufferSize / kSteps;
  const int numBuffers = TrackBar2->value() * kMaxNumBuffers / kSteps;
  const int channels = suiRadioButton1->isChecked() ? 1 : 2;
  const int sampleBit = suiRadioButton3->isChecked() ? 8 : 16;
  // Everything is checked before anything is written: a refused value leaves the stored
  // settings whole, never half old and half new.
  const int sampleRate = SampleRateOf(suiComboBox1->currentText());
  if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate) {
    ShowMessage(texts_(kBadSampleRate).arg(kMinSampleRate).arg(kMaxSampleRate));
    return;
  }
  if (bufferSize == 0 || numBuffers == 0) {
    ShowMessage(texts_(kNoBuffers));
    return;
  }
  const auto write = [this](const char* key, int value) {
    SettingsStore::WriteInteger(configFile_, QString::fromLatin1(Keys::kRecorderSection),
                                QString::fromLatin1(key), value);
  };
  write(Keys::kBufferSize, bufferSize);
  write(Keys::kNumBuffers, numBuffers);
  write(Keys::kChannels, channels);
  write(Keys::kSampleBit, sampleBit);
  write(Keys::kSampleRate, sampleRate);
  write(Keys::kMixLevel, MixLevelEdit->value());
  write(Keys::kMixOffset, MixOffsetEdit->value());
  hide();
}

void TFrmConfig::suiButton3Click() {
  TrackBar1->setValue(16);
  TrackBar2->setValue(10);
  suiRadioButton2->setChecked(true);
  suiRadioButton4->setChecked(true);
  suiComboBox1->setEditText(QStringLiteral("44100"));
  MixLevelEdit->setValue(Keys::kMixLevelDefault);
  MixOffsetEdit->setValue(Keys::kMixOffsetDefault);
  // The field shows the defaults' rate at once, not only after the next change.
  RunGuarded([this] { RecomputeByteRate(); });
}

}  // namespace sonarelle
