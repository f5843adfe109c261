// KAR songs from the main window: the lyric window's colouring, and the song on the
// built-in synthesizer of the test rig's sound server.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include "EventWait.h"
#include "MonitorRecorder.h"
#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "midi/FrmMidiPlayer.h"
#include "midi/KaraokeScreen.h"
#include "midi/MidiOutput.h"
#include "midi/ScaleSong.h"
#include "midi/SmfWriter.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "support/ModalBoxWatcher.h"
#include "support/Tone.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

class KaraokeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(dir_.path()); }
  void Start() {
    windows_ = std::make_unique<TProgramWindows>();
    main_ = windows_->FrmMain.get();
    main_->show();
  }
  // Starts with no sound server to be found: the songs play silently.
  void StartSilent() {
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulse/native");
    Start();
    // The devices open once the window is on screen.
    const bool made =
        WaitUntil([&] { return windows_->FrmMidiPlayer->MidiOutput1 != nullptr; }, 5000);
    qputenv("PULSE_SERVER", server);
    ASSERT_TRUE(made);
  }
  void TearDown() override {
    windows_.reset();
    SetProgramFolder(QString());
  }

  QString Song(const char* name, const std::vector<smf::Track>& tracks) {
    QString path = dir_.filePath(QString::fromLatin1(name));
    smf::Write(path.toStdString(), smf::Song(1, 96, tracks));
    return path;
  }

  // The lyrics up to the last blue bold character, paragraphs joined by "\n".
  QString Coloured() const {
    QString text;
    int end = 0;
    for (QTextBlock block = windows_->FrmMidiPlayer->RichEdit1->document()->begin();
         block.isValid(); block = block.next()) {
      for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        text += fragment.text();
        const QTextCharFormat format = fragment.charFormat();
        if (format.foreground().color() == QColor(0, 0, 255) &&
            format.fontWeight() == QFont::Bold) {
          end = int(text.size());
        }
      }
      text += QLatin1Char('\n');
    }
    return text.left(end);
  }

  QTemporaryDir dir_;
  std::unique_ptr<TProgramWindows> windows_;
  TFrmMain* main_ = nullptr;
};

// Ahead of the tests that close the main window: closing ends the message loop, and a box
// opened after that returns at once.
TEST_F(KaraokeTest, ASongWithLeftoversPlaysAndFilesThatAreNoSongsSayWhy) {
  ModalBoxWatcher boxes;
  smf::Track texts;
  texts.Text(0, "\\Twin").Event(0, {0x90, 60, 100}).Text(10, "kle").Event(10, {0x80, 60, 0});
  const QString song = dir_.filePath(QStringLiteral("leftovers.kar"));
  smf::Write(song.toStdString(),
             smf::Song(1, 96, {smf::Track().Tempo(0, 500000), texts}) +
                 smf::Track().Meta(0, 3, "_Made with a karaoke sequencer.").bytes);
  const QString empty = dir_.filePath(QStringLiteral("empty.kar"));
  const QString notMidi = dir_.filePath(QStringLiteral("notes.kar"));
  smf::Write(empty.toStdString(), "");
  smf::Write(notMidi.toStdString(), "Twinkle, twinkle, little star\n");
  StartSilent();

  RunGuarded([&] { main_->PlayFile(song); });
  EXPECT_TRUE(boxes.Boxes().isEmpty()) << boxes.Texts().join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(*main_->LyricLines, QStringList({"Twinkle", ""}));
  EXPECT_TRUE(main_->Timer1->isActive());

  for (const QString& file : {empty, notMidi}) RunGuarded([&] { main_->PlayFile(file); });
  EXPECT_EQ(boxes.Texts(),
            QStringList({QStringLiteral("\"%1\" is empty.").arg(empty),
                         QStringLiteral("\"%1\" is not a MIDI file.").arg(notMidi)}));
  for (const auto& box : boxes.Boxes()) EXPECT_TRUE(box.critical);
  EXPECT_FALSE(main_->Timer1->isActive());
}

