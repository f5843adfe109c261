#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

// Builds Standard MIDI Files byte by byte for the tests.
namespace smf {

inline std::string Vlq(std::uint32_t value) {
  std::string bytes(1, char(value & 0x7F));
  while (value >>= 7) bytes.insert(bytes.begin(), char(0x80 | (value & 0x7F)));
  return bytes;
}

inline std::string BigEndian(std::uint32_t value, int count) {
  std::string bytes;
  for (int i = count - 1; i >= 0; --i) bytes += char((value >> (8 * i)) & 0xFF);
  return bytes;
}

inline std::string Chunk(const std::string& type, const std::string& body) {
  return type + BigEndian(std::uint32_t(body.size()), 4) + body;
}

inline std::string Header(int format, int tracks, int division) {
  return Chunk("MThd", BigEndian(format, 2) + BigEndian(tracks, 2) + BigEndian(division, 2));
}

// A track's events, appended one after the other.
struct Track {
  std::string bytes;

  Track& Raw(std::initializer_list<int> values) {
    for (int v : values) bytes += char(v);
    return *this;
  }
  Track& Event(std::uint32_t delta, std::initializer_list<int> message) {
    bytes += Vlq(delta);
    return Raw(message);
  }
  Track& Meta(std::uint32_t delta, int type, const std::string& data) {
    bytes += Vlq(delta) + char(0xFF) + char(type) + Vlq(std::uint32_t(data.size())) + data;
    return *this;
  }
  Track& Text(std::uint32_t delta, const std::string& text) { return Meta(delta, 1, text); }
  Track& Tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
    return Meta(delta, 0x51, BigEndian(usPerQuarter, 3));
  }
  Track& End() { return Meta(0, 0x2F, ""); }
  std::string Chunk() const { return smf::Chunk("MTrk", bytes); }
};

inline std::string Song(int format, int division, const std::vector<Track>& tracks) {
  std::string bytes = Header(format, int(tracks.size()), division);
  for (const Track& track : tracks) bytes += track.Chunk();
  return bytes;
}

inline void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace smf
