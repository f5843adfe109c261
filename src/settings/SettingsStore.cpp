#include "settings/SettingsStore.h"

#include <cstdint>

#include "platform/IniProfile.h"

namespace sonarelle::SettingsStore {

QString ReadText(const QString& path, const QString& section, const QString& key,
                 const QString& defaultValue) {
  return IniProfile::ReadString(path, section, key, defaultValue);
}

int TextToInteger(const QString& text, int defaultValue) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  bool hex = false;
  if (i < n && text[i] == QLatin1Char('$')) {
    hex = true;
    ++i;
  }
  if (i >= n) return defaultValue;
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  std::uint64_t value = 0;
  for (; i < n; ++i) {
    int digit = -1;
    char16_t c = text[i].unicode();
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (hex && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (hex && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    }
    if (digit < 0) return defaultValue;
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (value > limit) return defaultValue;
  }
  // Hexadecimal fills all 32 bits, so "$FFFFFFFF" is -1.
  auto bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

int ReadInteger(const QString& path, const QString& section, const QString& key, int defaultValue) {
  QString text = ReadText(path, section, key, QString());
  if (text.size() > 2 &&
      (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X")))) {
    text.replace(0, 2, QLatin1String("$"));
  }
  return TextToInteger(text, defaultValue);
}

void WriteText(const QString& path, const QString& section, const QString& key,
               const QString& value) {
  if (!IniProfile::WriteString(path, section, key, value)) {
    throw ESettingsWriteError(QStringLiteral("Unable to write to %1").arg(path));
  }
}

void WriteInteger(const QString& path, const QString& section, const QString& key, int value) {
  WriteText(path, section, key, QString::number(value));
}

}  // namespace sonarelle::SettingsStore
