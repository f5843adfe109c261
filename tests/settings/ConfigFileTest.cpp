#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/ProgramFolder.h"
#include "settings/ConfigFile.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"
#include "support/Unprivileged.h"

using namespace sonarelle;
namespace Keys = sonarelle::ConfigKeys;

namespace {

constexpr auto kAll = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
constexpr auto kReadOnly =
    QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.filePath("program");
    user_ = dir_.filePath("user-config");
    QDir().mkpath(program_);
    QDir().mkpath(user_);
    QFile::setPermissions(dir_.path(), kAll);
    QFile::setPermissions(user_, kAll);
    SetProgramFolder(program_);
  }
  void TearDown() override {
    QFile::setPermissions(program_, kAll);
    SetProgramFolder(QString());
  }

  QTemporaryDir dir_;
  QString program_;
  QString user_;
};

TEST_F(ConfigFileTest, AWritableProgramFolderKeepsTheSettingsBesideTheProgram) {
  QFile::setPermissions(program_, kAll);
  int result = RunUnprivileged([&] {
    qputenv("XDG_CONFIG_HOME", user_.toLocal8Bit());
    return ConfigFilePath() == program_ + "/config.ini" ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(ConfigFileTest, AnInstalledProgramKeepsTheSettingsInTheUsersFolderStartingFromItsOwn) {
  const QString shipped = program_ + "/config.ini";
  SettingsStore::WriteInteger(shipped, Keys::kSkinSection, Keys::kSkin, 5);
  QFile::setPermissions(shipped, QFileDevice::ReadOwner | QFileDevice::ReadOther);
  QFile::setPermissions(program_, kReadOnly);
  const QString expected = user_ + "/sonarelle/config.ini";
  int result = RunUnprivileged([&] {
    qputenv("XDG_CONFIG_HOME", user_.toLocal8Bit());
    if (ConfigFilePath() != expected) return 1;
    if (SettingsStore::ReadInteger(expected, Keys::kSkinSection, Keys::kSkin, 1) != 5) return 2;
    try {
      SettingsStore::WriteInteger(ConfigFilePath(), Keys::kSkinSection, Keys::kSkin, 7);
    } catch (const ESettingsWriteError&) {
      return 3;
    }
    // A second start keeps the user's own settings rather than copying the shipped ones again.
    return SettingsStore::ReadInteger(ConfigFilePath(), Keys::kSkinSection, Keys::kSkin, 1) == 7
               ? 0
               : 4;
  });
  EXPECT_EQ(result, 0) << "1: wrong path, 2: not started from the shipped file, 3: not "
                          "writable, 4: the user's value was lost";
  EXPECT_EQ(SettingsStore::ReadInteger(shipped, Keys::kSkinSection, Keys::kSkin, 1), 5);
}

}  // namespace
