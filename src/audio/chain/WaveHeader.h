#pragma once

#include <cstddef>
#include <cstdint>

namespace sonarelle {

// Flag bits of dwFlags, set by a capture driver.
inline constexpr std::uint32_t WHDR_DONE = 0x00000001;
inline constexpr std::uint32_t WHDR_PREPARED = 0x00000002;
inline constexpr std::uint32_t WHDR_INQUEUE = 0x00000010;

// The header that carries one buffer of audio along a chain: the system's wave header
// followed by the seven extension words. Header and data are one zero-filled block from a
// TMMAllocator with the data right behind the header; the component that allocated it owns
// it, and no other component keeps the pointer after a call returns.
//
// Layout on a 64-bit machine (pointers and the pointer-sized words take 8 bytes):
//   0 lpData, 8 dwBufferLength, 12 dwBytesRecorded, 16 dwUser, 24 dwFlags, 28 dwLoops,
//   32 lpNext, 40 reserved | 48 dwReserved1, 52 dwReserved2, 56 SyncHeader, 64 LoopFlag,
//   68 LoopCount, 72 LoopsLeft, 76 LoopMark; 80 bytes in all, so the data behind it stays
//   16-byte aligned.
struct TWaveHdr {
  char* lpData;                   // the data, right behind the header
  std::uint32_t dwBufferLength;   // capacity in bytes
  std::uint32_t dwBytesRecorded;  // bytes a producer filled, what consumers read
  std::uintptr_t dwUser;
  std::uint32_t dwFlags;
  std::uint32_t dwLoops;
  TWaveHdr* lpNext;  // reserved for the driver
  std::uintptr_t reserved;

  std::uint32_t dwReserved1;  // unused, zero
  std::uint32_t dwReserved2;  // unused, zero
  TWaveHdr* SyncHeader;       // companion header of a synchronised connector
  std::int32_t LoopFlag;      // non-zero: a file reader wraps to the start at the end
  std::int32_t LoopCount;     // wraps wanted, 0 for endless
  std::int32_t LoopsLeft;     // wraps still allowed, counted down by the reader
  std::int32_t LoopMark;      // -1 after a reader wrapped
};

using PWaveHdr = TWaveHdr*;

static_assert(offsetof(TWaveHdr, dwBufferLength) == sizeof(void*));
static_assert(offsetof(TWaveHdr, dwReserved1) == 6 * sizeof(void*));
static_assert(sizeof(void*) != 8 || sizeof(TWaveHdr) == 80);

// Bytes of a header; its data starts this far into the block.
inline constexpr std::size_t kWaveHdrSize = sizeof(TWaveHdr);

}  // namespace sonarelle
