#include "platform/IniText.h"

namespace sonarelle::IniText {

TLines SplitLines(const QByteArray& data) {
  TLines parsed;
  qsizetype pos = 0;
  if (data.startsWith("\xEF\xBB\xBF")) {
    parsed.bom = data.left(3);
    pos = 3;
  }
  while (pos < data.size()) {
    qsizetype nl = data.indexOf('\n', pos);
    TLine line;
    if (nl < 0) {
      line.text = data.mid(pos);
      pos = data.size();
    } else {
      line.text = data.mid(pos, nl - pos);
      line.eol = "\n";
      if (line.text.endsWith('\r')) {
        line.text.chop(1);
        line.eol = "\r\n";
      }
      pos = nl + 1;
    }
    parsed.lines.push_back(std::move(line));
  }
  return parsed;
}

bool SameName(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

std::optional<QString> SectionName(const QByteArray& line) {
  QByteArray t = line.trimmed();
  if (!t.startsWith('[')) return std::nullopt;
  qsizetype close = t.indexOf(']');
  QByteArray name = close < 0 ? t.mid(1) : t.mid(1, close - 1);
  return QString::fromUtf8(name.trimmed());
}

std::optional<QString> KeyName(const QByteArray& line) {
  QByteArray t = line.trimmed();
  if (t.isEmpty() || t.startsWith(';')) return std::nullopt;
  qsizetype eq = t.indexOf('=');
  if (eq < 0) return std::nullopt;
  return QString::fromUtf8(t.left(eq).trimmed());
}

QString ValueOf(const QByteArray& line) {
  QByteArray v = line.mid(line.indexOf('=') + 1).trimmed();
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.mid(1, v.size() - 2);
  }
  return QString::fromUtf8(v);
}

}  // namespace sonarelle::IniText
