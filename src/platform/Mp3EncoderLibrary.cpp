#include "platform/Mp3EncoderLibrary.h"

#include <dlfcn.h>

#include <mutex>

#include "platform/LibrarySymbol.h"

namespace sonarelle {

namespace {

// The few entry points of the encoder library that the binding uses, declared here so
// that no development header is needed. Values of its mode setting.
using lame_t = void*;
constexpr int kLameStereo = 0;
constexpr int kLameDualChannel = 2;
constexpr int kLameMono = 3;
constexpr int kLameVbrOff = 0;

struct LameApi {
  lame_t (*init)() = nullptr;
  int (*close)(lame_t) = nullptr;
  int (*setInRate)(lame_t, int) = nullptr;
  int (*setOutRate)(lame_t, int) = nullptr;
  int (*setChannels)(lame_t, int) = nullptr;
  int (*setMode)(lame_t, int) = nullptr;
  int (*setBitrate)(lame_t, int) = nullptr;
  int (*setVbr)(lame_t, int) = nullptr;
  int (*setCrc)(lame_t, int) = nullptr;
  int (*setPrivate)(lame_t, int) = nullptr;
  int (*setCopyright)(lame_t, int) = nullptr;
  int (*setOriginal)(lame_t, int) = nullptr;
  int (*setVbrTag)(lame_t, int) = nullptr;
  int (*initParams)(lame_t) = nullptr;
  int (*frameSize)(lame_t) = nullptr;
  int (*encode)(lame_t, const short*, const short*, int, unsigned char*, int) = nullptr;
  int (*encodeInterleaved)(lame_t, short*, int, unsigned char*, int) = nullptr;
  int (*flush)(lame_t, unsigned char*, int) = nullptr;
};

struct Binding {
  std::mutex lock;
  QString name = QStringLiteral("libmp3lame.so.0");
  void* handle = nullptr;
  bool loaded = false;
  LameApi api;
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

bool BindAll(void* handle, LameApi& api) {
  const auto Bind = [handle](const char* symbol, auto& target) {
    return BindSymbol(handle, symbol, target);
  };
  return Bind("lame_init", api.init) && Bind("lame_close", api.close) &&
         Bind("lame_set_in_samplerate", api.setInRate) &&
         Bind("lame_set_out_samplerate", api.setOutRate) &&
         Bind("lame_set_num_channels", api.setChannels) && Bind("lame_set_mode", api.setMode) &&
         Bind("lame_set_brate", api.setBitrate) && Bind("lame_set_VBR", api.setVbr) &&
         Bind("lame_set_error_protection", api.setCrc) &&
         Bind("lame_set_extension", api.setPrivate) &&
         Bind("lame_set_copyright", api.setCopyright) &&
         Bind("lame_set_original", api.setOriginal) &&
         Bind("lame_set_bWriteVbrTag", api.setVbrTag) && Bind("lame_init_params", api.initParams) &&
         Bind("lame_get_framesize", api.frameSize) && Bind("lame_encode_buffer", api.encode) &&
         Bind("lame_encode_buffer_interleaved", api.encodeInterleaved) &&
         Bind("lame_encode_flush", api.flush);
}

void Unload(Binding& binding) {
  if (binding.handle != nullptr) dlclose(binding.handle);
  binding.handle = nullptr;
  binding.loaded = false;
  binding.api = LameApi{};
}

const LameApi& Api() {
  return TheBinding().api;
}

// Error numbers of the four operations.
constexpr std::uint32_t kErrInvalidFormat = 1;
constexpr std::uint32_t kErrInvalidParameters = 2;
constexpr std::uint32_t kErrNoMoreHandles = 3;
constexpr std::uint32_t kErrBufferTooSmall = 5;

}  // namespace

struct Mp3Stream {
  lame_t lame = nullptr;
  int channels = 2;
  std::uint32_t bufferSize = 0;
};

void Mp3StreamDeleter::operator()(Mp3Stream* stream) const noexcept {
  const std::unique_ptr<Mp3Stream> owned(stream);
  if (owned->lame != nullptr && Api().close != nullptr) Api().close(owned->lame);
}

bool LoadMp3EncoderLibrary() {
  Binding& binding = TheBinding();
  std::lock_guard guard(binding.lock);
  if (binding.loaded) return true;
  binding.handle = dlopen(binding.name.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  if (binding.handle == nullptr) return false;
  // A library without every entry point would later be called through a missing one.
  if (!BindAll(binding.handle, binding.api)) {
    Unload(binding);
    return false;
  }
  binding.loaded = true;
  return true;
}

QString Mp3EncoderLibraryName() {
  Binding& binding = TheBinding();
  std::lock_guard guard(binding.lock);
  return binding.name;
}

void SetMp3EncoderLibraryName(const QString& name) {
  Binding& binding = TheBinding();
  std::lock_guard guard(binding.lock);
  Unload(binding);
  binding.name = name;
}

std::uint32_t beInitStream(const BE_CONFIG& config, std::uint32_t& samples,
                           std::uint32_t& bufferSize, HBE_STREAM& stream) {
  const LameApi& api = Api();
  if (config.dwConfig != BE_CONFIG_MP3) return kErrInvalidFormat;
  int mode = kLameStereo;
  int channels = 2;
  switch (config.byMode) {
    case BE_MP3_MODE_STEREO:
      break;
    case BE_MP3_MODE_DUALCHANNEL:
      mode = kLameDualChannel;
      break;
    case BE_MP3_MODE_MONO:
      mode = kLameMono;
      channels = 1;
      break;
    default:
      return kErrInvalidParameters;
  }
  // The handle's deleter closes the library's stream on every early return.
  HBE_STREAM created(std::make_unique<Mp3Stream>().release());
  created->lame = api.init();
  if (created->lame == nullptr) return kErrNoMoreHandles;
  lame_t lame = created->lame;
  const int rate = static_cast<int>(config.dwSampleRate);
  api.setInRate(lame, rate);
  api.setOutRate(lame, rate);  // never resample: the stream keeps the take's rate
  api.setChannels(lame, channels);
  api.setMode(lame, mode);
  api.setVbr(lame, kLameVbrOff);
  api.setBitrate(lame, config.wBitrate);
  api.setCrc(lame, config.bCRC != 0 ? 1 : 0);
  api.setPrivate(lame, config.bPrivate != 0 ? 1 : 0);
  api.setCopyright(lame, config.bCopyright != 0 ? 1 : 0);
  api.setOriginal(lame, config.bOriginal != 0 ? 1 : 0);
  // An info frame would need the stream's start rewritten after the flush; the caller
  // writes the stream straight through.
  api.setVbrTag(lame, 0);
  if (api.initParams(lame) < 0) {
    return kErrInvalidParameters;
  }
  const int frame = api.frameSize(lame);
  if (frame <= 0) return kErrInvalidParameters;
  created->channels = channels;
  // The library's own bound for one call's output: 1.25 x samples per channel + 7200.
  created->bufferSize = static_cast<std::uint32_t>(frame + frame / 4 + 7200);
  samples = static_cast<std::uint32_t>(frame * channels);
  bufferSize = created->bufferSize;
  stream = std::move(created);
  return BE_ERR_SUCCESSFUL;
}

std::uint32_t beEncodeChunk(Mp3Stream* stream, std::uint32_t samples, const std::int16_t* pcm,
                            std::uint8_t* output, std::uint32_t& outputBytes) {
  outputBytes = 0;
  if (stream == nullptr) return kErrInvalidParameters;
  const LameApi& api = Api();
  const int frames = static_cast<int>(samples) / stream->channels;
  if (frames == 0) return BE_ERR_SUCCESSFUL;
  const int size = static_cast<int>(stream->bufferSize);
  // The library does not write through the sample pointer, whatever its declaration says.
  auto* samplesIn = const_cast<short*>(pcm);
  const int written = stream->channels == 1
                          ? api.encode(stream->lame, samplesIn, samplesIn, frames, output, size)
                          : api.encodeInterleaved(stream->lame, samplesIn, frames, output, size);
  if (written < 0) return written == -1 ? kErrBufferTooSmall : kErrInvalidParameters;
  outputBytes = static_cast<std::uint32_t>(written);
  return BE_ERR_SUCCESSFUL;
}

std::uint32_t beDeinitStream(Mp3Stream* stream, std::uint8_t* output, std::uint32_t& outputBytes) {
  outputBytes = 0;
  if (stream == nullptr) return kErrInvalidParameters;
  const int written = Api().flush(stream->lame, output, static_cast<int>(stream->bufferSize));
  if (written < 0) return kErrBufferTooSmall;
  outputBytes = static_cast<std::uint32_t>(written);
  return BE_ERR_SUCCESSFUL;
}

std::uint32_t beCloseStream(HBE_STREAM& stream) {
  stream.reset();
  return BE_ERR_SUCCESSFUL;
}

}  // namespace sonarelle
