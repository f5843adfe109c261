#include "platform/FileVersion.h"

#include <optional>

#include <QByteArray>
#include <QFile>

namespace sonarelle {

namespace {

// The marker of FileVersionRecord.cpp.in, put together at run time so that this reader's
// own executable does not hold it as one text.
QByteArray Marker() {
  return QByteArray("\x01Sonarelle") + QByteArray("FileVersion:");
}

// The longest version text after the marker: four parts of five digits, three dots, the end.
constexpr qsizetype kMaxTail = 4 * 5 + 3 + 1;
constexpr qint64 kBlock = 1 << 20;

// Four decimal parts of at most 16 bits, joined by "." and ended by a zero byte.
std::optional<std::pair<qint32, qint32>> ParseTail(const char* text, qsizetype size) {
  quint32 parts[4] = {0, 0, 0, 0};
  qsizetype pos = 0;
  for (int i = 0; i < 4; ++i) {
    qsizetype start = pos;
    while (pos < size && text[pos] >= '0' && text[pos] <= '9' && pos - start < 5) {
      parts[i] = parts[i] * 10 + static_cast<quint32>(text[pos] - '0');
      ++pos;
    }
    if (pos == start || parts[i] > 0xFFFF || pos >= size) return std::nullopt;
    if (text[pos] != (i < 3 ? '.' : '\0')) return std::nullopt;
    ++pos;
  }
  return std::make_pair(static_cast<qint32>(parts[0] << 16 | parts[1]),
                        static_cast<qint32>(parts[2] << 16 | parts[3]));
}

}  // namespace

bool ReadFileVersion(const QString& path, qint32* high, qint32* low) {
  *high = -1;
  *low = -1;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray marker = Marker();
  // Each read takes a block and the overlap after it, so a record that starts in the block
  // is whole in the buffer even when it straddles into the next block.
  const qint64 overlap = marker.size() + kMaxTail;
  QByteArray buffer;
  for (qint64 offset = 0;; offset += kBlock) {
    if (!file.seek(offset)) return false;
    buffer = file.read(kBlock + overlap);
    if (buffer.isEmpty()) return false;
    // The last buffer has no next one to leave its overlap to.
    const bool last = buffer.size() < kBlock + overlap;
    for (qsizetype hit = buffer.indexOf(marker); hit >= 0 && (hit < kBlock || last);
         hit = buffer.indexOf(marker, hit + 1)) {
      qsizetype tail = hit + marker.size();
      if (auto version = ParseTail(buffer.constData() + tail, buffer.size() - tail)) {
        *high = version->first;
        *low = version->second;
        return true;
      }
    }
    if (last) return false;
  }
}

}  // namespace sonarelle
