#pragma once

#include <QString>
#include <string>
#include <vector>

// Media files for the media tests and the media benchmark, made on the spot: tones by hand,
// MP3 and video by GStreamer's encoders in gst-launch-1.0, MIDI byte by byte.
namespace media_fixtures {

// A 16-bit 44100 Hz stereo WAV of the two channels' samples (-1 .. 1; the shorter channel is
// padded with silence).
void WriteStereoWav(const QString& path, const std::vector<double>& left,
                    const std::vector<double>& right);

// A 16-bit 44100 Hz stereo WAV of `seconds`: `leftHz` on the left channel and `rightHz` on
// the right, each at half full scale (0 Hz gives silence on that channel).
void WriteToneWav(const QString& path, double leftHz, double rightHz, double seconds);

// An MP3 (44100 Hz stereo) of a `hz` tone. Returns an empty string, or why it failed.
std::string WriteToneMp3(const QString& path, double hz, double seconds);

// An MPEG-1 program stream at 25 frames a second of the videotestsrc `pattern` ("red",
// "blue", "smpte" ...) with an MPEG audio tone of 440 Hz when `withAudio`.
// (mpegpsmux's streams read with a start offset in GStreamer 1.22; avmux_mpeg's do not.)
std::string WriteMpegVideo(const QString& path, int width, int height, const char* pattern,
                           double seconds, bool withAudio);

// A motion-JPEG AVI at 25 frames a second of the videotestsrc `pattern`.
std::string WriteAviVideo(const QString& path, int width, int height, const char* pattern,
                          double seconds);

// General MIDI programs for WriteMidi.
inline constexpr int kPiano = 0;
inline constexpr int kDrawbarOrgan = 16;

// A Standard MIDI File of one track: an A4 (440 Hz) on `program` held for `noteMs`, then
// the end of track.
void WriteMidi(const QString& path, int noteMs, int program = kPiano);

// Damages a file of WriteMidi in the middle of its track, as a bad copy might: the note's
// end becomes a tempo event whose length runs past the end of the track. The file opens and
// starts to play; the media service fails when playing reaches the damage.
void DamageMidi(const QString& path);

// A file of WriteMidi with the system status byte `status` (0xF1 .. 0xFE, none of which a
// MIDI file may hold) and one data byte in the middle of its track, as a bad copy might.
void WriteIllegalStatusMidi(const QString& path, int status, int noteMs = 800);

// A song the media service refuses as it opens and the program's own reader takes: a type-0
// file of WriteMidi whose header counts two tracks where it holds its one (the header's
// count is only a claim). `program` is its General MIDI program.
void WriteMidiWithMiscountedTracks(const QString& path, int noteMs, int program = kPiano);

// The small General MIDI sound font the tests use, so a .mid opens quickly.
inline constexpr const char* kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

}  // namespace media_fixtures
