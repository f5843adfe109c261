#include "midi/MidiFile.h"

#include <chrono>
#include <cmath>

#include <QFile>
#include <QStringDecoder>

#include "platform/MessageWindow.h"

namespace sonarelle {

namespace {

constexpr unsigned kClockTimer = 1;
constexpr int kClockIntervalMs = 10;
constexpr std::uint8_t kMetaTempo = 0x51;

const char* const kIllegalStatus =
    "The file \"%1\" is damaged: it holds a byte (%2) that no MIDI file may hold.";

// System messages other than SysEx (F0, F7 escapes) and meta events (FF) belong on a cable,
// never in a file; the media service's parser loops for ever on one.
bool IllegalInFile(std::uint8_t status) {
  return status > 0xF0 && status < 0xFF && status != 0xF7;
}

std::int64_t SystemMilliSeconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Reads within one chunk's body; a read that would run past its end fails.
class ChunkReader {
 public:
  explicit ChunkReader(const QByteArray& body) : body_(body) {}

  std::size_t Left() const { return std::size_t(body_.size()) - pos_; }

  bool Byte(std::uint8_t& value) {
    if (Left() < 1) return false;
    value = std::uint8_t(body_[qsizetype(pos_++)]);
    return true;
  }

  std::uint8_t Peek() const { return std::uint8_t(body_[qsizetype(pos_)]); }

  // A variable-length quantity: seven bits a byte, most significant first, while the top
  // bit is set. Kept to 32 bits, like every tick count.
  bool Quantity(std::uint32_t& value) {
    value = 0;
    std::uint8_t byte = 0;
    do {
      if (!Byte(byte)) return false;
      value = (value << 7) | (byte & 0x7F);
    } while (byte & 0x80);
    return true;
  }

  bool Bytes(std::uint32_t count, QByteArray& data) {
    if (Left() < count) return false;
    data = body_.mid(qsizetype(pos_), qsizetype(count));
    pos_ += count;
    return true;
  }

  bool Skip(std::uint32_t count) {
    if (Left() < count) return false;
    pos_ += count;
    return true;
  }

