#pragma once

// Sections, keys and defaults of config.ini. Readers take the default when a key is missing.
namespace sonarelle::ConfigKeys {

inline constexpr const char* kConfigFileName = "config.ini";

inline constexpr const char* kRecorderSection = "recorder_setting";
inline constexpr const char* kSampleRate = "samplerate";
inline constexpr int kSampleRateDefault = 44100;
inline constexpr const char* kSampleBit = "samplebit";
inline constexpr int kSampleBitDefault = 16;
inline constexpr const char* kChannels = "channels";
inline constexpr int kChannelsDefault = 2;
inline constexpr const char* kNumBuffers = "numbuffers";
inline constexpr int kNumBuffersDefault = 20;
inline constexpr const char* kBufferSize = "buffersize";
inline constexpr int kBufferSizeDefault = 4096;
// The "Voice and accompaniment" source: the accompaniment's level in percent, and the
// milliseconds added to the delay the sound server reports (per machine).
inline constexpr const char* kMixLevel = "mixlevel";
inline constexpr int kMixLevelDefault = 100;
inline constexpr const char* kMixOffset = "mixoffset";
inline constexpr int kMixOffsetDefault = 0;

inline constexpr const char* kMp3InfoSection = "mp3_info";
inline constexpr const char* kTitle = "title";
inline constexpr const char* kArtist = "artist";
inline constexpr const char* kAlbum = "album";
inline constexpr const char* kYear = "year";
inline constexpr const char* kComment = "comment";

inline constexpr const char* kSkinSection = "skin";
inline constexpr const char* kSkin = "skin";
inline constexpr int kSkinDefault = 1;

// KAR songs: the encoding of karaoke texts that are not UTF-8.
inline constexpr const char* kMidiSection = "midi";
inline constexpr const char* kMidiEncoding = "encoding";
inline constexpr const char* kMidiEncodingDefault = "Windows-1252";

// The folder of the accompaniment opened last, where the open dialog starts.
inline constexpr const char* kOpenSection = "open";
inline constexpr const char* kSongFolder = "songfolder";

inline constexpr const char* kProxySection = "proxy";
inline constexpr const char* kIsProxy = "isProxy";
inline constexpr const char* kProxy = "proxy";
inline constexpr const char* kProxyUserId = "proxyUserID";
inline constexpr const char* kProxyPassword = "proxyPassword";

}  // namespace sonarelle::ConfigKeys
