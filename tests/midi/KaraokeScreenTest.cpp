// The karaoke screen on a real widget: what a singer sees at moments of a generated song.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include "SmfWriter.h"
#include "midi/KaraokeLyrics.h"
#include "midi/KaraokeScreen.h"
#include "midi/MidiFile.h"

namespace sonarelle {
namespace {

// The song's words as the screen gets them.
TKaraokeSong WordsOf(const smf::Track& texts) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("song.kar"));
  smf::Write(path.toStdString(), smf::Song(1, 96, {smf::Track().Tempo(0, 500000), texts}));
  TMidiFile song;
  song.SetFilename(path);
  song.LoadFile();
  const TKaraokeText sung = PrepareKaraokeText(song);
  return KaraokeSongOf(song, sung.type);
}

// Each run of rows holding the colour, top to bottom: its first row and leftmost column.
std::vector<std::pair<int, int>> Bands(TKaraokeScreen& screen, const QColor& colour) {
  const QImage frame = screen.grab().toImage();
  std::vector<std::pair<int, int>> bands;
  bool inBand = false;
  for (int y = 0; y < frame.height(); ++y) {
    int left = -1;
    for (int x = 0; x < frame.width() && left < 0; ++x) {
      if (frame.pixelColor(x, y) == colour) left = x;
    }
    if (left >= 0 && !inBand) bands.emplace_back(y, left);
    if (left >= 0) bands.back().second = std::min(bands.back().second, left);
    inBand = left >= 0;
  }
  return bands;
}

// The rightmost column of the top line drawn in the sung colour; -1 for none.
int SungUpTo(TKaraokeScreen& screen, const QColor& sung) {
  const QImage frame = screen.grab().toImage();
  int right = -1;
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      if (frame.pixelColor(x, y) == sung) right = std::max(right, x);
    }
  }
  return right;
}

TEST(KaraokeScreenTest, SyllablesWipeInTimeLinesTakeTurnsAndSilencesAreCountedIn) {
  // 96 ticks a quarter at 120 bpm, 192 ticks a second: the first line 4 s in, a syllable
  // every quarter second; after "star", ten seconds of music.
  smf::Track texts;
  texts.Text(0, "@TTwinkle").Text(0, "@TMozart").Text(768, "\\Twin").Text(48, "kle");
  texts.Text(48, "/lit").Text(48, "tle").Text(48, "/star").Text(1920, "\\Up").Text(48, "/high");
  TKaraokeSong words = WordsOf(texts);
  ASSERT_EQ(words.lines.size(), 5u);
  EXPECT_EQ(words.title, "Twinkle");
  EXPECT_EQ(words.artist, "Mozart");
  EXPECT_EQ(words.lines[1].syllables.front().text, "lit") << "a marker shows on screen";

  int now = 0;
  TKaraokeScreen screen;
  screen.resize(1280, 720);
  const QColor sung(0, 160, 255);
  screen.SetColours(Qt::black, Qt::white, sung);
  screen.Position = [&] { return now; };
  screen.SetSong(std::move(words));
  // The title and artist stand above the lines while the intro plays, and only then.
  const auto titled = [&] {
    const QImage top = screen.grab(QRect(0, 0, 1280, 100)).toImage();
    for (int y = 0; y < top.height(); ++y) {
      for (int x = 0; x < top.width(); ++x) {
        if (top.pixelColor(x, y) == Qt::white) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(titled());
  // Counted in over the four beats before the first line, which shows with the next.
  std::vector<int> dots;
  for (now = 1750; now < 4000; now += 500) {
    screen.Frame();
    dots.push_back(screen.CountInShown());
  }
  EXPECT_EQ(dots, std::vector<int>({0, 4, 3, 2, 1}));
  now = 3750;
  EXPECT_EQ(std::pair(screen.LineShown(0), screen.LineShown(1)), std::pair(0, 1));
  EXPECT_EQ(SungUpTo(screen, sung), -1);
  EXPECT_TRUE(titled()) << "the title went before the first line";
  // The dot left stands over the start of the line to sing: bands of white from the bottom
  // are the two lines, then the dot.
  const auto bands = Bands(screen, Qt::white);
  ASSERT_GE(bands.size(), 3u);
  EXPECT_NEAR(bands[bands.size() - 3].second, bands[bands.size() - 2].second, 3);
  // A syllable shows begun the moment it is due, however slow its wipe.
  now = 4000;
  screen.Frame();
  EXPECT_EQ(screen.SyllablesStarted(0), 1);
  EXPECT_FALSE(titled()) << "the title stayed over the song";

  // Half through "Twin" the wipe stands within it, then moves on through "kle".
  now = 4125;
  screen.Frame();
  const int half = SungUpTo(screen, sung);
  now = 4240;
  screen.Frame();
  const int whole = SungUpTo(screen, sung);
  EXPECT_GT(half, 0);
  EXPECT_GT(whole, half + 10) << "the syllable came in one jump, or not at all";
  now = 4490;
  screen.Frame();
  EXPECT_GT(SungUpTo(screen, sung), whole + 10);

  // While "little" is sung at the bottom, "star" waits at the top.
  now = 4600;
  screen.Frame();
  EXPECT_EQ(std::pair(screen.LineShown(0), screen.LineShown(1)), std::pair(2, 1));
  // Ten seconds of music: nothing counts until the four beats before "Up".
  now = 9000;
  screen.Frame();
  EXPECT_EQ(screen.CountInShown(), 0);
  now = 15000 - 1900;
  screen.Frame();
  EXPECT_EQ(screen.CountInShown(), 4);
  EXPECT_EQ(screen.LineShown(1), 3);
  // Once the last line is sung the screen is empty.
  now = 30000;
  screen.Frame();
  EXPECT_TRUE(Bands(screen, Qt::white).empty() && Bands(screen, sung).empty());
}

TEST(KaraokeScreenTest, ASongSungFromLyricEventsIsNamedByItsKaraokeHeaders) {
  smf::Track texts;
  texts.Text(0, "@TLong Road").Text(0, "@TThe Singers").Meta(10, 5, "Walk").Meta(10, 5, "ing");
  const TKaraokeSong words = WordsOf(texts);
  ASSERT_EQ(words.lines.size(), 1u);
  EXPECT_EQ(words.lines[0].syllables.front().text, "Walk");
  EXPECT_EQ(words.title, "Long Road");
  EXPECT_EQ(words.artist, "The Singers");
}

}  // namespace
}  // namespace sonarelle
