#include "midi/MidiFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include <QFile>
#include <QStringDecoder>

#include "platform/MessageWindow.h"

namespace sonarelle {

namespace {

constexpr unsigned kClockTimer = 1;
constexpr int kClockIntervalMs = 10;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaText = 1;
constexpr std::uint8_t kMetaLyric = 5;
// No legal file holds a length code of more than four bytes (28 bits).
constexpr int kMaxQuantityBytes = 4;
constexpr std::size_t kNoteKeys = std::size_t{16} * 128;
// What a loaded song may take in memory, counted as its records take it: a damaged or
// hostile file must not grow the program without bound (a real song takes well under 1 MB).
constexpr std::size_t kMaxSongBytes = std::size_t{192} << 20;
constexpr std::size_t kTrackCost = sizeof(TMidiTrack) + 32;
// A text is kept, added to the lyric and decoded once more while loading.
constexpr std::size_t kTextCost = 32;
constexpr std::size_t kTextCharCost = 6;
// A tempo change is kept, sorted and made a segment of the tempo map.
constexpr std::size_t kTempoCost = 64;

const char* const kEmptyFileText = "\"%1\" is empty.";
const char* const kNotMidiText = "\"%1\" is not a MIDI file.";
const char* const kTruncatedText = "Read beyond end of file \"%1\"";
const char* const kDamagedText = "\"%1\" is a damaged MIDI file and cannot be played.";
const char* const kNothingToPlayText = "\"%1\" holds no music and no lyrics to play.";
const char* const kTooLargeText = "\"%1\" holds more than the player can load.";

EInOutError FileError(const char* text, const QString& filename) {
  return EInOutError(QString::fromUtf8(text).arg(filename));
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
  // bit is set. A longer code than the format allows fails and marks the chunk damaged.
  bool Quantity(std::uint32_t& value) {
    value = 0;
    std::uint8_t byte = 0;
    for (int n = 0; n < kMaxQuantityBytes; ++n) {
      if (!Byte(byte)) return false;
      value = (value << 7) | (byte & 0x7F);
      if (!(byte & 0x80)) return true;
    }
    damaged_ = true;
    return false;
  }
  bool Damaged() const { return damaged_; }

  std::size_t Position() const { return pos_; }

  bool Skip(std::uint32_t count) {
    if (Left() < count) return false;
    pos_ += count;
    return true;
  }

 private:
  const QByteArray& body_;
  std::size_t pos_ = 0;
  bool damaged_ = false;
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
  EndTick = std::int32_t(std::min<std::int64_t>(std::int64_t(EndTick) + event.deltaTicks,
                                                std::numeric_limits<std::int32_t>::max()));
  event.tick = EndTick;
  event.noteLength = 0;
  const auto index = std::int32_t(Events.size());
  const bool noteOn = (event.status & 0xF0) == 0x90;
  const bool noteOff = (event.status & 0xF0) == 0x80 || (noteOn && event.data2 == 0);
  const std::size_t key = std::size_t(event.status & 0x0F) * 128 + (event.data1 & 0x7F);
  // Made at a track's first note, so no note came before it.
  if ((noteOn || noteOff) && lastNoteOn_.empty()) lastNoteOn_.assign(kNoteKeys, -1);
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

void TMidiTrack::DoneAdding() {
  std::vector<std::int32_t>().swap(lastNoteOn_);
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
  QFile file(filename_);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EInOutError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(filename_, file.errorString()));
  }
  // Told apart before anything of the loaded song is dropped.
  if (file.size() == 0) throw FileError(kEmptyFileText, filename_);
  if (file.peek(4) != "MThd") throw FileError(kNotMidiText, filename_);
  tracks_.clear();
  ticksPerQuarter_ = 0;

