#include "midi/KaraokeLyrics.h"

#include <algorithm>
#include <vector>

#include "midi/MidiFile.h"

namespace sonarelle {

namespace {

constexpr QChar kParagraph = QLatin1Char('\\');
constexpr QChar kLine = QLatin1Char('/');

// The song's meta texts of `type`, in the order the clock hands them out.
std::vector<TMidiEvent*> TextsOfType(const TMidiFile& song, std::uint8_t type) {
  std::vector<TMidiEvent*> texts;
  for (const auto& track : song.Tracks()) {
    for (TMidiEvent& event : track->Events) {
      if (event.status == 0xFF && event.data1 == type) texts.push_back(&event);
    }
  }
  std::stable_sort(texts.begin(), texts.end(),
                   [](const TMidiEvent* a, const TMidiEvent* b) { return a->tick < b->tick; });
  return texts;
}

bool IsHeader(const QString& text) {
  return text.startsWith(QLatin1Char('@'));
}

// Lyric events end a line with CR and a paragraph with LF, at either end of a syllable: the
// ends become the karaoke texts' markers at the start of the syllable that follows, and the
// first syllable starts a paragraph. True when a paragraph starts after the first.
bool MarkLyricEvents(const std::vector<TMidiEvent*>& lyrics) {
  const auto isEnd = [](QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n'); };
  bool paragraphs = false;
  QChar pending = kParagraph;
  for (TMidiEvent* event : lyrics) {
    QString& text = event->text;
    const auto take = [&](qsizetype at) {
      pending = text[at] == QLatin1Char('\n') || pending == kParagraph ? kParagraph : kLine;
      text.remove(at, 1);
    };
    while (!text.isEmpty() && isEnd(text.front())) take(0);
    const bool marked = text.startsWith(kParagraph) || text.startsWith(kLine);
    if (!marked && !pending.isNull()) text.prepend(pending);
    paragraphs = paragraphs || (event != lyrics.front() && text.contains(kParagraph));
    pending = QChar();
    while (!text.isEmpty() && isEnd(text.back())) take(text.size() - 1);
  }
  return paragraphs;
}

// A song of lines only: a paragraph at its first sung text, then after every few lines.
void MarkParagraphs(const std::vector<TMidiEvent*>& texts) {
  int lines = 0;
  for (TMidiEvent* event : texts) {
    QString& text = event->text;
    if (lines == 0) {
      if (IsHeader(text)) continue;
      if (text.startsWith(kLine)) {
        text[0] = kParagraph;
      } else if (!text.startsWith(kParagraph)) {
        text.prepend(kParagraph);
      }
      lines = 1;
      continue;
    }
    const qsizetype marker = text.indexOf(kLine);
    if (marker < 0) continue;
    if (lines++ % TKaraokeText::kLinesPerParagraph == 0) text[marker] = kParagraph;
  }
}

}  // namespace

TKaraokeText PrepareKaraokeText(TMidiFile& song) {
  TKaraokeText prepared;
  std::vector<TMidiEvent*> texts = TextsOfType(song, TKaraokeText::kKaraokeType);
  const auto holds = [](QChar marker) {
    return [marker](const TMidiEvent* e) { return e->text.contains(marker); };
  };
  const bool marked = std::any_of(texts.begin(), texts.end(), [](const TMidiEvent* e) {
    return !IsHeader(e->text) && (e->text.contains(kParagraph) || e->text.contains(kLine));
  });
  if (marked) {
    if (std::none_of(texts.begin(), texts.end(), holds(kParagraph))) MarkParagraphs(texts);
  } else if (std::vector<TMidiEvent*> lyrics = TextsOfType(song, TKaraokeText::kLyricType);
             !lyrics.empty()) {
    prepared.type = TKaraokeText::kLyricType;
    if (!MarkLyricEvents(lyrics)) MarkParagraphs(lyrics);
    texts = std::move(lyrics);
  }
  for (const TMidiEvent* event : texts) prepared.lyric += event->text;
  return prepared;
}

TKaraokeSong KaraokeSongOf(const TMidiFile& song, std::uint8_t type) {
  TKaraokeSong words;
  const TTempoMap& tempo = song.TempoMap();
  const std::vector<TMidiEvent*> texts = TextsOfType(song, type);
  // The karaoke texts' headers name the song, whichever texts it sings.
  const std::vector<TMidiEvent*> headers =
      type == TKaraokeText::kKaraokeType ? texts : TextsOfType(song, TKaraokeText::kKaraokeType);
  for (const TMidiEvent* event : headers) {
    if (event->text.contains(kParagraph)) break;
    if (event->text.startsWith(QLatin1String("@T")) && words.artist.isEmpty()) {
      (words.title.isEmpty() ? words.title : words.artist) = event->text.mid(2).trimmed();
    }
  }
  bool sung = false;
  for (const TMidiEvent* event : texts) {
    QString text = event->text;
    const qsizetype paragraph = text.indexOf(kParagraph);
    if (!sung && paragraph < 0) continue;
    sung = true;
    const qsizetype line = text.indexOf(kLine);
    if (paragraph >= 0) text.remove(paragraph, 1);
    if (line >= 0) text.remove(text.indexOf(kLine), 1);
    if (paragraph >= 0 || line >= 0 || words.lines.empty()) words.lines.emplace_back();
    if (text.isEmpty()) continue;
    const int at = int(tempo.MsAt(event->tick));
    words.lines.back().syllables.push_back({at, at, text});
  }
  // Lines without a syllable show nothing.
  std::erase_if(words.lines, [](const TKaraokeSong::Line& line) { return line.syllables.empty(); });
  TKaraokeSong::Syllable* previous = nullptr;
  for (std::size_t i = 0; i < words.lines.size(); ++i) {
    TKaraokeSong::Line& line = words.lines[i];
    for (TKaraokeSong::Syllable& syllable : line.syllables) {
      if (previous != nullptr) {
        previous->endMs = previous->startMs + std::min(syllable.startMs - previous->startMs,
                                                       TKaraokeSong::kLongestWipeMs);
      }
      previous = &syllable;
    }
    const int silence = i == 0 ? line.StartMs() : line.StartMs() - words.lines[i - 1].EndMs();
    if (i == 0 || silence > TKaraokeSong::kCountInGapMs) {
      const double first = tempo.TicksAt(line.StartMs());
      for (int beat = TKaraokeSong::kCountInBeats; beat > 0; --beat) {
        line.countIn.push_back(int(tempo.MsAt(first - double(beat) * song.TicksPerQuarter())));
      }
    }
  }
  if (previous != nullptr) previous->endMs = previous->startMs + TKaraokeSong::kLongestWipeMs;
  return words;
}

QStringList KaraokeLyricLines(const QString& lyric) {
  QStringList lines;
  const qsizetype first = lyric.indexOf(QLatin1Char('\\'));
  if (first < 0) return lines;
  // What comes before the first paragraph (titles, credits) is not sung.
  for (const QString& paragraph : lyric.mid(first + 1).split(QLatin1Char('\\'))) {
    lines += paragraph.split(QLatin1Char('/'));
    lines.append(QString());
  }
  return lines;
}

bool TLyricColouring::Advance(QString text, qsizetype lines) {
  bool firstParagraph = false;
  const qsizetype paragraph = text.indexOf(QLatin1Char('\\'));
  if (paragraph < 0 && line == -2) return false;
  if (paragraph >= 0) {
    text[paragraph] = QLatin1Char(' ');
    // The song's first paragraph has no line before it, and its space is not shown.
    firstParagraph = line == -2;
    line += 2;
    if (!firstParagraph) chars += 3;
  }
  const qsizetype next = text.indexOf(QLatin1Char('/'));
  if (next >= 0) {
    text[next] = QLatin1Char(' ');
    line += 1;
    chars += 1;
  }
  if (line < 0 || line >= lines) return false;
  chars += int(text.size()) - (firstParagraph ? 1 : 0);
  return true;
}

}  // namespace sonarelle
