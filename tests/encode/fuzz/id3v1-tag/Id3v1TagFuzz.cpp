// libFuzzer target: any bytes as an MP3 file whose ID3v1 tag is read, saved and removed as
// the encoder's tag step does. A saved tag reads back as it was read, the audio before it
// never changes, and a tag added to an untagged file comes off again leaving the file as it
// was. Built and run by scripts/fuzz.sh.
#include <cstdlib>

#include "encode/MP3Info.h"
#include "support/FuzzFile.h"

using namespace sonarelle;

namespace {

bool SameTag(const TMP3Info& a, const TMP3Info& b) {
  return a.Title() == b.Title() && a.Artist() == b.Artist() && a.Album() == b.Album() &&
         a.Year() == b.Year() && a.Comment() == b.Comment() && a.GenreID() == b.GenreID() &&
         a.Genre() == b.Genre();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input = fuzz_file::Bytes(data, size);
  const QString path = fuzz_file::Put("tag.mp3", input);
  TMP3Info info;
  info.SetFilename(path);
  const bool tagged = info.Valid();
  info.Save();
  if (!info.Saved()) std::abort();
  const QByteArray saved = fuzz_file::Read(path);
  const qsizetype audio = tagged ? input.size() - TMP3Info::kTagSize : input.size();
  if (saved.size() != audio + TMP3Info::kTagSize || saved.left(audio) != input.left(audio)) {
    std::abort();
  }
  TMP3Info again;
  again.SetFilename(path);
  if (!again.Valid() || !SameTag(info, again)) std::abort();
  again.RemoveID3();
  if (fuzz_file::Read(path) != input.left(audio)) std::abort();
  return 0;
}