TEST_F(KaraokeTest, LyricsColourAsTheirTextsComeDueEvenWithoutADevice) {
  ModalBoxWatcher boxes;
  // 96 ticks a quarter at 120 bpm: a text every 10 ticks is one every 52 ms.
  smf::Track texts;
  texts.Text(0, "@THeader")
      .Text(10, "\\Twin")
      .Text(10, "kle twin")
      .Meta(0, 5, "kle twin")  // lyric events repeating the texts are not counted
      .Text(10, "kle ")
      .Meta(0, 3, "Verse two")  // nor is a track name in the middle of the song
      .Text(10, "/lit")
      .Text(10, "tle star")
      .Text(10, "\\Up");
  const QString song = Song("twinkle.kar", {smf::Track().Tempo(0, 500000), texts});
  StartSilent();
  ASSERT_FALSE(windows_->FrmMidiPlayer->DeviceOpen);

  std::int64_t now = 0;
  main_->MidiFile1->MilliSeconds = [&] { return now; };
  main_->PlayFile(song);
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkKaraoke);
  EXPECT_TRUE(windows_->FrmMidiPlayer->isVisible());
  EXPECT_EQ(*main_->LyricLines, QStringList({"Twinkle twinkle ", "little star", "", "Up", ""}));

  QStringList seen;
  for (int step = 0; step < 7; ++step) {
    now = step * 1000 * 10 / 192 + 26;  // between two texts
    main_->MidiFile1->ClockTick();
    seen << Coloured();
  }
  EXPECT_EQ(seen,
            QStringList({"", "Twin", "Twinkle twin", "Twinkle twinkle ", "Twinkle twinkle \nlit",
                         "Twinkle twinkle \nlittle star", "Twinkle twinkle \nlittle star\n\nUp"}));
  EXPECT_EQ(main_->LyricChars, 35);

  // A second song starts its colouring over.
  main_->PlayFile(song);
  now = 26;
  main_->MidiFile1->ClockTick();
  EXPECT_EQ(Coloured(), "");
  EXPECT_EQ(main_->LyricLine, -2);

  // Closing ends the song before its lines are freed.
  main_->close();
  now += 500;
  main_->MidiFile1->ClockTick();
  EXPECT_FALSE(main_->MidiFile1->Playing());
  EXPECT_TRUE(boxes.Boxes().isEmpty());
}

// Real files' texts: a header holding "/", lines without paragraphs, lyric events only.
TEST_F(KaraokeTest, EveryKindOfLyricShowsItsWordsAndColoursThemInStep) {
  StartSilent();
  std::int64_t now = 0;
  main_->MidiFile1->MilliSeconds = [&] { return now; };
  // Plays the texts, one every 10 ticks (52 ms), to the end; the lines and what got coloured.
  const auto sing = [&](int type, const std::vector<std::string>& texts) {
    smf::Track track;
    for (const std::string& text : texts) track.Meta(10, type, text);
    now = 0;
    main_->PlayFile(Song("song.kar", {smf::Track().Tempo(0, 500000), track}));
    for (; now < int(texts.size() + 1) * 53; now += 26) main_->MidiFile1->ClockTick();
    return std::pair(*main_->LyricLines, Coloured());
  };
  EXPECT_EQ(sing(1, {"@Twww.example.org/songs", "@I12/05/1999", "\\Twin", "kle"}),
            std::pair(QStringList({"Twinkle", ""}), QStringLiteral("Twinkle")));
  EXPECT_EQ(sing(1, {"@TTitle", "/One", " two", "/Three", "/Four", "/Five", "/Six"}),
            std::pair(QStringList({"One two", "Three", "Four", "Five", "", "Six", ""}),
                      QStringLiteral("One two\nThree\nFour\nFive\n\nSix")));
  EXPECT_EQ(sing(5, {"Hel", "lo\r", "world\n", "Up"}),
            std::pair(QStringList({"Hello", "world", "", "Up", ""}),
                      QStringLiteral("Hello\nworld\n\nUp")));
  // Lines alone, ended by CR: paragraphs of four lines, as for karaoke texts.
  EXPECT_EQ(sing(5, {"A\r", "B\r", "C\r", "D\r", "E"}).first,
            QStringList({"A", "B", "C", "D", "", "E", ""}));
  // Lyric events that carry the karaoke markers already keep them as they are.
  EXPECT_EQ(sing(5, {"Hel", "lo\r", "/world"}).first, QStringList({"Hello", "world", ""}));
}

