// What loading a damaged or outsized MIDI file costs: for each kind of file, its size, the
// time LoadFile takes, the peak resident memory of a process that only loads it, and how the
// load ended (target: no file up to 100 MB needs more than a few hundred MB).
//
//   bench_midi_load [MB]   (default 100: the size of the large files)
//
// Each file is generated with the tests' SMF writer into the temporary folder, loaded in a
// child process of its own, and removed.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include <QDir>
#include <QFileInfo>

#include "midi/MidiFile.h"
#include "midi/SmfWriter.h"

using namespace sonarelle;

namespace {

// A header, then `count` repeats of `chunk`: written piece by piece, so that the parent
// holds no copy of a large file that its children would inherit.
void WriteRepeated(const std::string& path, const std::string& head, const std::string& chunk,
                   std::size_t count, const std::string& tail = {}) {
  std::ofstream out(path, std::ios::binary);
  out << head;
  std::string block;
  for (int i = 0; i < 4096; ++i) block += chunk;
  for (std::size_t i = 0; i < count / 4096; ++i) out << block;
  for (std::size_t i = 0; i < count % 4096; ++i) out << chunk;
  out << tail;
}

// One track chunk whose body is `count` repeats of `event`, after `first`.
void WriteTrack(const std::string& path, const std::string& first, const std::string& event,
                std::size_t count) {
  const std::size_t body = first.size() + event.size() * count;
  WriteRepeated(path,
                smf::Header(0, 1, 96) + "MTrk" + smf::BigEndian(std::uint32_t(body), 4) + first,
                event, count);
}

struct TCase {
  const char* name;
  std::function<void(const std::string& path, std::size_t bytes)> write;
};

void Measure(const TCase& c, std::size_t bytes) {
  const std::string path =
      QDir::temp().filePath(QStringLiteral("bench-midi-load.mid")).toStdString();
  c.write(path, bytes);
  const auto size = double(QFileInfo(QString::fromStdString(path)).size()) / 1e6;
  int pipes[2];
  if (pipe(pipes) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    close(pipes[0]);
    TMidiFile midi;
    midi.SetFilename(QString::fromStdString(path));
    std::string outcome;
    const auto start = std::chrono::steady_clock::now();
    try {
      midi.LoadFile();
      std::size_t events = 0;
      for (const auto& track : midi.Tracks()) events += track->Events.size();
      outcome = "loaded: " + std::to_string(midi.NumberOfTracks()) + " tracks, " +
                std::to_string(events) + " events";
    } catch (const EInOutError& error) {
      outcome = error.Message().toStdString();
      outcome = "refused: " + outcome.substr(outcome.rfind('"') + 2);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::string line = std::to_string(ms) + "\t" + outcome;
    (void)!write(pipes[1], line.data(), line.size());
    _exit(0);
  }
  close(pipes[1]);
  char text[512] = {};
  (void)!read(pipes[0], text, sizeof text - 1);
  close(pipes[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  double ms = 0;
  char outcome[480] = {};
  std::sscanf(text, "%lf\t%479[^\n]", &ms, outcome);
  const double cpu = (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                      double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
  std::printf("%-36s %6.1f MB %7.0f ms %7.0f ms %7.1f MB  %s\n", c.name, size, ms, cpu,
              double(usage.ru_maxrss) / 1024, WIFEXITED(status) ? outcome : "crashed");
  std::fflush(stdout);
  std::remove(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mb = argc > 1 ? std::stoul(argv[1]) : 100;
  const std::size_t large = mb << 20;
  const std::string note = smf::Track().Event(0, {0x90, 60, 100}).bytes;
  const TCase small[] = {
      {"2 MB of empty tracks",
       [](const std::string& p, std::size_t) {
         WriteRepeated(p, smf::Header(1, 0xFFFF, 96), smf::Chunk("MTrk", ""), (2 << 20) / 8);
       }},
      {"20 MB track of zeros",
       [](const std::string& p, std::size_t) {
         WriteTrack(p, "", std::string(1, '\0'), 20 << 20);
       }},
      {"10 MB of notes (3.5 million events)",
       [&](const std::string& p, std::size_t) {
         WriteTrack(p, note, smf::Track().Raw({0, 60, 100}).bytes, (10 << 20) / 3);
       }},
  };
  const TCase big[] = {
      {"empty tracks",
       [](const std::string& p, std::size_t n) {
         WriteRepeated(p, smf::Header(1, 0xFFFF, 96), smf::Chunk("MTrk", ""), n / 8);
       }},
      {"track of zeros",
       [](const std::string& p, std::size_t n) { WriteTrack(p, "", std::string(1, '\0'), n); }},
      {"notes in running status",
       [&](const std::string& p, std::size_t n) {
         WriteTrack(p, note, smf::Track().Raw({0, 60, 100}).bytes, n / 3);
       }},
      {"program changes, 2 bytes each",
       [](const std::string& p, std::size_t n) {
         WriteTrack(p, smf::Track().Event(0, {0xC0, 1}).bytes, smf::Track().Raw({0, 1}).bytes,
                    n / 2);
       }},
      {"one-letter texts",
       [](const std::string& p, std::size_t n) {
         WriteTrack(p, "", smf::Track().Text(0, "a").bytes, n / 5);
       }},
      {"tracks of 16 notes",
       [&](const std::string& p, std::size_t n) {
         smf::Track track;
         for (int i = 0; i < 16; ++i) track.Event(1, {0x90, 60 + i, 100});
         WriteRepeated(p, smf::Header(1, 0xFFFF, 96), track.Chunk(), n / track.Chunk().size());
       }},
      {"one text",
       [](const std::string& p, std::size_t n) {
         WriteTrack(p,
                    smf::Track().Event(0, {0x90, 60, 100}).bytes + std::string(1, '\0') +
                        "\xFF\x01" + smf::Vlq(std::uint32_t(n)),
                    "a", n);
       }},
  };
  std::printf("%-36s %9s %10s %10s %10s  %s\n", "file", "size", "load", "child CPU", "peak RSS",
              "outcome");
  for (const TCase& c : small) Measure(c, 0);
  for (const TCase& c : big) {
    const std::string name = std::to_string(mb) + " MB of " + c.name;
    Measure({name.c_str(), c.write}, large);
  }
  return 0;
}
