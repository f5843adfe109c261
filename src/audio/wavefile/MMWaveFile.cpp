#include "audio/wavefile/MMWaveFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/chain/DiskSpace.h"
#include "audio/chain/MMDSPThread.h"

namespace sonarelle {

namespace {

// Room kept free beyond the file buffer and the buffer being written.
constexpr std::int64_t kDiskReserve = 10240;

}  // namespace

TMMCustomWaveFile::TMMCustomWaveFile() : wave_(std::make_unique<TMMWave>()) {
  observer_.OnNotify = [this](TMMObservable*, void*) { WaveChanged(); };
  observer_.SetObservable(&wave_->Observable());
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  try {
    TMMCustomWaveFile::Close();
  } catch (...) {
    // An owner's OnClose must not escape a destructor; the file is finalised either way.
  }
}

void TMMCustomWaveFile::WaveChanged() {
  if (OnChange) {
    OnChange(this);
  }
  try {
    if (wave_->FileMustExist() || wave_->GetFormat() != nullptr) {
      SetFormat(wave_->GetFormat());
    }
  } catch (...) {
    if (OnChanged) {
      OnChanged(this);
    }
    throw;
  }
  if (OnChanged) {
    OnChanged(this);
  }
}

void TMMCustomWaveFile::SetFormat(const WAVEFORMATEX* format) {
  TMMDSPComponent::SetFormat(format);
  const WAVEFORMATEX* own = GetFormat();
  silence_ =
      own != nullptr && own->wFormatTag == WAVE_FORMAT_PCM && own->wBitsPerSample == 8 ? 128 : 0;
}

bool TMMCustomWaveFile::IsWriting() const {
  return Input() != nullptr;
}

void TMMCustomWaveFile::Open() {
  TMMDSPComponent::Open();
  if (fileOpened_) {
    return;
  }
  if (IsWriting()) {
    writeFailed_ = false;
    SetFormat(Input()->GetFormat());
    if (GetFormat() != nullptr && !wave_->FileName().isEmpty()) {
      if (overwriteExisting_ || !wave_->HasData()) {
        wave_->CreateFile(wave_->FileName(), GetFormat());
        headerUpdated_ = {};  // the first buffer makes the header count
        bytesSinceHeader_ = 0;
      } else {
        // Appending continues behind the data already there.
        wave_->SetPosition(wave_->DataSize());
        wave_->OpenFile();
      }
      fileOpened_ = true;
    }
  } else if (wave_->HasData()) {
    wave_->OpenFile();
    startPosition_ = wave_->Position();
    fileOpened_ = true;
  }
  if (fileOpened_ && OnOpen) {
    RunSynchronized([this] { OnOpen(this); });
  }
}

void TMMCustomWaveFile::Start() {
  TMMDSPComponent::Start();
  if (fileOpened_ && !fileStarted_) {
    fileStarted_ = true;
    if (!IsWriting()) {
      wave_->SetPosition(startPosition_);
    }
    wave_->BeforeRead();
  }
}

void TMMCustomWaveFile::Stop() {
  if (fileOpened_ && fileStarted_) {
    fileStarted_ = false;
  }
  TMMDSPComponent::Stop();
}

void TMMCustomWaveFile::Reset() {
  TMMDSPComponent::Reset();
  if (fileStarted_ && fileOpened_) {
    wave_->Wrapped();
  }
}

void TMMCustomWaveFile::Close() {
  if (fileOpened_) {
    Stop();
    const WAVEFORMATEX* format = wave_->GetFormat();
    if (IsWriting() && !wave_->FileName().isEmpty() && format != nullptr && !wave_->HasData()) {
      // Never an empty "data" chunk: at least 4 bytes, in whole frames of silence.
      const int block = std::max<int>(1, format->nBlockAlign);
      const std::vector<char> silence(static_cast<size_t>((4 + block - 1) / block * block),
                                      static_cast<char>(silence_));
      wave_->WriteData(silence.data(), static_cast<std::int64_t>(silence.size()));
    }
    wave_->CloseFile();
    fileOpened_ = false;
    if (OnClose) {
      RunSynchronized([this] { OnClose(this); });
    }
  }
  TMMDSPComponent::Close();
}

void TMMCustomWaveFile::WriteBuffer(PWaveHdr lpWaveHdr) {
  const std::int64_t bytes = lpWaveHdr->dwBytesRecorded;
  if (!fileStarted_ || !enabled_ || !IsWriting() || wave_->FileName().isEmpty() || bytes <= 0) {
    return;
  }
  const bool room =
      EnoughDiskSpace(wave_->FileName(), wave_->IOBufferSize() + bytes + kDiskReserve);
  if (!room || wave_->WriteData(lpWaveHdr->lpData, bytes) < 1) {
    // What was written so far stays in a finalised file; OnClose tells the owner.
    writeFailed_ = true;
    Close();
    return;
  }
  if (headerInterval_ > 0) {
    // By the clock, and by the audio too: a source that delivers in bursts must not leave
    // a whole burst behind the header.
    const auto now = std::chrono::steady_clock::now();
    const WAVEFORMATEX* format = wave_->GetFormat();
    const std::int64_t burst =
        format != nullptr ? std::int64_t{format->nAvgBytesPerSec} * headerInterval_ / 2000 : 0;
    bytesSinceHeader_ += bytes;
    if (now - headerUpdated_ >= std::chrono::milliseconds(headerInterval_) ||
        (burst > 0 && bytesSinceHeader_ >= burst)) {
      headerUpdated_ = now;
      bytesSinceHeader_ = 0;
      // A disk that refuses the buffered bytes is full: the same as a failed write.
      if (!wave_->UpdateHeader()) {
        writeFailed_ = true;
        Close();
      }
    }
  }
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
  WriteBuffer(lpWaveHdr);
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (IsWriting()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    WriteBuffer(lpWaveHdr);
    return;
  }
  // No data ends a reader at once, started or not: silence would never end.
  if (!wave_->HasData()) {
    lpWaveHdr->dwBytesRecorded = 0;
    return;
  }
  if (!fileStarted_ || !enabled_) {
    std::memset(lpWaveHdr->lpData, silence_, lpWaveHdr->dwBufferLength);
    lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
    MoreBuffers = true;
    return;
  }
  const std::int64_t read =
      std::max<std::int64_t>(wave_->ReadData(lpWaveHdr->lpData, lpWaveHdr->dwBufferLength), 0);
  lpWaveHdr->dwBytesRecorded = static_cast<std::uint32_t>(read);
  if (read > 0 && wave_->BytesRemaining() > 0) {
    MoreBuffers = true;
  }
  if (wave_->BytesRemaining() > 0 || lpWaveHdr->LoopFlag == 0) {
    return;
  }
  if (lpWaveHdr->LoopCount > 0) {
    --lpWaveHdr->LoopsLeft;
    if (lpWaveHdr->LoopsLeft < 0) {
      return;
    }
  }
  wave_->SetPosition(0);
  wave_->Wrapped();
  if (OnLooping) {
    OnLooping(this);
  }
  MoreBuffers = true;
  lpWaveHdr->LoopMark = -1;
}

}  // namespace sonarelle
