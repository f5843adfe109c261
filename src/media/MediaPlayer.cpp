#include "media/MediaPlayer.h"

#include <limits>

#include "platform/MediaDevice.h"

namespace sonarelle {

namespace {

int ToInt(std::int64_t ms) {
  return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
}

}  // namespace

TMediaPlayer::TMediaPlayer() : device_(std::make_unique<MediaDevice>()) {
  device_->SetNotify([this](MediaNotice) {
    if (OnNotify) OnNotify(this);
  });
}

TMediaPlayer::~TMediaPlayer() = default;

QWidget* TMediaPlayer::Display() const {
  return device_->Display();
}

void TMediaPlayer::SetDisplay(QWidget* panel) {
  device_->SetDisplay(panel);
}

QRect TMediaPlayer::DisplayRect() const {
  return device_->DisplayRect();
}

void TMediaPlayer::SetDisplayRect(const QRect& rect) {
  device_->SetDisplayRect(rect);
}

void TMediaPlayer::Open() {
  device_->Open(fileName_);
}

bool TMediaPlayer::Opening() const {
  return device_->Opening();
}

void TMediaPlayer::SetOpenTimeLimit(std::chrono::milliseconds limit) {
  device_->SetOpenTimeLimit(limit);
}

void TMediaPlayer::Play() {
  device_->Play();
}

void TMediaPlayer::Pause() {
  device_->Pause();
}

void TMediaPlayer::Stop() {
  device_->Stop();
}

void TMediaPlayer::Rewind() {
  device_->Rewind();
}

void TMediaPlayer::Close() {
  device_->Close();
}

int TMediaPlayer::Length() const {
  return ToInt(device_->Length());
}

int TMediaPlayer::Position() const {
  return ToInt(device_->Position());
}

TMPModes TMediaPlayer::Mode() const {
  switch (device_->Mode()) {
    case MediaMode::kStopped:
      return mpStopped;
    case MediaMode::kPlaying:
      return mpPlaying;
    case MediaMode::kPaused:
      return mpPaused;
    case MediaMode::kClosed:
      break;
  }
  return mpNotReady;
}

QString TMediaPlayer::Error() const {
  return device_->LastError();
}

}  // namespace sonarelle
