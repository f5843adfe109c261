// libFuzzer target: any bytes as an update control file, read the way the engine reads one.
// Built and run by scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QDir>

#include "platform/IniSnapshot.h"
#include "platform/ProgramFolder.h"
#include "update/UpdateRules.h"

using namespace sonarelle;
using namespace sonarelle::update_rules;

namespace {

struct TKeys {
  const char* section;
  std::initializer_list<const char*> keys;
};

// Every section and key the engine reads.
const TKeys kKeys[] = {
    {"update",
     {"signature", "descr", "date", "time", "localversion", "unconditional", "newversion",
      "newsize", "newchecksum"}},
    {"application", {"appupdate", "appname", "appcomps", "silentrestart"}},
    {"action", {"msg", "htmldlg", "runbefore", "showURL", "query", "updateURL", "runafter"}},
    {"custom", {"validatemsg", "validateparam", "processmsg", "processparam"}},
    {"whatsnew", {"file", "caption", "okbtn", "cancelbtn"}},
    {"eula", {"file", "caption", "okbtn", "accept", "notaccept"}},
    {"files", {"count"}},
};

// Token expansion as the engine does it, less the host's own prefix step.
QString Expand(const QString& text) {
  return ExpandTokens(text, DefaultExpandToken);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetProgramFolder(QStringLiteral("/opt/sonarelle/"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIniSnapshot control = TIniSnapshot::FromBytes(
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  qsizetype total = 0;
  for (const TKeys& entry : kKeys) {
    for (const char* key : entry.keys) {
      QString section = QString::fromLatin1(entry.section);
      QString value = control.ReadString(section, QString::fromLatin1(key));
      total += value.size() + control.ReadInteger(section, QString::fromLatin1(key), 0) % 7;
      total += Expand(value).size() + FileNameFromURL(value).size() + LocalPath(value).size();
      TVersion version = ParseVersion(value);
      total += version.Full() ? version.Text().size() : 0;
    }
  }
  QDateTime release =
      ReadDateTime(control.ReadString("update", "date"), control.ReadString("update", "time"));
  total += release.isValid() ? 1 : 0;
  for (const TFileDescription& file : ReadFileList(control, Expand)) {
    total +=
        ReadDateTime(file.NewDate, file.NewTime, QStringLiteral("yyyy.mm.dd"), QLatin1Char('.'))
            .isValid();
    total += ParseVersion(file.NewVersion).Text().size() + file.URL.size();
  }
  return total < 0 ? -1 : 0;
}
