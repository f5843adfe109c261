#include <gtest/gtest.h>

#include <QDir>
#include <climits>

#include "SmfWriter.h"
#include "midi/MidiFile.h"
#include "support/ErrorText.h"

using namespace sonarelle;

namespace {

std::string TempPath(const char* name) {
  return QDir::temp().filePath(QString::fromLatin1(name)).toStdString();
}

void Load(TMidiFile& midi, const std::string& bytes) {
  static int n = 0;
  const std::string path = TempPath("song") + std::to_string(++n) + ".kar";
  smf::Write(path, bytes);
  midi.SetFilename(QString::fromStdString(path));
  midi.LoadFile();
}

}  // namespace

TEST(MidiFileTest, EventsKeepTheirTicksAndNoteOffsFindTheirNotes) {
  smf::Track track;
  track
      .Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})  // SysEx: no data kept
      .Event(0, {0x90, 0x3C, 0x64})
      .Event(128, {0x3C, 0x00})          // running status, velocity 0: the note's end
      .Event(16383, {0x80, 0x40, 0x40})  // an end without a note
      .Meta(0, 1, std::string("ab\0cd", 5))
      .Event(2, {0x41, 0x00});  // running status still 0xFF: an empty meta event of type 0x41
  TMidiFile midi;
  Load(midi, smf::Song(0, 480, {track}));

  const auto& events = midi.Tracks().at(0)->Events;
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[0].status, 0xF0);
  EXPECT_EQ(events[0].data1, 0);
  EXPECT_EQ(events[1].tick, 0);
  EXPECT_EQ(events[1].noteLength, 128);
  EXPECT_EQ(events[2].status, 0x90);
  EXPECT_EQ(events[2].tick, 128);
  EXPECT_EQ(events[2].noteLength, -1);
  EXPECT_EQ(events[3].tick, 128 + 16383);
  EXPECT_EQ(events[3].noteLength, 0);
  EXPECT_EQ(events[4].text, QStringLiteral("ab"));
  EXPECT_EQ(events[5].status, 0xFF);
  EXPECT_EQ(events[5].data1, 0x41);
  EXPECT_EQ(midi.Tracks().at(0)->EndTick, 128 + 16383 + 2);
}

TEST(MidiFileTest, ChunksDecideTracksFormatAndLyric) {
  TMidiFile midi;
  smf::Track title, texts, lyrics;
  title.Meta(0, 3, "Title").Tempo(0, 400000);
  texts.Text(0, "@KTitle").Text(10, "\\Twin").Text(10, "kle");
  lyrics.Meta(0, 5, "Twin").Meta(10, 5, "kle");
  std::string bytes = smf::Header(1, 5, 96) + title.Chunk() + smf::Chunk("XFIH", "skipped") +
                      texts.Chunk() + lyrics.Chunk();
  Load(midi, bytes);
  EXPECT_EQ(midi.NumberOfTracks(), 3);
  EXPECT_EQ(midi.FileFormat(), TFileFormat::multi_synch);
  EXPECT_EQ(midi.Tracks().at(0)->TrackName, QStringLiteral("Title"));
  EXPECT_EQ(midi.lyric(), QStringLiteral("@KTitle\\Twinkle"));
  EXPECT_EQ(midi.Bpm(), 150);

  // An unknown format keeps the last one; no tempo event means 120.
  Load(midi, smf::Header(7, 1, 96) + texts.Chunk());
  EXPECT_EQ(midi.FileFormat(), TFileFormat::multi_synch);
  EXPECT_EQ(midi.Bpm(), 120);
  EXPECT_DOUBLE_EQ(midi.usPerTick(), 500000.0 / 96);
}

TEST(MidiFileTest, DamagedFilesFailKeepingWhatWasRead) {
  TMidiFile midi;
  smf::Track texts;
  texts.Text(0, "old");
  Load(midi, smf::Song(1, 96, {texts, smf::Track()}));
  ASSERT_EQ(midi.NumberOfTracks(), 2);

  // Before the tracks the header declares are read, a chunk that claims more than the file
  // holds is refused before it is read.
  const std::string good = smf::Header(0, 2, 96) + smf::Track().Text(0, "new").Chunk();
  const std::pair<std::string, std::size_t> cases[] = {
      {good + "XFIH" + smf::BigEndian(0x7FFFFFF0, 4) + "xx", 1},
      {good + "MTr", 1},
      {good.substr(0, 12), 0}};
  for (const auto& [damaged, tracksRead] : cases) {
    EXPECT_THROW(Load(midi, damaged), EInOutError);
    EXPECT_EQ(midi.Tracks().size(), tracksRead);  // what was read before the damage stays
    EXPECT_EQ(midi.NumberOfTracks(), 2);
    EXPECT_EQ(midi.lyric(), QStringLiteral("old"));
  }

  // Divisions that give no tick length.
  for (int division : {0, 0xE728}) {
    const QString message =
        ErrorOf<EInOutError>([&] { Load(midi, smf::Song(0, division, {texts})); });
    EXPECT_TRUE(message.contains(QStringLiteral("time division"))) << message.toStdString();
  }
  midi.SetFilename(QStringLiteral("/nonexistent/song.kar"));
  EXPECT_THROW(midi.LoadFile(), EInOutError);
}

