#pragma once

#include <cstdint>
#include <memory>

#include <QString>

namespace sonarelle {

#pragma pack(push, 1)
// The stream configuration an encoder hands to beInitStream: packed, little-endian, 27
// bytes. Flags are -1 for true and 0 for false.
struct BE_CONFIG {
  std::uint32_t dwConfig;      // record kind, 0
  std::uint32_t dwSampleRate;  // 32000, 44100 or 48000
  std::uint8_t byMode;         // BE_MP3_MODE_*
  std::uint16_t wBitrate;      // kbit/s
  std::int32_t bPrivate;
  std::int32_t bCRC;
  std::int32_t bCopyright;
  std::int32_t bOriginal;
};
#pragma pack(pop)

static_assert(sizeof(BE_CONFIG) == 27);

inline constexpr std::uint32_t BE_CONFIG_MP3 = 0;
inline constexpr std::uint8_t BE_MP3_MODE_STEREO = 0;
inline constexpr std::uint8_t BE_MP3_MODE_DUALCHANNEL = 2;
inline constexpr std::uint8_t BE_MP3_MODE_MONO = 3;
inline constexpr std::uint32_t BE_ERR_SUCCESSFUL = 0;

// One open encoding stream; what it holds is the binding's business.
struct Mp3Stream;
struct Mp3StreamDeleter {
  void operator()(Mp3Stream* stream) const noexcept;
};
using HBE_STREAM = std::unique_ptr<Mp3Stream, Mp3StreamDeleter>;

// Where the missing-library message sends the user.
inline constexpr const char* kMp3EncoderDownloadLocation =
    "https://packages.debian.org/bookworm/libmp3lame0";

// Loads the encoder library by name unless it is loaded already; false when it cannot be
// loaded or lacks a function the four operations need. Thread-safe; the library stays
// loaded until the program ends or the name changes.
bool LoadMp3EncoderLibrary();
// The file name that LoadMp3EncoderLibrary opens.
QString Mp3EncoderLibraryName();
// Changes that name and drops the loaded library, so that the next load tries the new
// name. For tests; no stream may be open.
void SetMp3EncoderLibraryName(const QString& name);

// The four operations, valid once the library is loaded. Results are BE_ERR_SUCCESSFUL or
// an error number. `samples` counts 16-bit samples over all channels; `bufferSize` bounds
// every output of the stream.
std::uint32_t beInitStream(const BE_CONFIG& config, std::uint32_t& samples,
                           std::uint32_t& bufferSize, HBE_STREAM& stream);
std::uint32_t beEncodeChunk(Mp3Stream* stream, std::uint32_t samples, const std::int16_t* pcm,
                            std::uint8_t* output, std::uint32_t& outputBytes);
std::uint32_t beDeinitStream(Mp3Stream* stream, std::uint8_t* output, std::uint32_t& outputBytes);
// Frees the stream and forgets the handle.
std::uint32_t beCloseStream(HBE_STREAM& stream);

}  // namespace sonarelle
