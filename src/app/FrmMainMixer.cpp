// The main window's mixer: the master volume slider and the recording-source panel, one
// radio button and one level slider per source of the sound server.
#include <algorithm>

#include <QGroupBox>
#include <QKeyEvent>
#include <QRadioButton>
#include <QSlider>

#include "app/FrmMain.h"
#include "mixer/AudioMixer.h"
#include "platform/MessageBoxes.h"

namespace sonarelle {

namespace {

constexpr int kMasterDestination = 0;
constexpr int kRecordingDestination = 1;
constexpr int kLevelMax = 65535;
// The master's keys: 2 % of the scale for an arrow (or a wheel notch's line), 10 % a page.
constexpr int kMasterLineStep = (kLevelMax * 2 + 50) / 100;
constexpr int kMasterPageStep = (kLevelMax * 10 + 50) / 100;
// The handlers find a source by the last character of a control's name: one digit.
constexpr int kMaxSources = 9;
const char* const kRadioName = "radioboxtemp";
const char* const kBarName = "trackbartemp";
// The panel's two columns, even sources left: where a radio button and its slider start.
constexpr int kRadioLeft[2] = {29, 242};
constexpr int kBarLeft[2] = {105, 313};
constexpr int kBarWidth = 73;
constexpr int kBarHeight = 17;
// Narrowest a slider gets to make room for its column's names.
constexpr int kMinBarWidth = 40;
constexpr int kNameGap = 4;    // between a name and its slider
constexpr int kColumnGap = 6;  // between a left slider and the right column
constexpr int kBoxMargin = 8;  // inside the group box's right edge

int SourceIndex(const QObject* control) {
  return control->objectName().right(1).toInt();
}

// The slider's position runs from the loudest at the top (0) to the quietest: Home and End
// go to the ends the user sees, the quietest and the loudest, not to its minimum and maximum.
class HomeIsQuietest final : public QObject {
 public:
  explicit HomeIsQuietest(QSlider* slider) : QObject(slider), slider_(slider) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != slider_ || event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Home && key != Qt::Key_End) return false;
    slider_->triggerAction(key == Qt::Key_Home ? QAbstractSlider::SliderToMaximum
                                               : QAbstractSlider::SliderToMinimum);
    return true;
  }

 private:
  QSlider* slider_;
};

// The server's short name of source i when no other source has the same, else its long name.
QString SourceCaption(const std::vector<std::unique_ptr<TMixerConnection>>& connections,
                      std::size_t i) {
  const MixerLine& line = connections[i]->line;
  if (line.shortName.isEmpty()) return line.name;
  const auto same = std::count_if(connections.begin(), connections.end(), [&](const auto& c) {
    return c->line.shortName == line.shortName;
  });
  return same == 1 ? line.shortName : line.name;
}

// Gives each column's names the room its longest name needs: its sliders move right, then
// narrow, and a name that still does not fit is cut at its end (the hint keeps it whole).
void FitNames(const QList<QRadioButton*>& radios, const QList<QSlider*>& bars, int boxWidth) {
  for (int column = 0; column < 2; ++column) {
    const int left = kRadioLeft[column];
    const int end = column == 0 ? kRadioLeft[1] - kColumnGap : boxWidth - kBoxMargin;
    int need = 0;
    for (qsizetype i = column; i < radios.size(); i += 2) {
      need = std::max(need, radios[i]->sizeHint().width());
    }
    const int barLeft =
        std::min(std::max(left + need + kNameGap, kBarLeft[column]), end - kMinBarWidth);
    const int barWidth = std::min(kBarWidth, end - barLeft);
    for (qsizetype i = column; i < radios.size(); i += 2) {
      QRadioButton* radio = radios[i];
      bars[i]->setGeometry(barLeft, bars[i]->y(), barWidth, kBarHeight);
      const QString name = radio->text();
      const QFontMetrics metrics(radio->font());
      const int indicator = radio->sizeHint().width() - metrics.horizontalAdvance(name);
      const int room = barLeft - kNameGap - left - indicator;
      // Measured like the room: the eliding's own rounding would cut a name that just fits.
      if (metrics.horizontalAdvance(name) > room) {
        radio->setText(metrics.elidedText(name, Qt::ElideRight, room));
      }
      radio->adjustSize();
    }
  }
}

}  // namespace