std::string MessageOf(TMidiFile& midi, const std::string& bytes) {
  return ErrorOf<EInOutError>([&] { Load(midi, bytes); }).toStdString();
}

TEST(MidiFileTest, WhatFollowsTheDeclaredTracksAndACutLastTrackDoNotLoseTheSong) {
  smf::Track tempo, texts;
  tempo.Tempo(0, 500000).Event(0, {0x90, 60, 100}).Event(96, {0x80, 60, 0});
  texts.Text(0, "@TSong").Text(10, "\\Twin").Text(10, "kle");
  // A real KAR file ends in 35 bytes of a stray track-name event: read as a chunk, 1.6 GB.
  const std::string stray = smf::Track().Meta(0, 3, "_Made with a karaoke sequencer.").bytes;
  ASSERT_EQ(stray.size(), 35u);
  TMidiFile midi;
  Load(midi, smf::Song(1, 96, {tempo, texts}) + smf::Chunk("XFIH", "skipped") +
                 smf::Track().Text(0, "/star").Chunk() + stray);
  EXPECT_EQ(midi.NumberOfTracks(), 3);  // the chunks found, not the header's 2
  EXPECT_EQ(midi.lyric(), QStringLiteral("@TSong\\Twinkle/star"));

  // A last track cut short plays up to the cut.
  const std::string cut = smf::Header(1, 2, 96) + tempo.Chunk() + "MTrk" +
                          smf::BigEndian(std::uint32_t(texts.bytes.size() + 100), 4) + texts.bytes;
  Load(midi, cut);
  EXPECT_EQ(midi.NumberOfTracks(), 2);
  EXPECT_EQ(midi.lyric(), QStringLiteral("@TSong\\Twinkle"));
  EXPECT_EQ(midi.LengthMs(), 500);
}

TEST(MidiFileTest, FilesThatAreNotSongsSayWhatIsWrongAndKeepTheLoadedSong) {
  TMidiFile midi;
  Load(midi, smf::Song(0, 96, {smf::Track().Text(0, "old")}));
  const std::pair<std::string, std::string> cases[] = {
      {"", "\" is empty."},
      {"RIFF\\x24\\x08\\0\\0WAVEfmt ", "\" is not a MIDI file."},
      {"MT", "\" is not a MIDI file."}};
  for (const auto& [bytes, says] : cases) {
    const std::string message = MessageOf(midi, bytes);
    EXPECT_NE(message.find(midi.Filename().toStdString() + says), std::string::npos) << message;
    EXPECT_EQ(midi.Tracks().size(), 1u);
    EXPECT_EQ(midi.lyric(), QStringLiteral("old"));
  }
}

TEST(MidiFileTest, DamagedTracksAreRefusedAndStrayBytesMakeNoEvents) {
  TMidiFile midi;
  // Thousands of empty tracks, or bytes before any status byte, hold nothing to play.
  const std::string nothing = "holds no music and no lyrics to play";
  std::string empties = smf::Header(1, 5000, 96);
  for (int i = 0; i < 5000; ++i) empties += smf::Chunk("MTrk", "");
  EXPECT_NE(MessageOf(midi, empties).find(nothing), std::string::npos);
  smf::Track zeros{std::string(1 << 20, '\0')};
  EXPECT_NE(MessageOf(midi, smf::Song(0, 96, {zeros})).find(nothing), std::string::npos);

  // Their deltas still pass: the note comes at 5 + 7 ticks.
  Load(midi, smf::Song(0, 96, {smf::Track().Raw({5, 7}).Event(0, {0x90, 60, 100})}));
  EXPECT_EQ(midi.Tracks().at(0)->Events.size(), 1u);
  EXPECT_EQ(midi.Tracks().at(0)->Events[0].tick, 12);

  // A length code of five bytes, and status bytes no file may hold.
  const std::string damaged = "is a damaged MIDI file";
  smf::Track longCode;
  longCode.Raw({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100});
  EXPECT_NE(MessageOf(midi, smf::Song(0, 96, {longCode})).find(damaged), std::string::npos);
  for (int status = 0xF1; status <= 0xFE; ++status) {
    if (status == 0xF7) continue;
    smf::Track track;
    track.Event(0, {0x90, 60, 100}).Event(0, {status, 0x10, 0x20}).Event(0, {0x80, 60, 0});
    EXPECT_NE(MessageOf(midi, smf::Song(0, 96, {track})).find(damaged), std::string::npos)
        << std::hex << status;
  }
}

