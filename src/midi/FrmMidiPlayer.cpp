#include "midi/FrmMidiPlayer.h"

#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

#include "midi/MidiOutput.h"
#include "platform/LanguageSection.h"
#include "platform/MessageBoxes.h"

namespace sonarelle {

namespace {

constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kAllNotesOff = 123;

}  // namespace

const char* const TFrmMidiPlayer::kWaitingForDevice =
    "The song starts as soon as the synthesizer has loaded its sounds.";

TFrmMidiPlayer::TFrmMidiPlayer(MidiOutDriver& driver)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), driver_(driver) {
  setObjectName(QStringLiteral("FrmMidiPlayer"));
  setWindowTitle(QStringLiteral("lyric"));
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = new QLabel(QStringLiteral("choose a device"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(128, 36, 97, 17);
  suiComboBox1 = new QComboBox(this);
  suiComboBox1->setObjectName(QStringLiteral("suiComboBox1"));
  suiComboBox1->setGeometry(232, 32, 169, suiComboBox1->sizeHint().height());
  Label2 = new QLabel(QString::fromUtf8(kWaitingForDevice), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(6, 8, 569, 20);
  Label2->setAlignment(Qt::AlignCenter);
  Label2->hide();
  RichEdit1 = new QTextEdit(this);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setGeometry(6, 64, 569, 489);
  RichEdit1->setReadOnly(true);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  RichEdit1->setFont(font);

  // Scrolled by the user, not by the colouring: the paragraph being sung is left alone.
  connect(RichEdit1->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (!ownScroll_) handScrolled_ = paragraph_;
  });

  connect(suiComboBox1, &QComboBox::activated, this,
          [this] { RunGuarded([this] { suiComboBox1Change(); }); });
}

TFrmMidiPlayer::~TFrmMidiPlayer() = default;

void TFrmMidiPlayer::OpenDevices() {
  if (MidiOutput1 != nullptr) return;
  MidiOutput1 = std::make_unique<TMidiOutput>(driver_);
  MidiOutput1->OnReady = [this](TMidiOutput*) {
    if (OnDeviceReady) OnDeviceReady();
  };
  // A device that fails to answer is reported, and the program goes on all the same.
  RunGuarded([this] {
    for (int id = 0; id < MidiOutput1->NumDevs(); ++id) {
      MidiOutput1->SetDeviceID(id);
      suiComboBox1->addItem(MidiOutput1->ProductName());
    }
    suiComboBox1->setCurrentIndex(suiComboBox1->count() > 0 ? 0 : -1);
    DeviceOpen = false;
    OpenSelectedDevice();
  });
}

bool TFrmMidiPlayer::DeviceLoading() const {
  return DeviceOpen && !MidiOutput1->Ready();
}

void TFrmMidiPlayer::ShowWaiting(bool waiting) {
  Label2->setVisible(waiting);
}

void TFrmMidiPlayer::LoadLanguage(const TIniSnapshot& texts) {
  const TLanguageSection text(texts, QStringLiteral("FrmMidiPlayer"));
  setWindowTitle(text("caption", windowTitle()));
  Label1->setText(text("label1", Label1->text()));
  Label2->setText(text("label2", Label2->text()));
}

void TFrmMidiPlayer::OpenSelectedDevice() {
  const QString name = suiComboBox1->currentText();
  if (suiComboBox1->currentIndex() < 0 || name.isEmpty()) return;
  MidiOutput1->SetProductName(name);
  DeviceOpen = MidiOutput1->OpenDevice();
}

void TFrmMidiPlayer::CloseSelectedDevice() {
  if (!DeviceOpen) return;
  MidiOutput1->CloseDevice();
  DeviceOpen = false;
}

void TFrmMidiPlayer::suiComboBox1Change() {
  CloseSelectedDevice();
  OpenSelectedDevice();
}

// All Notes Off rather than mono mode: it silences the same notes and leaves every channel
// able to play chords in the next song.
void TFrmMidiPlayer::SilenceAll() {
  // Nothing sounds before the device is ready, and sending would wait for it.
  if (!DeviceOpen || DeviceLoading()) return;
  TMyMidiEvent event;
  for (std::uint8_t channel = 0; channel < 16; ++channel) {
    event.StatusByte = kControlChange + channel;
    event.DataByte1 = kAllNotesOff;
    event.DataByte2 = 0;
    MidiOutput1->SendEvent(event);
  }
}

void TFrmMidiPlayer::ResetDevice() {
  if (!DeviceOpen) return;
  // A system reset for the synthesizer and the sequencer's ports, "GM System On" for a
  // device that ignores it; then what a reset leaves alone on some devices, channel by
  // channel.
  constexpr std::uint8_t kSystemReset = 0xFF;
  constexpr std::uint8_t kGmSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  constexpr std::uint8_t kProgramChange = 0xC0;
  constexpr std::uint8_t kPitchBend = 0xE0;
  // Controller, value: every controller, bank 0, volume and pan, then the bend range (RPN 0,
  // two semitones), fine and coarse tuning (RPN 1 and 2, centred), and no RPN selected.
  constexpr std::uint8_t kControllers[][2] = {
      {121, 0}, {0, 0},  {32, 0}, {7, 100}, {10, 64}, {101, 0}, {100, 0},   {6, 2},    {38, 0},
      {100, 1}, {6, 64}, {38, 0}, {100, 2}, {6, 64},  {38, 0},  {101, 127}, {100, 127}};
  MidiOutput1->SendShort(kSystemReset, 0, 0);
  MidiOutput1->SendLong(kGmSystemOn, int(sizeof kGmSystemOn));
  for (std::uint8_t channel = 0; channel < 16; ++channel) {
    for (const auto& controller : kControllers) {
      MidiOutput1->SendShort(kControlChange + channel, controller[0], controller[1]);
    }
    MidiOutput1->SendShort(kProgramChange + channel, 0, 0);
    MidiOutput1->SendShort(kPitchBend + channel, 0x00, 0x40);
  }
}

void TFrmMidiPlayer::LoadLyrics(const QStringList& lines) {
  ownScroll_ = true;
  RichEdit1->setPlainText(lines.join(QLatin1Char('\n')));
  ownScroll_ = false;
  coloured_ = 0;
  paragraph_ = 0;
  handScrolled_ = -1;
}

void TFrmMidiPlayer::ColourLyrics(int chars) {
  // The count treats a line break as two characters; the document holds one between
  // paragraphs.
  QTextDocument* document = RichEdit1->document();
  int position = 0;
  int left = chars;
  for (QTextBlock block = document->begin(); block.isValid() && left > 0; block = block.next()) {
    const int length = block.length() - 1;
    if (left <= length) {
      position = block.position() + left;
      break;
    }
    left -= length + 2;
    position = block.position() + block.length();
  }
  position = std::min(position, document->characterCount() - 1);
  // The text before coloured_ is blue and bold already: only what the song reached since is
  // restyled, so a long song does not restyle its whole text at every syllable.
  if (position <= coloured_) return;
  QTextCursor cursor(document);
  cursor.setPosition(coloured_);
  cursor.setPosition(position, QTextCursor::KeepAnchor);
  coloured_ = position;
  QTextCharFormat format;
  format.setForeground(QColor(0, 0, 255));
  format.setFontWeight(QFont::Bold);
  ownScroll_ = true;
  cursor.mergeCharFormat(format);
  FollowSong(cursor);
  ownScroll_ = false;
}

void TFrmMidiPlayer::FollowSong(const QTextCursor& sung) {
  QTextBlock first = sung.block();
  while (first.previous().isValid() && first.previous().length() > 1) first = first.previous();
  paragraph_ = first.blockNumber();
  if (handScrolled_ == paragraph_) return;
  handScrolled_ = -1;
  // A line of context above the sung one; at the top of the lyrics there is none.
  const QRect at = RichEdit1->cursorRect(sung);
  if (at.top() >= at.height() && at.bottom() <= RichEdit1->viewport()->height()) return;
  QScrollBar* bar = RichEdit1->verticalScrollBar();
  bar->setValue(bar->value() + at.top() - at.height());
}

}  // namespace sonarelle
