#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

// The line parser of INI files with the profile semantics, shared by the profile functions
// and the other INI readers (the update control file), so that both read a file alike.
namespace sonarelle::IniText {

struct TLine {
  QByteArray text;  // without its line ending
  QByteArray eol;   // "\n", "\r\n" or empty for a last line without one
};

struct TLines {
  std::vector<TLine> lines;
  QByteArray bom;  // a UTF-8 byte order mark the file began with, kept for rewriting
};

// Splits UTF-8 `data` into lines, keeping each line's ending.
TLines SplitLines(const QByteArray& data);

// The section a header line opens, or nothing when the line is not a header.
std::optional<QString> SectionName(const QByteArray& line);

// The key of a "key=value" line, or nothing for blank, comment and other lines.
std::optional<QString> KeyName(const QByteArray& line);

// The value of a "key=value" line: trimmed, with one pair of enclosing quotes removed.
QString ValueOf(const QByteArray& line);

// Section and key names are compared without regard to case.
bool SameName(const QString& a, const QString& b);

}  // namespace sonarelle::IniText