TEST(MidiFileTest, TicksAndLengthStopAtTheirLargestValues) {
  // Legal four-byte deltas summing past 32 bits.
  smf::Track far;
  far.Event(0, {0x90, 60, 100});
  for (int i = 0; i < 9; ++i) far.Event(0x0FFFFFFF, {0x3C, 0x40});
  far.Event(0x0FFFFFFF, {0x80, 60, 0});
  TMidiFile midi;
  Load(midi, smf::Song(0, 96, {far}));
  const auto& events = midi.Tracks().at(0)->Events;
  EXPECT_EQ(midi.Tracks().at(0)->EndTick, INT32_MAX);
  EXPECT_EQ(events.at(7).tick, 7 * 0x0FFFFFFF);
  EXPECT_EQ(events.back().tick, INT32_MAX);

  // A quarter of 16.7 s and one tick a quarter: 4.5 * 10^12 ms, longer than an int holds.
  smf::Track slow;
  slow.Tempo(0, 0xFFFFFF).Event(0, {0x90, 60, 100}).Event(0x0FFFFFFF, {0x80, 60, 0});
  std::int64_t now = 0;
  midi.MilliSeconds = [&] { return now; };
  Load(midi, smf::Song(0, 1, {slow}));
  EXPECT_EQ(midi.LengthMs(), INT_MAX);
  midi.StartPlayback();
  now = 1000;
  midi.ClockTick();
  EXPECT_LT(midi.PositionMs(), midi.LengthMs());
}

TEST(MidiFileTest, TextsAreUtf8ElseTheLegacyEncoding) {
  TMidiFile midi;
  Load(midi, smf::Song(0, 96, {smf::Track().Text(0, "\\Gr\xC3\xBC\xC3\x9F").Text(0, "e")}));
  EXPECT_EQ(midi.lyric(), QStringLiteral("\\Grüße"));

  // One text that is not UTF-8 makes the whole file legacy.
  Load(midi, smf::Song(0, 96,
                       {smf::Track()
                            .Text(0, "\xC3\xBC")
                            .Text(0,
                                  "\x93"
                                  "Caf\xE9\x94")}));
  EXPECT_EQ(midi.lyric(), QStringLiteral("Ã¼“Café”"));

  midi.TextEncoding = "GB18030";
  Load(midi, smf::Song(0, 96, {smf::Track().Text(0, "\xC4\xE3\xBA\xC3")}));
  EXPECT_EQ(midi.lyric(), QStringLiteral("你好"));
}

TEST(MidiClockTest, EventsComeDueThroughEveryTempoChange) {
  // 120 bpm for the first 960 ticks (1000 ms), then twice as fast.
  smf::Track track;
  track.Tempo(0, 500000)
      .Event(959, {0x90, 60, 100})
      .Tempo(1, 250000)
      .Event(0, {0x80, 60, 0})
      .Event(960, {0x90, 62, 100})
      .End();
  TMidiFile midi;
  std::int64_t now = 5000;
  midi.MilliSeconds = [&] { return now; };
  std::vector<int> handed;
  midi.SetOnMidiEvent([&](PMidiEvent e) {
    if (e->status != 0xFF) handed.push_back(e->tick);
  });
  Load(midi, smf::Song(0, 480, {track}));
  EXPECT_EQ(midi.Bpm(), 240);  // the last tempo event's
  EXPECT_EQ(midi.LengthMs(), 1500);

  midi.StartPlayback();
  now += 1000;
  midi.ClockTick();
  EXPECT_EQ(handed, (std::vector<int>{959}));
  now += 499;
  midi.ClockTick();
  EXPECT_EQ(handed, (std::vector<int>{959, 960}));
  now += 2;
  midi.ClockTick();
  EXPECT_EQ(handed, (std::vector<int>{959, 960, 1920}));

  // A pause does not count as song time.
  midi.StopPlayback();
  now += 5000;
  midi.ClockTick();
  EXPECT_EQ(midi.PositionMs(), 1501);
  midi.ResumePlayback();
  now += 10;
  midi.ClockTick();
  EXPECT_EQ(midi.PositionMs(), 1511);

  // A new start plays from the beginning again.
  handed.clear();
  midi.StartPlayback();
  now += 1000;
  midi.ClockTick();
  EXPECT_EQ(handed, (std::vector<int>{959}));
}