 private:
  const QByteArray& body_;
  std::size_t pos_ = 0;
};

std::uint32_t BigEndian(const QByteArray& bytes, qsizetype at, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | std::uint8_t(bytes[at + i]);
  return value;
}

}  // namespace

void TMidiTrack::Add(TMidiEvent event) {
  if (event.status == 0xFF && event.data1 == 3) TrackName = event.text;
  if (event.status == 0xFF && event.data1 == 4) InstrumentName = event.text;
  EndTick += event.deltaTicks;
  event.tick = EndTick;
  event.noteLength = 0;
  const auto index = std::int32_t(Events.size());
  const bool noteOn = (event.status & 0xF0) == 0x90;
  const bool noteOff = (event.status & 0xF0) == 0x80 || (noteOn && event.data2 == 0);
  const std::size_t key = std::size_t(event.status & 0x0F) * 128 + (event.data1 & 0x7F);
  if (noteOff) {
    // The nearest earlier 0x9n event of the key, matched or not.
    const std::int32_t on = lastNoteOn_[key];
    if (on >= 0) {
      Events[std::size_t(on)].noteLength = EndTick - Events[std::size_t(on)].tick;
      event.noteLength = -1;
    }
  }
  Events.push_back(std::move(event));
  if (noteOn) lastNoteOn_[key] = index;
}

TMidiFile::TMidiFile() : MilliSeconds(SystemMilliSeconds) {
  clock_ = std::make_unique<MessageWindow>([this](unsigned msg, std::uintptr_t, std::intptr_t) {
    if (msg == MessageWindow::kTimerMessage) ClockTick();
  });
}

TMidiFile::~TMidiFile() = default;

void TMidiFile::SetBpm(int bpm) {
  if (bpm == bpm_ || bpm == 0 || ticksPerQuarter_ <= 0) return;
  const int tempo = 60000000 / bpm;
  if (tempo <= 0) return;
  bpm_ = 60000000 / tempo;
  usPerTick_ = double(tempo) / ticksPerQuarter_;
  tempoMap_ = TTempoMap({{0, std::uint32_t(tempo)}}, ticksPerQuarter_);
}

void TMidiFile::SetOnMidiEvent(TOnMidiEvent callback) {
  onMidiEvent_ = std::move(callback);
  for (auto& track : tracks_) track->OnMidiEvent = onMidiEvent_;
}

void TMidiFile::LoadFile() {
  tracks_.clear();
  QFile file(filename_);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EInOutError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(filename_, file.errorString()));
  }
  const auto truncated = [this] {
    return EInOutError(QStringLiteral("Read beyond end of file \"%1\"").arg(filename_));
  };

  std::vector<TTempoChange> tempos;
  while (!file.atEnd()) {
    const QByteArray header = file.read(8);
    if (header.size() < 8) throw truncated();
    const QByteArray type = header.left(4);
    const std::uint32_t length = BigEndian(header, 4, 4);
    // A length past the end of the file is a damaged file, not a reason to allocate it.
    if (length > std::uint64_t(file.size() - file.pos())) throw truncated();
    const QByteArray body = file.read(qsizetype(length));
    if (std::uint32_t(body.size()) < length) throw truncated();

    if (type == "MThd") {
      if (body.size() >= 2) {
        const std::uint8_t format = std::uint8_t(body[1]);
        if (format <= 2) fileFormat_ = TFileFormat(format);
      }
      if (body.size() >= 6) {
        const int division = int(BigEndian(body, 4, 2));
        // No tick length comes from these: frames of SMPTE time, or no division at all.
        if (division == 0 || (division & 0x8000) != 0) {
          throw EInOutError(QStringLiteral("\"%1\" is not supported: its time division is %2")
                                .arg(filename_, division == 0 ? QStringLiteral("0")
                                                              : QStringLiteral("in SMPTE frames")));
        }
        ticksPerQuarter_ = division;
      }
    } else if (type == "MTrk") {
      auto track = std::make_unique<TMidiTrack>();
      track->OnMidiEvent = onMidiEvent_;
      tracks_.push_back(std::move(track));
      ReadTrack(body, *tracks_.back(), tempos);
    }
  }
  file.close();
  if (ticksPerQuarter_ <= 0) {
    throw EInOutError(QStringLiteral("\"%1\" is not a MIDI file: it has no header").arg(filename_));
  }
  // The header's count is only a claim; the chunks found decide.
  numberOfTracks_ = int(tracks_.size());

  DecodeTexts();
  lyric_.clear();
  for (const auto& track : tracks_) {
    for (const TMidiEvent& event : track->Events) {
      if (event.status == 0xFF && event.data1 == 1) lyric_ += event.text;
    }
  }

  std::uint32_t last = 0;
  for (const TTempoChange& change : tempos) {
    if (change.usPerQuarter != 0) last = change.usPerQuarter;
  }
  if (last == 0) last = TTempoMap::kDefaultUsPerQuarter;
  bpm_ = int(60000000 / last);
  usPerTick_ = ticksPerQuarter_ > 0 ? double(last) / ticksPerQuarter_ : 0;
  tempoMap_ = TTempoMap(std::move(tempos), ticksPerQuarter_);
}

void TMidiFile::ReadTrack(const QByteArray& body, TMidiTrack& track,
                          std::vector<TTempoChange>& tempos) const {
  ChunkReader in(body);
  std::uint8_t status = 0;
  while (in.Left() >= 2) {
    TMidiEvent event;
    std::uint32_t delta = 0;
    if (!in.Quantity(delta)) return;
    if (in.Left() == 0) return;
    if (in.Peek() >= 0x80) in.Byte(status);
    if (IllegalInFile(status)) {
      throw EInOutError(QString::fromLatin1(kIllegalStatus)
                            .arg(filename_, QString::number(status, 16).toUpper()));
    }
    event.status = status;
    event.deltaTicks = std::int32_t(delta);

    if (status == 0xFF) {
      std::uint32_t length = 0;
      QByteArray data;
      if (!in.Byte(event.data1) || !in.Quantity(length) || !in.Bytes(length, data)) return;
      const qsizetype zero = data.indexOf('\0');
      // Kept byte for byte until the whole file shows which encoding its texts use.
      event.text = QString::fromLatin1(zero < 0 ? data : data.left(zero));
      if (event.data1 == kMetaTempo && data.size() >= 3) {
        tempos.push_back({std::int64_t(track.EndTick) + delta, BigEndian(data, 0, 3)});
      }
    } else if (status == 0xF0 || status == 0xF7) {
      std::uint32_t length = 0;
      if (!in.Quantity(length) || !in.Skip(length)) return;
    } else if ((status >= 0x80 && status <= 0xBF) || (status >= 0xE0 && status <= 0xEF)) {
      if (!in.Byte(event.data1) || !in.Byte(event.data2)) return;
    } else if (status >= 0xC0 && status <= 0xDF) {
      if (!in.Byte(event.data1)) return;
    }
    track.Add(std::move(event));
  }
}