void TFrmMain::ReadMasterVolume() {
  suiTrackBar2->setInvertedControls(true);  // Up, Page Up and the wheel up go louder
  suiTrackBar2->setSingleStep(kMasterLineStep);
  suiTrackBar2->setPageStep(kMasterPageStep);
  suiTrackBar2->installEventFilter(new HomeIsQuietest(suiTrackBar2));
  int left = -1, right = -1, mute = -1;
  bool stereo = false, volumeOff = false, muteOff = false, selection = false;
  AudioMixer1->GetLineLevels(kMasterDestination, -1, left, right, mute, stereo, volumeOff, muteOff,
                             selection);
  // Shown only: the start writes nothing, so a boosted or muted output stays as it is. A
  // volume above the scale shows at the top, one that could not be read at the bottom.
  suiTrackBar2->setValue(std::clamp(kLevelMax - left, 0, kLevelMax));
  connect(suiTrackBar2, &QSlider::valueChanged, this,
          [this] { RunGuarded([this] { suiTrackBar2Change(); }); });
}

void TFrmMain::suiTrackBar2Change() {
  const int volume = kLevelMax - suiTrackBar2->value();
  AudioMixer1->SetLineLevels(kMasterDestination, -1, volume, volume, 0);
}

void TFrmMain::BuildSourcePanel() {
  const auto& destinations = AudioMixer1->Destinations();
  if (destinations.size() <= std::size_t(kRecordingDestination)) return;
  const auto& connections = destinations[kRecordingDestination]->connections;
  const int count = std::min<int>(int(connections.size()), kMaxSources);
  int top = 9;
  for (int i = 0; i < count; ++i) {
    int left = -1, right = -1, mute = -1;
    bool stereo = false, volumeOff = false, muteOff = false, selection = false;
    AudioMixer1->GetLineLevels(kRecordingDestination, i, left, right, mute, stereo, volumeOff,
                               muteOff, selection);
    const int column = i % 2;
    if (i > 0) top += column == 1 ? 0 : 20;

    auto* radio = new QRadioButton(SourceCaption(connections, std::size_t(i)), suiGroupBox4);
    radio->setObjectName(QString::fromLatin1(kRadioName) + QString::number(i));
    radio->setToolTip(connections[std::size_t(i)]->line.name);
    radio->move(kRadioLeft[column], top);
    auto* bar = new QSlider(Qt::Horizontal, suiGroupBox4);
    bar->setObjectName(QString::fromLatin1(kBarName) + QString::number(i));
    bar->setRange(0, kLevelMax);
    bar->setSingleStep(6600);
    bar->setGeometry(kBarLeft[column], top, kBarWidth, kBarHeight);

    radio->setChecked(mute != 0 && !volumeOff);
    bar->setEnabled(!volumeOff);
    bar->setValue(left);
    bar->setToolTip(QString::number(left));
    // Only now: setting the start state above sends nothing to the mixer.
    connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
      if (checked) RunGuarded([this, radio] { SourceRadioClick(radio); });
    });
    connect(bar, &QSlider::valueChanged, this,
            [this, bar] { RunGuarded([this, bar] { SourceTrackBarChange(bar); }); });
    FSourceRadios.append(radio);
    FSourceBars.append(bar);
  }
  FitNames(FSourceRadios, FSourceBars, suiGroupBox4->width());
}

void TFrmMain::SourceTrackBarChange(QSlider* bar) {
  const int i = SourceIndex(bar);
  const auto* radio =
      suiGroupBox4->findChild<QRadioButton*>(QString::fromLatin1(kRadioName) + QString::number(i));
  const int mute = radio != nullptr && radio->isChecked() ? 1 : 0;
  AudioMixer1->SetLineLevels(kRecordingDestination, i, bar->value(), bar->value(), mute);
}

void TFrmMain::SourceRadioClick(QRadioButton* radio) {
  const int i = SourceIndex(radio);
  const auto* bar =
      suiGroupBox4->findChild<QSlider*>(QString::fromLatin1(kBarName) + QString::number(i));
  if (bar == nullptr) return;
  AudioMixer1->SetLineLevels(kRecordingDestination, i, bar->value(), bar->value(), 1);
}

}  // namespace sonarelle
