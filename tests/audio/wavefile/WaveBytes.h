#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QString>

#include "audio/chain/WaveFormat.h"

// Builds RIFF files byte by byte, so tests can say exactly what a file holds.
namespace wavebytes {

inline QByteArray U16(std::uint32_t v) {
  QByteArray b(2, '\0');
  b[0] = static_cast<char>(v & 0xFF);
  b[1] = static_cast<char>((v >> 8) & 0xFF);
  return b;
}

inline QByteArray U32(std::uint32_t v) {
  QByteArray b(4, '\0');
  for (int i = 0; i < 4; ++i) {
    b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  return b;
}

inline std::uint32_t ReadU32(const QByteArray& b, qsizetype at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  }
  return v;
}

inline std::uint16_t ReadU16(const QByteArray& b, qsizetype at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}

// A chunk with the size its body has, or `declared` when given; odd bodies get a pad byte.
inline QByteArray Chunk(const char* id, const QByteArray& body, std::int64_t declared = -1) {
  const auto size = static_cast<std::uint32_t>(declared >= 0 ? declared : body.size());
  QByteArray b = QByteArray(id, 4) + U32(size) + body;
  if (body.size() % 2 != 0) {
    b += '\0';
  }
  return b;
}

inline QByteArray Fmt(const sonarelle::WAVEFORMATEX& f, int bytes = 18) {
  QByteArray body = U16(f.wFormatTag) + U16(f.nChannels) + U32(f.nSamplesPerSec) +
                    U32(f.nAvgBytesPerSec) + U16(f.nBlockAlign) + U16(f.wBitsPerSample) +
                    U16(f.cbSize);
  return Chunk("fmt ", body.left(bytes));
}

// "RIFF" around the chunks, with the true size unless `declared` is given.
inline QByteArray Riff(const QByteArray& chunks, std::int64_t declared = -1) {
  const auto size = static_cast<std::uint32_t>(declared >= 0 ? declared : chunks.size() + 4);
  return QByteArray("RIFF") + U32(size) + QByteArray("WAVE") + chunks;
}

inline QByteArray Ramp(qsizetype n, int seed = 0) {
  QByteArray b(n, '\0');
  for (qsizetype i = 0; i < n; ++i) {
    b[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  }
  return b;
}

inline bool Put(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray Get(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Killed takes (sizes 0, an odd tail) whose PCM header fields are each in range but which no
// reader can play: a block of 0xFFFF channels past 16 bits, a byte rate of 4 billion frames
// a second past 32, and no bits per sample.
inline std::vector<QByteArray> UnplayableTakes() {
  const sonarelle::WAVEFORMATEX base = sonarelle::MakePCMFormat(16, 2, 44100);
  sonarelle::WAVEFORMATEX wideBlock = base;
  wideBlock.nChannels = 0xFFFF;
  sonarelle::WAVEFORMATEX fastRate = base;
  fastRate.nSamplesPerSec = 0xFFFFFFFFU;
  sonarelle::WAVEFORMATEX noBits = base;
  noBits.wBitsPerSample = 0;
  std::vector<QByteArray> takes;
  int seed = 0;
  for (const auto& format : {wideBlock, fastRate, noBits}) {
    takes.push_back(Riff(Fmt(format) + Chunk("data", Ramp(1001, ++seed), 0), 0));
  }
  return takes;
}

}  // namespace wavebytes