// Karaoke texts are bytes: UTF-8 when every text of the file is valid UTF-8, otherwise the
// legacy encoding these files were written in.
void TMidiFile::DecodeTexts() {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  for (const auto& track : tracks_) {
    for (const TMidiEvent& event : track->Events) {
      if (event.status != 0xFF || event.text.isEmpty()) continue;
      const QString decoded = utf8.decode(event.text.toLatin1());
      if (utf8.hasError()) break;
    }
    if (utf8.hasError()) break;
  }
  QStringDecoder legacy(TextEncoding.constData());
  if (!utf8.hasError()) {
    legacy = QStringDecoder(QStringDecoder::Utf8);
  } else if (!legacy.isValid()) {
    legacy = QStringDecoder("Windows-1252");
  }
  for (const auto& track : tracks_) {
    for (TMidiEvent& event : track->Events) {
      if (event.status == 0xFF && !event.text.isEmpty()) {
        event.text = legacy.decode(event.text.toLatin1());
      }
    }
    track->TrackName = legacy.decode(track->TrackName.toLatin1());
    track->InstrumentName = legacy.decode(track->InstrumentName.toLatin1());
  }
}

void TMidiFile::StartPlayback() {
  for (auto& track : tracks_) track->NextIndex = 0;
  elapsedMs_ = 0;
  tickPosition_ = 0;
  startCount_ = MilliSeconds();
  playing_ = true;
  clock_->SetTimer(kClockTimer, kClockIntervalMs);
}

void TMidiFile::StopPlayback() {
  playing_ = false;
  clock_->KillTimer(kClockTimer);
}

void TMidiFile::ResumePlayback() {
  startCount_ = MilliSeconds() - elapsedMs_;
  playing_ = true;
  clock_->SetTimer(kClockTimer, kClockIntervalMs);
}

void TMidiFile::ClockTick() {
  // An error box opened by a handler runs the message loop; its ticks must not re-enter.
  if (!playing_ || inTick_) return;
  inTick_ = true;
  try {
    AdvanceTo(MilliSeconds() - startCount_);
  } catch (...) {
    inTick_ = false;
    throw;
  }
  inTick_ = false;
  if (OnUpdateEvent) OnUpdateEvent(this);
}

void TMidiFile::AdvanceTo(std::int64_t t) {
  tickPosition_ = tempoMap_.TicksAt(double(t));
  const double k = std::nearbyint(tickPosition_);
  elapsedMs_ = t;
  for (auto& track : tracks_) {
    if (!track->OnMidiEvent) continue;
    while (playing_ && track->NextIndex < track->Events.size() &&
           track->Events[track->NextIndex].tick < k) {
      // Counted as handed out first: an event whose handler raised is not sent again.
      TMidiEvent& event = track->Events[track->NextIndex++];
      track->OnMidiEvent(&event);
    }
  }
}

int TMidiFile::LengthMs() const {
  double ms = 0;
  for (std::size_t i = 0; i < tracks_.size(); ++i) {
    const double trackMs = tempoMap_.MsAt(tracks_[i]->EndTick);
    switch (fileFormat_) {
      case TFileFormat::single:
        if (i == 0) ms = trackMs;
        break;
      case TFileFormat::multi_synch:
        ms = std::max(ms, trackMs);
        break;
      case TFileFormat::multi_asynch:
        ms += trackMs;
        break;
    }
  }
  return int(std::nearbyint(ms));
}

}  // namespace sonarelle