  std::vector<TTempoChange> tempos;
  std::size_t budget = kMaxSongBytes;
  std::size_t declared = 0;
  // Asked once: a file of many small chunks would ask the system at every chunk.
  const auto fileSize = std::uint64_t(file.size());
  std::uint64_t pos = 0;
  while (pos < fileSize) {
    // Past the tracks the header declares, files carry all sorts of leftovers: only whole
    // chunks are read there.
    const bool extra = tracks_.size() >= declared;
    const QByteArray header = file.read(8);
    pos += std::uint64_t(header.size());
    if (header.size() < 8) {
      if (extra) break;
      throw FileError(kTruncatedText, filename_);
    }
    const QByteArray type = header.left(4);
    std::uint64_t length = BigEndian(header, 4, 4);
    if (length > fileSize - pos) {
      // A cut-off track still plays up to the cut.
      if (type == "MTrk") {
        length = fileSize - pos;
      } else if (extra) {
        break;
      } else {
        throw FileError(kTruncatedText, filename_);
      }
    }
    pos += length;
    if (type != "MThd" && type != "MTrk") {
      if (!file.seek(qint64(pos))) throw FileError(kTruncatedText, filename_);
      continue;
    }
    const QByteArray body = file.read(qsizetype(length));
    if (std::uint64_t(body.size()) < length) throw FileError(kTruncatedText, filename_);

    if (type == "MThd") {
      if (body.size() >= 2) {
        const std::uint8_t format = std::uint8_t(body[1]);
        if (format <= 2) fileFormat_ = TFileFormat(format);
      }
      if (body.size() >= 4) declared = BigEndian(body, 2, 2);
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
    } else {
      // Weighed first: a song too large for memory is refused before it takes any, and
      // the events, reserved at once, are never copied while the track grows.
      const TTrackSize size = ReadTrack(body, nullptr, tempos);
      if (budget < kTrackCost + size.bytes) throw FileError(kTooLargeText, filename_);
      budget -= kTrackCost + size.bytes;
      auto track = std::make_unique<TMidiTrack>();
      track->OnMidiEvent = onMidiEvent_;
      track->Events.reserve(size.events);
      tracks_.push_back(std::move(track));
      ReadTrack(body, tracks_.back().get(), tempos);
    }
  }
  file.close();
  if (ticksPerQuarter_ <= 0) {
    throw EInOutError(QStringLiteral("\"%1\" is not a MIDI file: it has no header").arg(filename_));
  }
  // Only what the clock hands out and the player uses counts: notes and the like, and texts
  // and lyric events.
  const bool playable = std::any_of(tracks_.begin(), tracks_.end(), [](const auto& track) {
    return std::any_of(track->Events.begin(), track->Events.end(), [](const TMidiEvent& e) {
      return (e.status >= 0x80 && e.status <= 0xEF) ||
             (e.status == 0xFF && (e.data1 == kMetaText || e.data1 == kMetaLyric));
    });
  });
  if (!playable) throw FileError(kNothingToPlayText, filename_);
  // The header's count is only a claim; the chunks found decide.
  numberOfTracks_ = int(tracks_.size());

  DecodeTexts();
  lyric_.clear();
  for (const auto& track : tracks_) {
    for (const TMidiEvent& event : track->Events) {
      if (event.status == 0xFF && event.data1 == kMetaText) lyric_ += event.text;
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

TMidiFile::TTrackSize TMidiFile::ReadTrack(const QByteArray& body, TMidiTrack* track,
                                           std::vector<TTempoChange>& tempos) const {
  ChunkReader in(body);
  TTrackSize size;
  std::uint8_t status = 0;
  // Deltas of bytes that came before any status byte: no events, but their time passes.
  std::int64_t skipped = 0;
  const auto add = [&](TMidiEvent event) {
    ++size.events;
    size.bytes += sizeof(TMidiEvent);
    if (track) track->Add(std::move(event));
  };
  while (in.Left() >= 2) {
    TMidiEvent event;
    std::uint32_t delta = 0;
    if (!in.Quantity(delta)) break;
    if (in.Left() == 0) break;
    const std::uint8_t next = in.Peek();
    if (next >= 0x80) {
      // Real-time and common messages belong to the wire: no file may hold them, and no
      // reading of the bytes after one can be trusted.
      if (next > 0xF0 && next != 0xF7 && next != 0xFF) throw FileError(kDamagedText, filename_);
      in.Byte(status);
    }
    const std::int64_t ticks =
        std::min<std::int64_t>(skipped + delta, std::numeric_limits<std::int32_t>::max());
    if (status == 0) {
      skipped = ticks;
      continue;
    }
    skipped = 0;
    event.status = status;
    event.deltaTicks = std::int32_t(ticks);

    if (status == 0xFF) {
      std::uint32_t length = 0;
      if (!in.Byte(event.data1) || !in.Quantity(length) || !in.Skip(length)) break;
      const char* data = body.constData() + (in.Position() - length);
      const auto text = qsizetype(std::find(data, data + length, '\0') - data);
      if (text > 0) size.bytes += kTextCost + std::size_t(text) * kTextCharCost;
      const bool tempo = event.data1 == kMetaTempo && length >= 3;
      // Kept byte for byte until the whole file shows which encoding its texts use.
      if (track) event.text = QString::fromLatin1(data, text);
      add(std::move(event));
      if (tempo) {
        size.bytes += kTempoCost;
        if (track) {
          tempos.push_back(
              {track->EndTick, BigEndian(body, qsizetype(data - body.constData()), 3)});
        }
      }
      continue;
    }
    if (status == 0xF0 || status == 0xF7) {
      std::uint32_t length = 0;
      if (!in.Quantity(length) || !in.Skip(length)) break;
    } else if ((status >= 0x80 && status <= 0xBF) || (status >= 0xE0 && status <= 0xEF)) {
      if (!in.Byte(event.data1) || !in.Byte(event.data2)) break;
    } else if (status >= 0xC0 && status <= 0xDF) {
      if (!in.Byte(event.data1)) break;
    }
    add(std::move(event));
  }
  if (track) track->DoneAdding();
  if (in.Damaged()) throw FileError(kDamagedText, filename_);
  return size;
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
  return int(std::min(std::nearbyint(ms), double(std::numeric_limits<int>::max())));
}

int TMidiFile::PositionMs() const {
  return int(std::min<std::int64_t>(elapsedMs_, std::numeric_limits<int>::max()));
}

int TMidiFile::ClockMs() const {
  if (!playing_) return PositionMs();
  return int(std::min<std::int64_t>(std::max(MilliSeconds() - startCount_, elapsedMs_),
                                    std::numeric_limits<int>::max()));
}

}  // namespace sonarelle