// A long song keeps its sung line in view; a user's scrolling is left alone to the next
// paragraph.
TEST_F(KaraokeTest, TheLyricWindowFollowsTheSongButNotAgainstTheUser) {
  StartSilent();
  std::int64_t now = 0;
  main_->MidiFile1->MilliSeconds = [&] { return now; };
  smf::Track track;
  for (int line = 0; line < 80; ++line) track.Text(10, "/Line " + std::to_string(line));
  main_->PlayFile(Song("long.kar", {smf::Track().Tempo(0, 500000), track}));
  QTextEdit* view = windows_->FrmMidiPlayer->RichEdit1;
  QScrollBar* bar = view->verticalScrollBar();
  // Whether the end of the colouring lies in the window.
  const auto sungInView = [&] {
    QTextCursor at(view->document());
    at.setPosition(int(Coloured().size()));
    const QRect rect = view->cursorRect(at);
    return rect.top() >= 0 && rect.bottom() <= view->viewport()->height();
  };
  const auto singTo = [&](int line) {
    // 96 ticks a quarter at 120 bpm: the line's text is due (line + 1) * 10 / 192 s in.
    for (; now < (line + 1) * 10000 / 192 + 26; now += 26) main_->MidiFile1->ClockTick();
  };
  singTo(41);  // the second line of a paragraph
  EXPECT_TRUE(Coloured().endsWith("Line 41")) << Coloured().right(40).toStdString();
  EXPECT_TRUE(sungInView());
  bar->setValue(0);
  singTo(42);
  EXPECT_EQ(bar->value(), 0) << "the colouring scrolled against the user";
  singTo(44);  // the next paragraph's first line
  EXPECT_TRUE(sungInView());
  singTo(79);
  EXPECT_TRUE(Coloured().endsWith("Line 79"));
  EXPECT_TRUE(sungInView());
}

// The display window shows the song's words on the karaoke screen, which stands still while
// the song is paused and goes on from there.
TEST_F(KaraokeTest, TheKaraokeScreenFollowsTheSongThroughPauseAndPlay) {
  StartSilent();
  std::int64_t now = 0;
  main_->MidiFile1->MilliSeconds = [&] { return now; };
  smf::Track track;
  // A syllable every 96 ticks, half a second.
  track.Text(0, "\\Twin").Text(96, "kle").Text(96, "twin").Text(96, "kle");
  // At the screen's left edge the screen, wider than the main window, stops at the edge.
  main_->move(0, 400);
  main_->PlayFile(Song("screen.kar", {smf::Track().Tempo(0, 500000), track}));
  TKaraokeScreen* screen = windows_->FrmDisplay->KaraokeScreen;
  EXPECT_TRUE(windows_->FrmDisplay->isVisible() && screen->isVisible());
  EXPECT_EQ(windows_->FrmDisplay->frameGeometry().left(), 0);
  const auto at = [&](std::int64_t ms) {
    now = ms;
    main_->MidiFile1->ClockTick();
    screen->Frame();
    return screen->SyllablesStarted(0);
  };
  EXPECT_EQ(at(600), 2);
  // Between the clock's ticks the screen goes on with the song's clock.
  now = 1050;
  screen->Frame();
  EXPECT_EQ(screen->SyllablesStarted(0), 3) << "the screen waited for the clock's tick";
  EXPECT_EQ(at(1050), 3);
  main_->BtnPause->click();
  EXPECT_EQ(at(5000), 3) << "the screen ran on while the song was paused";
  main_->BtnPlay->click();
  // Half a second on from where it stood: the fourth syllable, not the song 5.5 s in.
  EXPECT_EQ(at(5500), 4) << "the song did not go on where it was paused";

  // A look chosen while the words show colours them at once: DeepBlue sings in gold.
  const auto shows = [&](const QColor& colour) {
    const QImage frame = screen->grab().toImage();
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) {
        if (frame.pixelColor(x, y) == colour) return true;
      }
    }
    return false;
  };
  const QColor gold(0xf0, 0xb4, 0x00);
  EXPECT_FALSE(shows(gold));
  main_->Item(QStringLiteral("N95"))->trigger();
  EXPECT_TRUE(shows(gold));
}

