// Theme files (".sui") are INI text in UTF-8, at most 64 KiB, with one section [theme]:
//
//   ; comments start with ";" or "#"
//   [theme]
//   name=Blue Storm        the look's name (optional)
//   window=#3b5f8a         frame: menu bar, panel caption bar, group box titles (required)
//   text=#ffffff           text on window (optional)
//   face=#dde6f0           bodies of windows, group boxes and panels (optional: window)
//   button=#2d4a6e         buttons, slider handles, drop-down lists (required)
//   buttontext=#ffffff     text on button (optional)
//   highlight=#9fc4ef      selections, progress, filled part of sliders (required)
//   highlighttext=#000000  text on highlight (optional)
//   radius=2               corner radius in pixels, 0 to 12 (optional, default 3)
//
// Colours are "#rgb", "#rrggbb" or an SVG colour name. Section and key names ignore case;
// other sections and keys are skipped. A file without the section or with a required colour
// missing or not a colour is damaged and loads nothing. Text colours that would not read on
// their background are replaced by black or white, and a face too dark for black text is
// lightened, so no file can make a window unreadable.

#include "skins/SuiFileTheme.h"

#include <optional>

#include <QFile>
#include <QHash>

#include "platform/IniText.h"

namespace sonarelle {

namespace {

// The keys of the [theme] section, lower-cased, with their values.
std::optional<QHash<QString, QString>> ThemeSection(const QByteArray& data) {
  QHash<QString, QString> values;
  bool inTheme = false;
  bool seen = false;
  for (const IniText::TLine& line : IniText::SplitLines(data).lines) {
    if (std::optional<QString> section = IniText::SectionName(line.text)) {
      inTheme = IniText::SameName(*section, QStringLiteral("theme"));
      seen = seen || inTheme;
      continue;
    }
    if (!inTheme) continue;
    if (std::optional<QString> key = IniText::KeyName(line.text)) {
      values.insert(key->toLower(), IniText::ValueOf(line.text));
    }
  }
  if (!seen) return std::nullopt;
  return values;
}

QColor ColorOf(const QHash<QString, QString>& values, const char* key) {
  const QString text = values.value(QString::fromLatin1(key));
  if (text.isEmpty()) return {};
  return QColor::fromString(text);
}

}  // namespace

TsuiFileTheme::TsuiFileTheme() : colors_(Readable(BuiltInLook(TsuiUIStyle::MacOS))) {}

bool TsuiFileTheme::Load(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return false;
  const QByteArray data = file.read(kMaxFileSize + 1);
  if (data.size() > kMaxFileSize || data.contains('\0')) return false;
  const std::optional<QHash<QString, QString>> values = ThemeSection(data);
  if (!values) return false;

  TSkinColors colors;
  colors.window = ColorOf(*values, "window");
  colors.button = ColorOf(*values, "button");
  colors.highlight = ColorOf(*values, "highlight");
  // Without a face of its own the body takes the frame colour, lightened for black text.
  colors.face = values->contains(QStringLiteral("face")) ? ColorOf(*values, "face") : colors.window;
  for (const QColor& required : {colors.window, colors.face, colors.button, colors.highlight}) {
    if (!required.isValid()) return false;
  }
  colors.text = ColorOf(*values, "text");
  colors.buttonText = ColorOf(*values, "buttontext");
  colors.highlightText = ColorOf(*values, "highlighttext");
  bool ok = false;
  const int radius = values->value(QStringLiteral("radius")).toInt(&ok);
  colors.radius = ok ? radius : 3;

  colors_ = Readable(colors);
  name_ = values->value(QStringLiteral("name"));
  fileName_ = path;
  return true;
}

}  // namespace sonarelle
