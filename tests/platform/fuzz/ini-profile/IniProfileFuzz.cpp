// libFuzzer target: any bytes as an INI file of the settings store, read key by key with the
// profile functions and then written to. Every key the file holds reads the same through the
// profile and through a snapshot of the file; a value written reads back, and the first key
// of every other section keeps its value. Built and run by scripts/fuzz.sh.
#include <cstdlib>
#include <utility>
#include <vector>

#include <QStringDecoder>

#include "platform/IniProfile.h"
#include "platform/IniSnapshot.h"
#include "platform/IniText.h"
#include "support/FuzzFile.h"

using namespace sonarelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input = fuzz_file::Bytes(data, size);
  const QString path = fuzz_file::Put("ini-profile.ini", input);
  QStringDecoder utf8(QStringDecoder::Utf8);
  (void)QString(utf8(input));
  // Other bytes the snapshot reads as Windows-1252, which the profile does not.
  const bool sameText = !utf8.hasError();
  const TIniSnapshot snapshot = TIniSnapshot::FromBytes(input);

  // Each key line, under the section it follows; a bound keeps a huge file quick.
  std::vector<std::pair<QString, QString>> keys;
  QString section;
  for (const IniText::TLine& line : IniText::SplitLines(input).lines) {
    if (keys.size() >= 64) break;
    if (auto name = IniText::SectionName(line.text)) {
      section = *name;
    } else if (auto key = IniText::KeyName(line.text)) {
      keys.emplace_back(section, *key);
    }
  }
  std::vector<QString> before;
  for (const auto& [sectionName, key] : keys) {
    before.push_back(IniProfile::ReadString(path, sectionName, key, QStringLiteral("\x01")));
    if (sameText && before.back() != QStringLiteral("\x01") &&
        snapshot.ReadString(sectionName, key, QStringLiteral("\x01")) != before.back()) {
      std::abort();  // the two readers disagree on a key the file holds
    }
  }

  const QString written = QStringLiteral("fuzz value");
  if (!IniProfile::WriteString(path, QStringLiteral("Fuzz"), QStringLiteral("Key"), written)) {
    std::abort();
  }
  if (IniProfile::ReadString(path, QStringLiteral("fuzz"), QStringLiteral("key"), {}) != written) {
    std::abort();
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto& [sectionName, key] = keys[i];
    if (IniText::SameName(sectionName, QStringLiteral("Fuzz"))) continue;
    if (IniProfile::ReadString(path, sectionName, key, QStringLiteral("\x01")) != before[i]) {
      std::abort();  // writing one key changed another
    }
  }
  return 0;
}
