#pragma once

#include <cstdint>

#include <QString>

namespace sonarelle {

// Free bytes for an ordinary user on the file system holding `directory`; 0 when the query
// fails.
using FreeSpaceQuery = std::uint64_t (*)(const QString& directory);

// The statvfs query that EnoughDiskSpace uses unless a test replaced it.
std::uint64_t QueryFreeSpace(const QString& directory);

// Replaces the free-space query (nullptr restores QueryFreeSpace) and returns the previous
// one. For tests of the full-disk rules, which a real disk cannot show on demand.
FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query);

// True when the file system of the file's directory has at least `bytes` free, compared as
// 64-bit values; a failed query counts as no space at all.
bool EnoughDiskSpace(const QString& fileName, std::int64_t bytes);

}  // namespace sonarelle
