#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "midi/SmfWriter.h"
#include "support/Tone.h"

// A KAR song of three notes on a recorder, C5, E5 and G5, half a second each under a syllable
// each, and the check that what the speakers played starts with it: a song whose start is
// lost begins with a later note or a first note cut short. Its second channel plays the
// strings, the instrument whose samples take longest to read, softly after the scale: a song
// chooses all its instruments before its first notes.
namespace scale_song {

inline constexpr int kNotes[] = {72, 76, 79};
inline constexpr const char* kSyllables[] = {"\\Do", "Mi", "Sol"};

inline void Write(const std::string& path) {
  // 96 ticks a quarter at 120 bpm: a note every 96 ticks is one every half second.
  smf::Track music;
  smf::Track texts;
  music.Event(0, {0xC1, 48}).Event(0, {0xC0, 74});
  for (std::size_t i = 0; i < 3; ++i) {
    music.Event(0, {0x90, kNotes[i], 110}).Event(96, {0x80, kNotes[i], 0});
    texts.Text(i == 0 ? 0 : 96, kSyllables[i]);
  }
  music.Event(96, {0x91, 48, 20}).Event(96, {0x81, 48, 0});
  smf::Write(path,
             smf::Song(1, 96, {smf::Track().Tempo(0, 500000).End(), music.End(), texts.End()}));
}

inline double Hz(int key) {
  return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

// The samples from `fromMs` to `toMs` after sample `start`.
inline std::vector<double> Span(const std::vector<double>& samples, double rate, std::size_t start,
                                int fromMs, int toMs) {
  const auto at = [&](int ms) {
    return std::min(samples.size(), start + std::size_t(rate * ms / 1000));
  };
  return {samples.begin() + std::ptrdiff_t(at(fromMs)), samples.begin() + std::ptrdiff_t(at(toMs))};
}

// The sample where the first sound lasting a fifth of a second begins, in blocks of 10 ms
// louder than the silence of the rig's speakers (what a stream closed before may leave is
// shorter); the size of `samples` when there is none.
inline std::size_t FirstLastingSound(const std::vector<double>& samples, double rate) {
  const auto block = std::size_t(rate / 100);
  const auto loud = [&](std::size_t at) {
    double square = 0;
    for (std::size_t i = at; i < at + block; ++i) square += samples[i] * samples[i];
    return std::sqrt(square / double(block)) > 0.005;
  };
  std::size_t onset = 0;
  for (std::size_t lasting = 0;; onset += block) {
    if (onset + block > samples.size()) return samples.size();
    lasting = loud(onset) ? lasting + 1 : 0;
    if (lasting == 20) return onset - 19 * block;
  }
}

// Empty when the first sound of `samples` is C5 held for most of its half second and E5
// follows; else what was heard.
inline std::string StartsAtItsFirstNote(const std::vector<double>& samples, double rate) {
  const std::size_t onset = FirstLastingSound(samples, rate);
  if (onset == samples.size()) return "the song was never heard";
  const std::vector<double> first = Span(samples, rate, onset, 30, 400);
  // What sounded in each tenth of a second from the first sound on, for the failures.
  std::string when = " (first heard " + std::to_string(int(double(onset) * 1000 / rate)) +
                     " ms in; then, a tenth of a second each:";
  for (int ms = 0; ms < 2000; ms += 100) {
    const std::vector<double> tenth = Span(samples, rate, onset, ms, ms + 100);
    std::string notes;
    for (std::size_t i = 0; i < 3; ++i) {
      if (NoteSounds(tenth, rate, Hz(kNotes[i]))) notes += "CEG"[i];
    }
    when += " " + (notes.empty() ? std::string("-") : notes);
  }
  when += ")";
  if (!NoteSounds(first, rate, Hz(kNotes[0])))
    return "the first note, C5, is not heard first" + when;
  if (NoteSounds(first, rate, Hz(kNotes[1]))) return "the second note, E5, came too soon" + when;
  if (!NoteSounds(Span(samples, rate, onset, 600, 900), rate, Hz(kNotes[1]))) {
    return "the second note, E5, does not follow the first" + when;
  }
  return {};
}

}  // namespace scale_song