// The song as the singer hears it: the rig's "speakers" carry the synthesizer.
class KaraokeSoundTest : public KaraokeTest {
 protected:
  static monitor_recorder::Recording Listen(int ms) {
    monitor_recorder::Recording heard;
    const std::string failure = monitor_recorder::Record(
        "speakers.monitor", std::size_t(monitor_recorder::kRate) * ms / 1000,
        std::chrono::milliseconds(ms + 3000), &heard);
    EXPECT_EQ(failure, "");
    return heard;
  }
  // Half a second of the song with the chord in it, within three seconds.
  static monitor_recorder::Recording ListenForChord() {
    return monitor_recorder::RecordUntil("speakers.monitor", monitor_recorder::kRate / 2,
                                         std::chrono::seconds(3), HasChord);
  }
  static bool HasChord(const monitor_recorder::Recording& heard) {
    const auto rate = double(monitor_recorder::kRate);
    return NoteSounds(heard.left, rate, 261.63) && NoteSounds(heard.left, rate, 329.63) &&
           NoteSounds(heard.left, rate, 392.00);
  }
};

TEST_F(KaraokeSoundTest, TheSongSoundsStopSilencesItAndTheNextSongStillPlaysChords) {
  ModalBoxWatcher boxes;
  Start();
  // The synthesizer opens once the main window is on screen.
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmMidiPlayer->DeviceOpen; }, 5000));
  // A chord of C, E and G on a recorder held for twenty seconds under two lines of lyrics.
  smf::Track music;
  music.Event(0, {0xC0, 74}).Event(0, {0x90, 60, 110}).Event(0, {0x90, 64, 110});
  music.Event(0, {0x90, 67, 110}).Event(3840, {0x80, 60, 0}).Event(0, {0x80, 64, 0});
  music.Event(0, {0x80, 67, 0});
  smf::Track texts;
  texts.Text(0, "\\La").Text(48, "la").Text(48, "/la").Text(48, "la");
  const QString song = Song("chord.kar", {smf::Track().Tempo(0, 500000), music, texts});

  main_->PlayFile(song);
  // A busy machine may hand out several syllables in one tick.
  ASSERT_TRUE(WaitUntil([&] { return Coloured().startsWith("La"); }, 2000));
  EXPECT_TRUE(HasChord(ListenForChord()));
  ASSERT_TRUE(WaitUntil([&] { return Coloured() == "Lala\nlala"; }, 2000));

  main_->BtnStop->click();
  event_wait::Pump(300);
  EXPECT_LT(monitor_recorder::Rms(Listen(200).left), 0.001) << "silent 300 ms after Stop";

  main_->PlayFile(song);
  event_wait::Pump(300);
  EXPECT_TRUE(HasChord(ListenForChord())) << "every channel still plays chords";
  EXPECT_TRUE(boxes.Boxes().isEmpty());
}

