#include "audio/recorder/MMWaveRecorder.h"

#include <cstring>

#include <QLocale>

#include "platform/MessageBoxes.h"

namespace sonarelle {

TMMWaveRecorder::TMMWaveRecorder() : TMMWaveRecorder(std::make_unique<TMMWaveIn>()) {}

TMMWaveRecorder::TMMWaveRecorder(std::unique_ptr<TMMCustomWaveIn> waveIn)
    : waveFile_(std::make_unique<TMMWaveFile>()), waveIn_(std::move(waveIn)) {
  Hook();
}

void TMMWaveRecorder::Hook() {
  waveFile_->Wave().SetFileMustExist(false);
  waveFile_->OnChange = [this](TMMComponent*) {
    formatLock_ = true;
    // The wave has finished the old file already; nothing more can go into it.
    waveIn_->StopDeviceAtOnce();
    waveIn_->CloseDevice();
    if (OnChange) {
      OnChange(this);
    }
  };
  waveFile_->OnChanged = [this](TMMComponent*) { formatLock_ = false; };
  waveFile_->OnClose = [this](TMMComponent*) { StopRecording(); };

  waveIn_->SetOutput(waveFile_.get());
  waveIn_->OnOpen = [this](TMMComponent*) {
    if (OnStart) {
      OnStart(this);
    }
  };
  waveIn_->OnStop = [this](TMMComponent*) {
    waveIn_->CloseDevice();
    if (OnStop) {
      OnStop(this);
    }
  };
  waveIn_->OnPause = [this](TMMComponent*) {
    if (OnPause) {
      OnPause(this);
    }
  };
  waveIn_->OnRestart = [this](TMMComponent*) {
    if (OnRestart) {
      OnRestart(this);
    }
  };
  waveIn_->OnError = [this](TMMComponent*) {
    if (OnError) {
      OnError(this);
    }
  };
  waveIn_->OnInputChange = [this](TMMComponent*, const WaveInInputChange& change) {
    if (OnInputChange) {
      OnInputChange(this, change);
    }
  };
  waveIn_->OnBufferReady = [this](TMMDSPComponent*, PWaveHdr header) {
    if (OnData) {
      OnData(this, header);
    }
  };

  // The recorder offers no Input setting: the link to it is made from the wave file's side.
  SetAcceptsInputLink(true);
  waveFile_->SetOutput(this);
  SetAcceptsInputLink(false);
  formatLock_ = false;
}

TMMWaveRecorder::~TMMWaveRecorder() {
  try {
    StopRecording();
  } catch (const std::exception&) {
    // A destructor cannot report; the device is closed either way.
  }
  waveFile_->OnChange = nullptr;
  waveFile_->OnChanged = nullptr;
  waveFile_->OnClose = nullptr;
  waveIn_->OnStop = nullptr;
  waveIn_->OnError = nullptr;
  waveIn_->OnInputChange = nullptr;
  waveIn_->OnBufferReady = nullptr;
  waveFile_->SetOutput(nullptr);
}

void TMMWaveRecorder::SetFileName(const QString& value) {
  waveFile_->Wave().SetFileName(value);
}

void TMMWaveRecorder::SetBufferSize(std::int32_t value) {
  waveIn_->SetBufferSize(value);
  TMMDSPComponent::SetBufferSize(waveIn_->BufferSize());
}

void TMMWaveRecorder::SetTimeFormat(TMMTimeFormats value) {
  waveIn_->SetTimeFormat(value);
  waveFile_->Wave().SetTimeFormat(value);
}

QString TMMWaveRecorder::InputFormat() const {
  const WAVEFORMATEX* format = waveIn_->GetFormat();
  if (format == nullptr) {
    return QStringLiteral("Unknown");
  }
  const QString decimal = QLocale().decimalPoint();
  // The list separator of the regional settings: a semicolon where the comma is decimal.
  const QString list = decimal == QStringLiteral(",") ? QStringLiteral(";") : QStringLiteral(",");
  const auto rate = static_cast<int>(format->nSamplesPerSec);
  const int channels = format->nChannels;
  const int bits = rate > 0 && channels > 0
                       ? static_cast<int>(8LL * format->nAvgBytesPerSec / rate / channels)
                       : 0;
  const QByteArray dec = decimal.toUtf8();
  const QByteArray sep = list.toUtf8();
  QString description;
  if (channels == 1 || channels == 2) {
    description = QString::asprintf("%d%s%.03d kHz%s %d Bit%s %s", rate / 1000, dec.constData(),
                                    rate % 1000, sep.constData(), bits, sep.constData(),
                                    channels == 1 ? "Mono" : "Stereo");
  } else {
    description =
        QString::asprintf("%d%s%.03d kHz%s %d Bit%s %d Channels", rate / 1000, dec.constData(),
                          rate % 1000, sep.constData(), bits, sep.constData(), channels);
  }
  return TMMWave::FormatTagName(format->wFormatTag) + QLatin1Char(' ') + description;
}

void TMMWaveRecorder::SetInputFormat(const QString& /*value*/) {
  ShowMessage(QStringLiteral("This is a read-only property, please use SelectFormat."));
}

void TMMWaveRecorder::StartRecording() {
  if (Recording() || waveFile_->Wave().FileName().isEmpty()) {
    return;
  }
  waveIn_->StartDevice();
}

void TMMWaveRecorder::StopRecording() {
  waveIn_->StopDevice();
  waveIn_->CloseDevice();
}

void TMMWaveRecorder::SetFormat(const WAVEFORMATEX* format) {
  if (formatLock_) {
    return;
  }
  const WAVEFORMATEX* own = waveIn_->GetFormat();
  if (format != nullptr && (own == nullptr || FormatSize(format) != FormatSize(own) ||
                            std::memcmp(format, own, FormatSize(format)) != 0)) {
    waveIn_->SetFormat(format);
    return;
  }
  TMMDSPComponent::SetFormat(format);
}

}  // namespace sonarelle
