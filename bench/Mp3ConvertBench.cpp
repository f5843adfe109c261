// WAV to MP3 at 160 kbit/s with CRC: sonarelle-convert (reader, pump, encoder, tag) against
// the lame command line (-b 160 -p) on the same generated 3-minute 44.1 kHz 16-bit stereo
// file, alternating. Prints the median of each, their ratio and sonarelle-convert's peak
// memory. Usage: bench_mp3_convert [rounds] [folder]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr int kSeconds = 180;
constexpr int kRate = 44100;

// A few drifting tones with a little noise: closer to a take than pure noise or silence.
bool WriteSource(const QString& path) {
  const std::uint32_t dataBytes = kRate * 4 * kSeconds;
  QByteArray header(44, '\0');
  auto put = [&](int at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) header[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::memcpy(header.data(), "RIFF", 4);
  put(4, 36 + dataBytes, 4);
  std::memcpy(header.data() + 8, "WAVEfmt ", 8);
  put(16, 16, 4);
  put(20, 1, 2);
  put(22, 2, 2);
  put(24, kRate, 4);
  put(28, kRate * 4, 4);
  put(32, 4, 2);
  put(34, 16, 2);
  std::memcpy(header.data() + 36, "data", 4);
  put(40, dataBytes, 4);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(header) != header.size()) return false;
  std::mt19937 noise(11);
  std::uniform_real_distribution<double> hiss(-0.02, 0.02);
  std::vector<std::int16_t> frames;
  frames.reserve(static_cast<std::size_t>(kRate) * 2);
  for (int second = 0; second < kSeconds; ++second) {
    frames.clear();
    for (int i = 0; i < kRate; ++i) {
      const double t = second + static_cast<double>(i) / kRate;
      const double f = 220 + 110 * std::sin(t * 0.3);
      const double v = 0.3 * std::sin(2 * std::numbers::pi * f * t) +
                       0.15 * std::sin(2 * std::numbers::pi * 2.5 * f * t) + hiss(noise);
      const auto left = static_cast<std::int16_t>(v * 32767);
      const auto right = static_cast<std::int16_t>((v * 0.8 + hiss(noise)) * 32767);
      frames.push_back(left);
      frames.push_back(right);
    }
    const auto bytes = static_cast<qint64>(frames.size()) * 2;
    if (file.write(reinterpret_cast<const char*>(frames.data()), bytes) != bytes) return false;
  }
  return true;
}

struct RunResult {
  double ms = -1;
  long maxRssKb = 0;
};

// Runs the command with its output thrown away; wall time and the child's peak memory.
RunResult Run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return {};
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return {};
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return {std::chrono::duration<double, std::milli>(elapsed).count(), usage.ru_maxrss};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  QTemporaryDir temp(argc > 2 ? QString(argv[2]) + "/mp3bench-XXXXXX" : QString());
  if (!temp.isValid()) return 1;
  const std::string source = temp.filePath("take.wav").toStdString();
  const std::string config = temp.filePath("config.ini").toStdString();
  const std::string ours = temp.filePath("ours.mp3").toStdString();
  const std::string theirs = temp.filePath("lame.mp3").toStdString();
  if (!WriteSource(QString::fromStdString(source))) {
    std::fprintf(stderr, "cannot write the source file\n");
    return 1;
  }
  QFile ini(QString::fromStdString(config));
  if (!ini.open(QIODevice::WriteOnly) ||
      ini.write("[mp3_info]\ntitle=Bench\nartist=Sonarelle\n") < 0) {
    return 1;
  }
  ini.close();

  std::vector<double> ourTimes;
  std::vector<double> lameTimes;
  long peakKb = 0;
  for (int round = 0; round < rounds; ++round) {
    const RunResult a = Run({SONARELLE_CONVERT, source, ours, "--config", config});
    const RunResult b = Run({"lame", "--silent", "-b", "160", "-p", source, theirs});
    if (a.ms < 0 || b.ms < 0) {
      std::fprintf(stderr, "a conversion failed (sonarelle-convert %s, lame %s)\n",
                   a.ms < 0 ? "failed" : "ok", b.ms < 0 ? "failed" : "ok");
      return 1;
    }
    ourTimes.push_back(a.ms);
    lameTimes.push_back(b.ms);
    peakKb = std::max(peakKb, a.maxRssKb);
    std::printf("round %d: sonarelle-convert %.0f ms, lame %.0f ms\n", round + 1, a.ms, b.ms);
  }
  const double ourMedian = Median(ourTimes);
  const double lameMedian = Median(lameTimes);
  std::printf("3-minute 44.1 kHz 16-bit stereo WAV to MP3 at 160 kbit/s with CRC, %d rounds\n",
              rounds);
  std::printf("sonarelle-convert median: %.0f ms\n", ourMedian);
  std::printf("lame -b 160 -p median:    %.0f ms\n", lameMedian);
  std::printf("ratio: %.3f (target at most 1.15)\n", ourMedian / lameMedian);
  std::printf("sonarelle-convert peak memory: %.1f MB (target under 50 MB)\n", peakKb / 1024.0);
  return 0;
}
