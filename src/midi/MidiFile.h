#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>

#include "midi/TempoMap.h"
#include "platform/Exception.h"

namespace sonarelle {

class MessageWindow;

// A file that cannot be read: it cannot be opened, is empty or not MIDI, ends inside a
// chunk, is damaged, holds nothing to play or too much to load, or has a time division that
// gives no tick length.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// One event of a loaded MIDI file.
struct TMidiEvent {
  std::uint8_t status = 0;  // 0x80..0xEF channel message, 0xF0/0xF7 SysEx, 0xFF meta
  std::uint8_t data1 = 0;   // meta events: the meta type
  std::uint8_t data2 = 0;
  QString text;  // meta events: the data up to its first zero byte, decoded
  std::int32_t deltaTicks = 0;
  std::int32_t tick = 0;  // from the track start, this event's delta included
  // Note-on: ticks to its note-off (0 while unmatched); -1 on a matched note-off.
  std::int32_t noteLength = 0;
};
using PMidiEvent = TMidiEvent*;
using TOnMidiEvent = std::function<void(PMidiEvent event)>;

// One "MTrk" chunk.
struct TMidiTrack {
  std::vector<TMidiEvent> Events;
  QString TrackName;          // the last meta text of type 3
  QString InstrumentName;     // the last meta text of type 4
  std::int32_t EndTick = 0;   // stays at the largest tick rather than wrap
  std::size_t NextIndex = 0;  // the next event the clock hands out
  TOnMidiEvent OnMidiEvent;   // a copy of the file's callback

  // Appends an event: its tick, track and instrument names, and note matching.
  void Add(TMidiEvent event);
  // Frees what only adding needs; a later Add builds it again.
  void DoneAdding();

 private:
  // Index of the last event with status 0x9n for each channel and key; empty while no
  // event is being added, so that a song of many tracks does not keep one for each.
  std::vector<std::int32_t> lastNoteOn_;
};

enum class TFileFormat { single, multi_synch, multi_asynch };

// Loads a Standard MIDI File into tracks of timed events, collects its karaoke text, and
// plays it: a 10 ms clock hands every event that becomes due to OnMidiEvent.
class TMidiFile {
 public:
  TMidiFile();
  ~TMidiFile();
  TMidiFile(const TMidiFile&) = delete;
  TMidiFile& operator=(const TMidiFile&) = delete;

  QString Filename() const { return filename_; }
  void SetFilename(const QString& name) { filename_ = name; }
  // Loads Filename; raises EInOutError when it cannot be read.
  void LoadFile();

  // The texts of the type 1 meta events, track by track.
  QString lyric() const { return lyric_; }
  int NumberOfTracks() const { return numberOfTracks_; }
  int TicksPerQuarter() const { return ticksPerQuarter_; }
  TFileFormat FileFormat() const { return fileFormat_; }
  // The tempo of the file's last tempo event (120 without one), in quarters a minute.
  int Bpm() const { return bpm_; }
  // Sets one tempo for the whole song; 0 and the current value are ignored.
  void SetBpm(int bpm);
  // The tick length of Bpm's tempo, in microseconds.
  double usPerTick() const { return usPerTick_; }
  // Song time to ticks, through every tempo event.
  const TTempoMap& TempoMap() const { return tempoMap_; }

  // The encoding of karaoke texts that are not valid UTF-8 (a name the platform knows,
  // such as "Windows-1252" or "GB18030").
  QByteArray TextEncoding = "Windows-1252";

  const std::vector<std::unique_ptr<TMidiTrack>>& Tracks() const { return tracks_; }

  TOnMidiEvent OnMidiEvent() const { return onMidiEvent_; }
  // Also gives every loaded track a copy.
  void SetOnMidiEvent(TOnMidiEvent callback);
  // Called after every clock tick while playing.
  std::function<void(TMidiFile* Sender)> OnUpdateEvent;

  // Plays from the start.
  void StartPlayback();
  // Halts where the song is; nothing is sent.
  void StopPlayback();
  // Goes on from where the song halted.
  void ResumePlayback();
  bool Playing() const { return playing_; }
  // Song time reached at the last clock tick.
  int PositionMs() const;
  // Song time now, between the clock's ticks too: for a screen that must not lag a tick.
  int ClockMs() const;
  // The song's length; a song longer than the largest int gives that.
  int LengthMs() const;

  // One clock tick: hands out what became due by now. The clock's timer calls it.
  void ClockTick();
  // The millisecond count the song time comes from; tests set a clock of their own.
  std::function<std::int64_t()> MilliSeconds;

 private:
  struct TTrackSize {
    std::size_t events = 0;
    std::size_t bytes = 0;  // what the events take in memory, texts and tempo map included
  };
  // Reads a track chunk's events into `track`; without a track only weighs them.
  TTrackSize ReadTrack(const QByteArray& body, TMidiTrack* track,
                       std::vector<TTempoChange>& tempos) const;
  void DecodeTexts();
  void AdvanceTo(std::int64_t t);

  QString filename_;
  QString lyric_;
  int numberOfTracks_ = 0;
  int ticksPerQuarter_ = 0;
  TFileFormat fileFormat_ = TFileFormat::single;
  int bpm_ = 0;
  double usPerTick_ = 0;
  TTempoMap tempoMap_;
  TOnMidiEvent onMidiEvent_;
  std::vector<std::unique_ptr<TMidiTrack>> tracks_;

  std::unique_ptr<MessageWindow> clock_;
  bool playing_ = false;
  bool inTick_ = false;
  std::int64_t startCount_ = 0;
  std::int64_t elapsedMs_ = 0;
  double tickPosition_ = 0;
};

}  // namespace sonarelle
