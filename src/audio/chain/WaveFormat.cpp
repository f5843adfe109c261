#include "audio/chain/WaveFormat.h"

#include <cstring>
#include <limits>

#include "audio/chain/MMAllocator.h"

namespace sonarelle {

void FormatDeleter::operator()(WAVEFORMATEX* format) const noexcept {
  void* block = format;
  GlobalFreeMem(block);
}

std::size_t FormatSize(const WAVEFORMATEX* format) {
  if (format == nullptr) return 0;
  if (format->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + format->cbSize;
}

FormatPtr CopyFormat(const WAVEFORMATEX* format) {
  const std::size_t size = FormatSize(format);
  if (size == 0) return {};
  FormatPtr copy(static_cast<WAVEFORMATEX*>(GlobalAllocMem(size)));
  std::memcpy(copy.get(), format, size);
  if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
  return copy;
}

FormatPtr AllocFormat(std::size_t size) {
  if (size < sizeof(WAVEFORMATEX)) size = sizeof(WAVEFORMATEX);
  return FormatPtr(static_cast<WAVEFORMATEX*>(GlobalAllocMem(size)));
}

WAVEFORMATEX MakePCMFormat(int bits, int channels, int rate) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<std::uint16_t>(channels);
  format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  format.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  format.nAvgBytesPerSec = static_cast<std::uint32_t>(format.nBlockAlign) * format.nSamplesPerSec;
  format.wBitsPerSample = static_cast<std::uint16_t>(bits);
  format.cbSize = 0;
  return format;
}

std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  const __int128 product = static_cast<__int128>(a) * b;
  const __int128 quotient = product / c;
  const __int128 remainder = product % c;
  // |2 * remainder| < 2 * |c|, so this adds -1, 0 or 1: halves go away from zero.
  const __int128 result = quotient + (2 * remainder) / c;
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  if (result > kMax) return kMax;
  if (result < kMin) return kMin;
  return static_cast<std::int64_t>(result);
}

namespace {

// Rounds toward plus infinity to a multiple of the block size.
std::int64_t RoundUpToBlock(std::int64_t bytes, std::int64_t block) {
  if (block <= 0) return bytes;
  const std::int64_t rest = bytes % block;
  if (rest == 0) return bytes;
  if (rest < 0) return bytes - rest;
  // A saturated count has no room above it; it stays rounded down.
  if (bytes > std::numeric_limits<std::int64_t>::max() - (block - rest)) return bytes - rest;
  return bytes + (block - rest);
}

}  // namespace

std::int64_t BytesToSamples(const WAVEFORMATEX* format, std::int64_t bytes) {
  if (format == nullptr) return 0;
  return MulDivRound(bytes, format->nSamplesPerSec, format->nAvgBytesPerSec);
}

std::int64_t BytesToMs(const WAVEFORMATEX* format, std::int64_t bytes) {
  if (format == nullptr) return 0;
  return MulDivRound(bytes, 1000, format->nAvgBytesPerSec);
}

std::int64_t SamplesToBytes(const WAVEFORMATEX* format, std::int64_t samples) {
  if (format == nullptr) return 0;
  return RoundUpToBlock(MulDivRound(samples, format->nAvgBytesPerSec, format->nSamplesPerSec),
                        format->nBlockAlign);
}

std::int64_t SamplesToMs(const WAVEFORMATEX* format, std::int64_t samples) {
  if (format == nullptr) return 0;
  return MulDivRound(samples, 1000, format->nSamplesPerSec);
}

std::int64_t MsToSamples(const WAVEFORMATEX* format, std::int64_t ms) {
  if (format == nullptr) return 0;
  return MulDivRound(ms, format->nSamplesPerSec, 1000);
}

std::int64_t MsToBytes(const WAVEFORMATEX* format, std::int64_t ms) {
  if (format == nullptr) return 0;
  return RoundUpToBlock(MulDivRound(ms, format->nAvgBytesPerSec, 1000), format->nBlockAlign);
}

}  // namespace sonarelle
