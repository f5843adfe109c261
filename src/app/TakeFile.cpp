#include "app/TakeFile.h"

#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "audio/wavefile/MMWave.h"
#include "audio/wavefile/WaveIO.h"
#include "platform/Exception.h"

namespace sonarelle {

namespace {

constexpr int kNumbers = 10000;
constexpr int kRandomAttempts = 100;

}  // namespace

bool TTakeFile::IsTakeName(const QString& fileName) {
  static const QRegularExpression pattern(QStringLiteral("^SWtemp(0|[1-9][0-9]{0,3})\\.wav$"));
  return pattern.match(fileName).hasMatch();
}

std::unique_ptr<TTakeFile> TTakeFile::Create(const QString& folder, const WAVEFORMATEX* format) {
  auto take = std::make_unique<TTakeFile>(Key{});
  // Random numbers first; in a folder crowded with takes, every number in turn after that.
  const int start = static_cast<int>(QRandomGenerator::global()->bounded(kNumbers));
  for (int attempt = 0; attempt < kRandomAttempts + kNumbers; ++attempt) {
    const int number = attempt < kRandomAttempts
                           ? static_cast<int>(QRandomGenerator::global()->bounded(kNumbers))
                           : (start + attempt - kRandomAttempts) % kNumbers;
    const QString path = folder + QStringLiteral("SWtemp%1.wav").arg(number);
    // Never an existing file: it may be another instance's take, or one left behind.
    if (!take->lock_.Create(path)) {
      if (QFileInfo::exists(path)) continue;
      break;
    }
    // A valid, empty WAVE file, which the recorder then records into in place.
    WaveIOPtr block;
    if (CreateWaveFile(path, format, block) == kWaveIOOk && FinaliseWaveFile(*block) == kWaveIOOk) {
      return take;
    }
    QFile::remove(path);
    break;
  }
  throw Exception(QStringLiteral("Unable to create a file for the take in %1")
                      .arg(QDir::toNativeSeparators(folder)));
}

TTakeFiles TTakeFile::FindLeft(const QStringList& folders) {
  TTakeFiles found;
  QStringList seen;
  for (const QString& folder : folders) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || seen.contains(canonical)) continue;
    seen << canonical;
    const QFileInfoList files =
        QDir(canonical).entryInfoList({QStringLiteral("SWtemp*.wav")}, QDir::Files);
    for (const QFileInfo& file : files) {
      if (!IsTakeName(file.fileName()) || file.ownerId() != ::getuid() || file.isSymLink()) {
        continue;
      }
      auto take = std::make_unique<TTakeFile>(Key{});
      // A take its process still holds is being recorded, saved or converted.
      if (!take->lock_.Acquire(file.absoluteFilePath())) continue;
      const int repaired = RepairWaveFile(take->Path());
      if (repaired == kWaveIOInvalid) continue;  // no WAVE file, so none of our takes
      WaveIOPtr block;
      if (repaired != kWaveIOOk || OpenWaveFile(take->Path(), block) != kWaveIOOk) {
        take->damaged_ = true;
      } else if (block->samples == 0) {
        take->Remove();  // made for a take that never recorded anything
        continue;
      }
      found.push_back(std::move(take));
    }
  }
  // Oldest first, each file's time read once.
  std::vector<std::pair<QDateTime, std::unique_ptr<TTakeFile>>> dated;
  for (auto& take : found) dated.emplace_back(take->Recorded(), std::move(take));
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < dated.size(); ++i) found[i] = std::move(dated[i].second);
  return found;
}

QDateTime TTakeFile::Recorded() const {
  return QFileInfo(Path()).lastModified();
}

std::int64_t TTakeFile::LengthMs() const {
  WaveIOPtr block;
  if (OpenWaveFile(Path(), block) != kWaveIOOk) return -1;
  return SamplesToMs(block->Format(), block->samples);
}

bool TTakeFile::Remove() {
  if (!QFile::remove(Path()) && QFileInfo::exists(Path())) return false;
  lock_.Release();
  return true;
}

}  // namespace sonarelle
