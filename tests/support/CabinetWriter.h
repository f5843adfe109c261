#pragma once

// A minimal cabinet writer for tests that need entry names no archiver would store: one
// folder, no compression ("none"), CFDATA blocks with a zero checksum (which means "none").

#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QtEndian>

struct CabinetEntry {
  QByteArray name;  // stored as is, NUL-terminated
  QByteArray data;
  QDateTime time;  // stored as local DOS date and time
  quint16 attribs = 0x20;
};

inline QByteArray MakeCabinet(const std::vector<CabinetEntry>& entries) {
  auto u16 = [](QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
  };
  auto u32 = [](QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
  };

  QByteArray files;
  QByteArray folderData;
  for (const CabinetEntry& e : entries) {
    const QDate d = e.time.date();
    const QTime t = e.time.time();
    u32(files, static_cast<quint32>(e.data.size()));
    u32(files, static_cast<quint32>(folderData.size()));  // offset in the folder
    u16(files, 0);                                        // folder index
    u16(files, static_cast<quint16>(((d.year() - 1980) << 9) | (d.month() << 5) | d.day()));
    u16(files, static_cast<quint16>((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2)));
    u16(files, e.attribs);
    files.append(e.name).append('\0');
    folderData.append(e.data);
  }

  constexpr int kHeader = 36;
  constexpr int kFolder = 8;
  constexpr int kBlock = 32768;
  QByteArray blocks;
  int blockCount = 0;
  for (qsizetype pos = 0; pos < folderData.size() || blockCount == 0; pos += kBlock) {
    const QByteArray chunk = folderData.mid(pos, kBlock);
    u32(blocks, 0);  // no checksum
    u16(blocks, static_cast<quint16>(chunk.size()));
    u16(blocks, static_cast<quint16>(chunk.size()));
    blocks.append(chunk);
    ++blockCount;
  }

  const quint32 filesAt = kHeader + kFolder;
  const quint32 dataAt = filesAt + files.size();
  QByteArray cab("MSCF", 4);
  u32(cab, 0);
  u32(cab, dataAt + blocks.size());  // cabinet size
  u32(cab, 0);
  u32(cab, filesAt);
  u32(cab, 0);
  cab.append(char(3)).append(char(1));  // version 1.3
  u16(cab, 1);                          // folders
  u16(cab, static_cast<quint16>(entries.size()));
  u16(cab, 0);                                 // flags
  u16(cab, 0x1234);                            // set id
  u16(cab, 0);                                 // index in the set
  u32(cab, dataAt);                            // the folder: its first block,
  u16(cab, static_cast<quint16>(blockCount));  // the number of blocks,
  u16(cab, 0);                                 // no compression
  cab.append(files).append(blocks);
  return cab;
}