TEST_F(KaraokeSoundTest, ASongOpenedAtOnceAfterStartWaitsForTheSynthesizerAndStartsAtItsFirstNote) {
  ModalBoxWatcher boxes;
  const QString song = dir_.filePath("scale.kar");
  scale_song::Write(song.toStdString());

  // What played before has died away (a test before may have left the rig's speakers a held
  // chord); the speakers are heard from before the program starts to well after the song.
  ASSERT_LT(monitor_recorder::Rms(
                monitor_recorder::RecordUntil("speakers.monitor", monitor_recorder::kRate / 2,
                                              std::chrono::seconds(10),
                                              [](const monitor_recorder::Recording& quiet) {
                                                return monitor_recorder::Rms(quiet.left) < 0.0005;
                                              })
                    .left),
            0.0005);
  monitor_recorder::Recording heard;
  std::string failure;
  std::atomic<bool> listened{false};
  std::atomic<bool> flowing{false};
  const std::jthread listening([&] {
    failure = monitor_recorder::Record("speakers.monitor", std::size_t(monitor_recorder::kRate) * 8,
                                       std::chrono::seconds(15), &heard, &flowing);
    listened = true;
  });
  // A loaded machine may take a second to start the recording.
  ASSERT_TRUE(WaitUntil([&] { return flowing || listened; }, 10000));
  // The SoundFont the program picks by itself, the fullest installed, which takes longest to
  // read.
  const QByteArray small = qgetenv("SONARELLE_SOUNDFONT");
  qunsetenv("SONARELLE_SOUNDFONT");
  Start();
  // Opened before the window's event loop ever ran: nothing had opened the synthesizer yet.
  main_->PlayFile(song);
  qputenv("SONARELLE_SOUNDFONT", small);
  TFrmMidiPlayer* lyrics = windows_->FrmMidiPlayer.get();
  EXPECT_TRUE(lyrics->DeviceOpen);
  EXPECT_TRUE(main_->FKaraokeWaiting) << "the song did not wait for the SoundFont";
  EXPECT_TRUE(lyrics->Label2->isVisible());
  EXPECT_EQ(lyrics->Label2->text(), TFrmMidiPlayer::kWaitingForDevice);
  EXPECT_EQ(lyrics->suiComboBox1->itemText(0), "Sonarelle GM Synthesizer");
  EXPECT_EQ(lyrics->suiComboBox1->currentIndex(), 0);

  // The window goes on with its events while the synthesizer reads its SoundFont.
  int ticks = 0;
  QTimer ticking;
  QObject::connect(&ticking, &QTimer::timeout, [&] { ticks += main_->FKaraokeWaiting ? 1 : 0; });
  ticking.start(20);
  ASSERT_TRUE(WaitUntil([&] { return !main_->FKaraokeWaiting; }, 15000));
  EXPECT_GE(ticks, 3) << "the window stood still while the song waited";
  EXPECT_FALSE(lyrics->Label2->isVisible());
  EXPECT_TRUE(lyrics->MidiOutput1->Ready());
  EXPECT_TRUE(WaitUntil([&] { return Coloured() == "Do"; }, 2000))
      << "the first syllable did not come alone: " << Coloured().toStdString();
  // The song plays on while the listener finishes.
  ASSERT_TRUE(WaitUntil([&] { return listened.load(); }, 15000));
  ASSERT_EQ(failure, "");

  // The song starts at its first note, which lasts its half second before the second.
  EXPECT_EQ(scale_song::StartsAtItsFirstNote(heard.left, monitor_recorder::kRate), "");
  EXPECT_TRUE(boxes.Boxes().isEmpty());
}

TEST_F(KaraokeSoundTest, ASongWhoseInstrumentsTakeLongToReadStillStartsAtItsFirstNote) {
  ModalBoxWatcher boxes;
  const QString song = dir_.filePath("scale.kar");
  scale_song::Write(song.toStdString());
  // The fullest SoundFont, whose strings take near a second to read.
  const QByteArray small = qgetenv("SONARELLE_SOUNDFONT");
  qunsetenv("SONARELLE_SOUNDFONT");
  Start();
  const TFrmMidiPlayer* lyrics = windows_->FrmMidiPlayer.get();
  const bool ready = WaitUntil(
      [&] { return lyrics->MidiOutput1 != nullptr && lyrics->MidiOutput1->Ready(); }, 15000);
  qputenv("SONARELLE_SOUNDFONT", small);
  ASSERT_TRUE(ready);
  monitor_recorder::Recording heard;
  std::string failure;
  std::atomic<bool> listened{false};
  std::atomic<bool> flowing{false};
  const std::jthread listening([&] {
    failure = monitor_recorder::Record("speakers.monitor", std::size_t(monitor_recorder::kRate) * 4,
                                       std::chrono::seconds(10), &heard, &flowing);
    listened = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return flowing || listened; }, 10000));
  main_->PlayFile(song);
  ASSERT_TRUE(WaitUntil([&] { return listened.load(); }, 12000));
  ASSERT_EQ(failure, "");
  EXPECT_EQ(scale_song::StartsAtItsFirstNote(heard.left, monitor_recorder::kRate), "");
  EXPECT_TRUE(boxes.Boxes().isEmpty());
}

