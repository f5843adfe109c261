// libFuzzer target: any bytes as a language file, read the way the windows read their texts:
// a snapshot of the file, each window's section, every key the file names and the texts
// shown later, whose "\n" becomes a line break. Built and run by scripts/fuzz.sh.
#include "platform/IniSnapshot.h"
#include "platform/IniText.h"
#include "platform/LanguageSection.h"
#include "support/FuzzFile.h"

using namespace sonarelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input = fuzz_file::Bytes(data, size);
  const TIniSnapshot texts = TIniSnapshot::FromFile(fuzz_file::Put("language.ini", input));
  qsizetype total = 0;
  for (const QString& section : texts.Sections()) {
    total += section.size();
  }
  QString section = QStringLiteral("FrmMain");
  int lines = 0;
  for (const IniText::TLine& line : IniText::SplitLines(input).lines) {
    if (++lines > 256) break;
    if (auto name = IniText::SectionName(line.text)) {
      section = *name;
    } else if (auto key = IniText::KeyName(line.text)) {
      const QByteArray keyBytes = key->toLatin1();
      const TLanguageSection window(texts, section);
      total += window(keyBytes.constData(), QStringLiteral("default")).size();
      TLanguageTexts later(section);
      later.Load(texts);
      total += later(TText{keyBytes.constData(), "built-in text"}).size();
      total += texts.ReadInteger(section, *key, 0) % 7;
    }
  }
  return total < 0 ? -1 : 0;
}
