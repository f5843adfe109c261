#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sonarelle {

static_assert(std::endian::native == std::endian::little,
              "the format record and the WAVE files are stored in machine order");

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
// The audio format as it travels down a chain and is stored in "fmt " chunks:
// little-endian and packed, 18 bytes, followed by cbSize bytes of extra data for non-PCM.
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nChannels) == 2);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);

using PWaveFormatEx = WAVEFORMATEX*;

// Frees a format block made by CopyFormat or AllocFormat.
struct FormatDeleter {
  void operator()(WAVEFORMATEX* format) const noexcept;
};

// An owned format copy: the block holds FormatSize() bytes (the record and any extra data)
// and is freed with the handle.
using FormatPtr = std::unique_ptr<WAVEFORMATEX, FormatDeleter>;

// Bytes the record occupies: 0 for none, 18 for PCM whatever cbSize says, else 18 + cbSize.
std::size_t FormatSize(const WAVEFORMATEX* format);

// A zero-filled, owned copy of FormatSize(format) bytes; a PCM copy gets cbSize 0. No record
// gives an empty handle. Raises std::bad_alloc when memory is exhausted.
FormatPtr CopyFormat(const WAVEFORMATEX* format);

// A zero-filled format block of `size` bytes (at least 18), for readers that fill it from a
// file. Raises std::bad_alloc when memory is exhausted.
FormatPtr AllocFormat(std::size_t size);

// A PCM record; nBlockAlign = channels * bits / 8 (integer division).
WAVEFORMATEX MakePCMFormat(int bits, int channels, int rate);

// a * b / c with a 128-bit product, rounded to the nearest integer, halves away from zero.
// A divisor of 0 gives 0; a result beyond 64 bits saturates.
std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c);

// Conversions between bytes, sample frames and milliseconds with the record's rates. The
// conversions to bytes are rounded up to whole blocks. No record gives 0.
std::int64_t BytesToSamples(const WAVEFORMATEX* format, std::int64_t bytes);
std::int64_t BytesToMs(const WAVEFORMATEX* format, std::int64_t bytes);
std::int64_t SamplesToBytes(const WAVEFORMATEX* format, std::int64_t samples);
std::int64_t SamplesToMs(const WAVEFORMATEX* format, std::int64_t samples);
std::int64_t MsToSamples(const WAVEFORMATEX* format, std::int64_t ms);
std::int64_t MsToBytes(const WAVEFORMATEX* format, std::int64_t ms);

}  // namespace sonarelle
