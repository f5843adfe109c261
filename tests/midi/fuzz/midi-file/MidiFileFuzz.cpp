// libFuzzer target: any bytes as a KAR song, loaded, timed, played through the clock and
// coloured line by line the way the main window colours its lyrics. Built and run by
// scripts/fuzz.sh.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include <QCoreApplication>

#include "midi/KaraokeLyrics.h"
#include "midi/MidiFile.h"

using namespace sonarelle;

namespace sonarelle {
// An error out of the clock would reach the error box: here it is a finding.
void ShowException(const std::exception&) {
  std::abort();
}
}  // namespace sonarelle

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The song lives in memory; the reader opens it by name like any file.
QString SongFile(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("song.kar", 0);
  Check(fd >= 0 && ftruncate(fd, 0) == 0);
  Check(pwrite(fd, data, size, 0) == ssize_t(size));
  return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 1;
  static char name[] = "midi-file-fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);  // the clock's timer wants an event dispatcher

  TMidiFile midi;
  if (size > 0 && (data[size - 1] & 1)) midi.TextEncoding = "GB18030";
  midi.SetFilename(SongFile(data, size));
  try {
    midi.LoadFile();
  } catch (const EInOutError&) {
    return 0;
  }

  Check(midi.NumberOfTracks() == int(midi.Tracks().size()));
  std::size_t events = 0;
  for (const auto& track : midi.Tracks()) {
    std::int32_t tick = 0;
    for (const TMidiEvent& e : track->Events) {
      Check(e.tick >= tick && e.deltaTicks >= 0 && e.noteLength >= -1);
      tick = e.tick;
    }
    Check(track->EndTick == tick);
    events += track->Events.size();
  }
  const int length = midi.LengthMs();
  Check(length >= 0);

  const QStringList lines = KaraokeLyricLines(midi.lyric());
  TLyricColouring colouring;
  std::size_t handed = 0;
  midi.SetOnMidiEvent([&](PMidiEvent e) {
    ++handed;
    if (e->status == 0xFF && e->data1 == 1 && colouring.Advance(e->text, lines.size())) {
      Check(colouring.chars >= 0);
    }
  });
  std::int64_t now = 0;
  std::int64_t paused = 0;
  midi.MilliSeconds = [&] { return now; };
  midi.StartPlayback();
  // Through the song in sixteen steps, with a pause in the middle, and past its end.
  for (int step = 1; step <= 17; ++step) {
    now = paused + std::int64_t(length) * step / 16 + 1;
    if (step == 8) {
      midi.StopPlayback();
      paused = 1000;
      now += paused;
      midi.ResumePlayback();
    }
    midi.ClockTick();
    Check(midi.PositionMs() >= 0 && handed <= events);
  }
  midi.StopPlayback();
  return 0;
}