TEST_F(KaraokeSoundTest, EverySongStartsFromACleanSynthesizerWhateverTheSongBeforeChose) {
  ModalBoxWatcher boxes;
  Start();
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmMidiPlayer->DeviceOpen; }, 5000));
  smf::Track texts;
  texts.Text(0, "\\Do");
  // C5 on the first channel, which chooses nothing: the piano every synthesizer starts on.
  smf::Track piano;
  piano.Event(0, {0x90, 72, 110}).Event(384, {0x80, 72, 0});
  const QString pianoSong = Song("piano.kar", {smf::Track().Tempo(0, 500000), piano.End(), texts});
  // What the note's first harmonics weigh, from a quarter to three quarters of a second after
  // it is first heard, in one recording that runs from before the song.
  const auto playPiano = [&] {
    monitor_recorder::Recording heard;
    std::atomic<bool> flowing{false};
    std::jthread listening([&] {
      EXPECT_EQ(monitor_recorder::Record("speakers.monitor", monitor_recorder::kRate * 5,
                                         std::chrono::seconds(10), &heard, &flowing),
                "");
    });
    EXPECT_TRUE(WaitUntil([&] { return flowing.load(); }, 10000));
    main_->PlayFile(pianoSong);
    // The note is on once the clock handed out the syllable beside it.
    EXPECT_TRUE(WaitUntil([&] { return Coloured() == "Do"; }, 3000));
    listening.join();
    main_->BtnStop->click();
    const std::size_t onset = scale_song::FirstLastingSound(heard.left, monitor_recorder::kRate);
    const std::vector<double> held =
        scale_song::Span(heard.left, monitor_recorder::kRate, onset, 250, 750);
    std::vector<double> harmonics;
    double sum = 0;
    for (int k = 1; k <= 6; ++k) {
      harmonics.push_back(BandPower(held, monitor_recorder::kRate, k * scale_song::Hz(72)));
      sum += harmonics.back();
    }
    for (double& h : harmonics) h /= std::max(sum, 1e-12);
    return std::pair(NoteSounds(held, monitor_recorder::kRate, scale_song::Hz(72)), harmonics);
  };
  const auto [freshC5, fresh] = playPiano();
  ASSERT_TRUE(freshC5);

  // A song of other sounds: a variation bank and a sound effect, the channel tuned an octave
  // up, its bend range widened, and the wheel left raised when it ends.
  smf::Track sounds;
  sounds.Event(0, {0xB0, 0, 1}).Event(0, {0xB0, 32, 0}).Event(0, {0xC0, 123});
  sounds.Event(0, {0xB0, 101, 0}).Event(0, {0xB0, 100, 2}).Event(0, {0xB0, 6, 76});
  sounds.Event(0, {0xB0, 101, 0}).Event(0, {0xB0, 100, 0}).Event(0, {0xB0, 6, 12});
  sounds.Event(0, {0xE0, 0x7F, 0x7F}).Event(0, {0x90, 60, 100}).Event(48, {0x80, 60, 0});
  main_->PlayFile(Song("sounds.kar", {smf::Track().Tempo(0, 500000), sounds.End(), texts}));
  ASSERT_TRUE(WaitUntil([&] { return Coloured() == "Do"; }, 3000));
  event_wait::Pump(400);
  main_->BtnStop->click();

  const auto [againC5, again] = playPiano();
  EXPECT_TRUE(againC5) << "the piano song does not sound C5";
  double apart = 0;
  for (std::size_t k = 0; k < fresh.size(); ++k) apart += std::abs(fresh[k] - again[k]);
  EXPECT_LT(apart, 0.3) << "the piano song does not sound as on a fresh synthesizer";
  EXPECT_TRUE(boxes.Boxes().isEmpty());
}

}  // namespace
}  // namespace sonarelle
