// The main window with all its windows, recording takes from the test rig's default source
// ("mic", a 440 Hz tone) and answering the save dialog as a singer would.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "EventWait.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "platform/Mp3EncoderLibrary.h"
#include "platform/ProgramFolder.h"

namespace sonarelle {

// 16-bit samples of a WAV file's data chunk, channels interleaved.
inline std::vector<double> WavSamples(const QString& path, int* channels = nullptr,
                                      int* rate = nullptr) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  std::vector<double> samples;
  qsizetype pos = 12;
  while (pos + 8 <= bytes.size()) {
    const QByteArray id = bytes.mid(pos, 4);
    const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + pos + 4);
    if (id == "fmt ") {
      if (channels) *channels = qFromLittleEndian<quint16>(bytes.constData() + pos + 10);
      if (rate) *rate = static_cast<int>(qFromLittleEndian<quint32>(bytes.constData() + pos + 12));
    } else if (id == "data") {
      const qsizetype end = std::min<qsizetype>(bytes.size(), pos + 8 + size);
      for (qsizetype i = pos + 8; i + 1 < end; i += 2) {
        samples.push_back(qFromLittleEndian<qint16>(bytes.constData() + i) / 32768.0);
      }
      break;
    }
    pos += 8 + size + (size & 1);
  }
  return samples;
}

inline std::vector<double> LeftChannel(const std::vector<double>& stereo) {
  std::vector<double> left;
  for (size_t i = 0; i < stereo.size(); i += 2) left.push_back(stereo[i]);
  return left;
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(folder_.path());
    // The program as installed, with its language file: the messages a take brings up are
    // read from it.
    QDir(folder_.path()).mkpath("language");
    QFile::copy(qEnvironmentVariable("SONARELLE_SOURCE_DIR") + "/resources/language/en.ini",
                folder_.filePath("language/en.ini"));
    windows_ = std::make_unique<TProgramWindows>();
    main_ = windows_->FrmMain.get();
    main_->show();
  }
  void TearDown() override {
    windows_.reset();
    SetProgramFolder(QString());
    SetMp3EncoderLibraryName(QString());
  }

  // Records about `ms` of the take.
  void RecordFor(int ms) {
    main_->Item("N31")->trigger();
    ASSERT_TRUE(main_->FRecording);
    event_wait::Pump(ms);
  }

  // Answers the save dialog each time it shows with the next of `names` (empty: cancel);
  // `whenAsked` runs the first time it shows, when the take is final.
  void AnswerSaveDialog(const QStringList& names, const std::function<void()>& whenAsked = {}) {
    answers_ = names;
    whenAsked_ = whenAsked;
    answer_.disconnect();
    QObject::connect(&answer_, &QTimer::timeout, main_, [this] {
      auto* dialog = static_cast<QDialog*>(main_->SaveDialog1);
      // The dialog is made once the window is on the screen, or at the first save.
      if (dialog == nullptr || !dialog->isVisible() || answers_.isEmpty()) return;
      if (whenAsked_) std::exchange(whenAsked_, {})();
      const QString name = answers_.takeFirst();
      if (name.isEmpty()) {
        dialog->reject();
        return;
      }
      // The list may still pick the file of the answer before (its folder loads in the
      // background); a user typing a name replaces that pick, setting the text may not.
      for (auto* view : main_->SaveDialog1->findChildren<QAbstractItemView*>()) {
        view->clearSelection();
      }
      main_->SaveDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
      dialog->done(QDialog::Accepted);
    });
    answer_.start(20);
  }

  // Stop recording, answering the save dialog as AnswerSaveDialog does.
  void StopAndSaveAs(const QStringList& names, const std::function<void()>& whenAsked = {}) {
    // Answered once it shows: stopping the recorder first may take a moment.
    AnswerSaveDialog(names, whenAsked);
    main_->Item("N32")->trigger();
  }
  void StopAndSaveAs(const QString& name, const std::function<void()>& whenAsked = {}) {
    StopAndSaveAs(QStringList{name}, whenAsked);
  }

  QString Out(const char* name) const { return out_.filePath(QString::fromLatin1(name)); }
  bool Converted() {
    return event_wait::WaitUntil([&] { return !main_->FConverting; }, 20000);
  }

  QTemporaryDir folder_;
  QTemporaryDir out_;
  std::unique_ptr<TProgramWindows> windows_;
  TFrmMain* main_ = nullptr;
  QTimer answer_;
  QStringList answers_;
  std::function<void()> whenAsked_;
};

}  // namespace sonarelle
