#include "platform/IniProfile.h"

#include <optional>
#include <vector>

#include <QFile>
#include <QSaveFile>

#include "platform/IniText.h"

namespace sonarelle::IniProfile {

namespace {

using IniText::KeyName;
using IniText::SameName;
using IniText::SectionName;
using IniText::SplitLines;
using IniText::ValueOf;
using Line = IniText::TLine;
using Parsed = IniText::TLines;

// Line range [begin, end) of the body of the first section named `section`, begin being
// the header's index + 1; nothing when the section is missing.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<Line>& lines,
                                                     const QString& section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].text);
    if (!name || !SameName(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end].text)) ++end;
    return std::make_pair(i + 1, end);
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<Line>& lines, size_t begin, size_t end,
                              const QString& key) {
  for (size_t i = begin; i < end; ++i) {
    auto name = KeyName(lines[i].text);
    if (name && SameName(*name, key)) return i;
  }
  return std::nullopt;
}

}  // namespace

QString ReadString(const QString& path, const QString& section, const QString& key,
                   const QString& defaultValue) {
  QString result = defaultValue;
  QFile file(path);
  if (file.open(QIODevice::ReadOnly)) {
    Parsed parsed = SplitLines(file.readAll());
    if (auto range = FindSection(parsed.lines, section)) {
      if (auto at = FindKey(parsed.lines, range->first, range->second, key)) {
        result = ValueOf(parsed.lines[*at].text);
      }
    }
  }
  return result.left(kMaxValueLength);
}

bool WriteString(const QString& path, const QString& section, const QString& key,
                 const QString& value) {
  QByteArray data;
  QFile existing(path);
  if (existing.exists()) {
    // Rewriting a file we cannot read would lose its other lines.
    if (!existing.open(QIODevice::ReadOnly)) return false;
    data = existing.readAll();
    existing.close();
  }
  Parsed parsed = SplitLines(data);
  std::vector<Line>& lines = parsed.lines;
  QByteArray eol =
      lines.empty() || lines.front().eol.isEmpty() ? QByteArray("\n") : lines.front().eol;
  if (!lines.empty() && lines.back().eol.isEmpty()) lines.back().eol = eol;

  // A line break in a value would start a line of its own and could forge other keys.
  QString flat = value;
  flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  Line entry{key.toUtf8() + '=' + flat.toUtf8(), eol};

  if (auto range = FindSection(lines, section)) {
    if (auto at = FindKey(lines, range->first, range->second, key)) {
      entry.eol = lines[*at].eol;
      lines[*at] = entry;
    } else {
      // New keys go after the section's last non-blank line.
      size_t insertAt = range->second;
      while (insertAt > range->first && lines[insertAt - 1].text.trimmed().isEmpty()) --insertAt;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    }
  } else {
    lines.push_back(Line{'[' + section.toUtf8() + ']', eol});
    lines.push_back(entry);
  }

  QSaveFile out(path);
  // Unbuffered: a buffered write that a full disk refuses is not reported, and the commit
  // then puts an empty file in place of the old one.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
  QByteArray text = parsed.bom;
  for (const Line& line : lines) text += line.text + line.eol;
  if (out.write(text) != text.size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

}  // namespace sonarelle::IniProfile
