#include "platform/MediaDevice.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/MciCommand.h"
#include "platform/MessageWindow.h"
#include "platform/SoundFont.h"
#include "platform/VideoSurface.h"

namespace sonarelle {

namespace {

using Clock = std::chrono::steady_clock;

// Messages from GStreamer's threads to the device; wParam carries the pipeline's generation.
constexpr unsigned kFrameMessage = MessageWindow::kUserMessage;
constexpr unsigned kEndMessage = MessageWindow::kUserMessage + 1;
constexpr unsigned kErrorMessage = MessageWindow::kUserMessage + 2;
constexpr unsigned kClockLostMessage = MessageWindow::kUserMessage + 3;

// The waits of Open and Rewind only keep a broken pipeline from hanging the program: a
// sound font of 150 MB loads in about two seconds, a sanitizer build takes a few times that.
constexpr std::chrono::seconds kSeekTimeout{5};
constexpr GstClockTime kWaitSlice = 20 * GST_MSECOND;
constexpr int kOpenPollMs = 20;
// A pipeline stops in milliseconds; one whose streaming thread does not return by then is
// left to stop on its own thread.
constexpr std::chrono::seconds kStopTimeout{3};

// How long a failed open waits for the reason of its failure.
constexpr std::chrono::milliseconds kReasonWait{1000};

const char* const kOpenTimedOut =
    "The media service could not read the file within %1 seconds. The file may be damaged.";
const char* const kCannotOpen = "The media service cannot open the file.";
const char* const kStillOpening = "The media service is still opening another file.";
const char* const kOpenInterrupted = "Opening the file was called off.";

// playbin's flags; GstPlayFlags is not in an installed header.
constexpr guint kPlayVideo = 1U << 0;
constexpr guint kPlayAudio = 1U << 1;
constexpr guint kPlaySoftVolume = 1U << 4;

struct DeviceEntry {
  const char* extension;
  const char* device;
  bool video;
};

// The media service's own extension table; nothing is registered with the system.
constexpr DeviceEntry kDevices[] = {
    {"mpg", "MPEGVideo", true},  {"dat", "MPEGVideo", true},  {"mpv", "MPEGVideo", true},
    {"mpeg", "MPEGVideo", true}, {"cjt", "MPEGVideo", true},  {"avi", "AVIVideo", true},
    {"wav", "WaveAudio", false}, {"mp3", "MPEGAudio", false}, {"mid", "Sequencer", false},
};

const DeviceEntry* FindDevice(const QString& fileName) {
  const QString extension = QFileInfo(fileName).suffix().toLower();
  for (const DeviceEntry& entry : kDevices) {
    if (extension == QLatin1String(entry.extension)) return &entry;
  }
  return nullptr;
}

// The General MIDI sound font for .mid files. The decoder loads every sample of it at once,
// so the largest installed font is not a candidate. Empty leaves the choice to the decoder.
QByteArray SoundFontPath() {
  return ChooseSoundFont({"/usr/share/sounds/sf2/FluidR3_GM.sf2",
                          "/usr/share/sounds/sf2/TimGM6mb.sf2",
                          "/usr/share/sounds/sf2/default-GM.sf2"})
      .toLocal8Bit();
}

void InitGStreamer() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

// What GStreamer's threads share with the device for one opened pipeline. The bus handler
// and the video sink's callbacks run on GStreamer's threads and reach the device only
// through this: they record what happened and post a message carrying `generation`, so a
// message from a pipeline that has since been closed, or from a run of it that has since
// been restarted, is recognised and dropped.
class PipelineLink {
 public:
  PipelineLink(std::uint64_t generation, MessageWindow* window, QByteArray soundFont)
      : generation_(generation), soundFont_(std::move(soundFont)), window_(window) {}

  std::uint64_t Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
  }
  const QByteArray& SoundFont() const { return soundFont_; }

  // A new run of the pipeline: what the last run recorded is forgotten, and messages it
  // posted carry the old generation. Called while no streaming thread runs.
  void Restart(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    generation_ = generation;
    frame_ = QImage();
    framePosted_ = false;
    error_.clear();
    failed_ = false;
  }

  // From now on nothing is posted; called before the pipeline is shut down.
  void Detach() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
  }

  void Post(unsigned msg) {
    std::lock_guard lock(mutex_);
    PostLocked(msg);
  }

  // The first error is the one reported; each error is posted.
  void ReportError(const QString& text) {
    std::lock_guard lock(mutex_);
    if (!failed_) error_ = text;
    failed_ = true;
    PostLocked(kErrorMessage);
  }

  bool Failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
  }

  QString Error() const {
    std::lock_guard lock(mutex_);
    return error_;
  }

  // Keeps only the newest frame; one message is outstanding at a time, so a GUI thread that
  // falls behind skips frames instead of queueing them.
  void DeliverFrame(QImage frame) {
    std::lock_guard lock(mutex_);
    frame_ = std::move(frame);
    if (!framePosted_ && window_) {
      framePosted_ = true;
      PostLocked(kFrameMessage);
    }
  }

  // The stream's bit rate as its tags give it, 0 while unknown.
  void SetBitrate(unsigned bitsPerSecond) { bitrate_ = bitsPerSecond; }
  unsigned Bitrate() const { return bitrate_; }

  QImage TakeFrame() {
    std::lock_guard lock(mutex_);
    framePosted_ = false;
    return std::exchange(frame_, QImage());
  }

 private:
  void PostLocked(unsigned msg) {
    if (window_) window_->PostMessage(msg, generation_);
  }

  std::uint64_t generation_;
  const QByteArray soundFont_;
  mutable std::mutex mutex_;
  MessageWindow* window_;
  QImage frame_;
  bool framePosted_ = false;
  QString error_;
  bool failed_ = false;
  std::atomic<unsigned> bitrate_{0};
};

// Called on whichever thread posts a bus message. Messages are only recorded or passed on,
// and then dropped, so none piles up on the bus.
GstBusSyncReply OnBusMessage(GstBus* /*bus*/, GstMessage* message, gpointer data) {
  auto* link = static_cast<PipelineLink*>(data);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      link->ReportError(error ? QString::fromUtf8(error->message)
                              : QStringLiteral("The media service failed."));
      g_clear_error(&error);
      break;
    }
    case GST_MESSAGE_EOS:
      link->Post(kEndMessage);
      break;
    case GST_MESSAGE_CLOCK_LOST:
      link->Post(kClockLostMessage);
      break;
    case GST_MESSAGE_TAG: {
      GstTagList* tags = nullptr;
      gst_message_parse_tag(message, &tags);
      guint bitrate = 0;
      if (gst_tag_list_get_uint(tags, GST_TAG_NOMINAL_BITRATE, &bitrate) ||
          gst_tag_list_get_uint(tags, GST_TAG_BITRATE, &bitrate)) {
        link->SetBitrate(bitrate);
      }
      gst_tag_list_unref(tags);
      break;
    }
    default:
      break;
  }
  return GST_BUS_DROP;
}

// A deep copy of a 32-bit frame, so the buffer goes back to GStreamer at once.
QImage FrameImage(GstSample* sample) {
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstVideoInfo info;
  if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return {};
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return {};
  const QImage view(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                    GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                    GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32);
  QImage copy = view.copy();
  gst_video_frame_unmap(&frame);
  return copy;
}

// The video sink's callbacks, on a streaming thread. The sample stays ours to release.
GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer data) {
  if (GstSample* sample = gst_app_sink_pull_preroll(sink)) {
    static_cast<PipelineLink*>(data)->DeliverFrame(FrameImage(sample));
    gst_sample_unref(sample);
  }
  return GST_FLOW_OK;
}

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
  if (GstSample* sample = gst_app_sink_pull_sample(sink)) {
    static_cast<PipelineLink*>(data)->DeliverFrame(FrameImage(sample));
    gst_sample_unref(sample);
  }
  return GST_FLOW_OK;
}

// Applies the channel choice to each buffer of interleaved 32-bit float stereo, on a
// streaming thread; the choice may change between two buffers.
GstPadProbeReturn OnAudioBuffer(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer /*data*/) {
  const AudioChannels channels = CurrentAudioChannels();
  if (channels.left && channels.right) return GST_PAD_PROBE_OK;
  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return GST_PAD_PROBE_OK;
  constexpr std::size_t kSample = sizeof(float);
  for (std::size_t at = 0; at + 2 * kSample <= map.size; at += 2 * kSample) {
    float left = 0.0F;
    float right = 0.0F;
    std::memcpy(&left, map.data + at, kSample);
    std::memcpy(&right, map.data + at + kSample, kSample);
    const float value = channels.left ? left : (channels.right ? right : 0.0F);
    std::memcpy(map.data + at, &value, kSample);
    std::memcpy(map.data + at + kSample, &value, kSample);
  }
  gst_buffer_unmap(buffer, &map);
  return GST_PAD_PROBE_OK;
}

// playbin's audio sink: any input converted to float stereo, the channel choice, the sound
// server. The choice sits right before the sink, so a change is heard within the sink's
// latency; in playbin's audio filter a second of queued audio would lie behind it.
GstElement* MakeAudioSink() {
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* shape = gst_element_factory_make("capsfilter", nullptr);
  GstElement* pulse = gst_element_factory_make("pulsesink", nullptr);
  if (!convert || !shape || !pulse) {
    for (GstElement* element : {convert, shape, pulse}) {
      if (element) gst_object_unref(gst_object_ref_sink(element));
    }
    return nullptr;
  }
  GstCaps* caps = gst_caps_from_string(
      "audio/x-raw,format=" GST_AUDIO_NE(F32) ",layout=interleaved,channels=2");
  g_object_set(shape, "caps", caps, nullptr);
  gst_caps_unref(caps);
  g_object_set(pulse, "client-name", "Sonarelle", nullptr);

  GstElement* bin = gst_bin_new("audiosink");
  gst_bin_add_many(GST_BIN(bin), convert, shape, pulse, nullptr);
  gst_element_link_many(convert, shape, pulse, nullptr);
  GstPad* sink = gst_element_get_static_pad(convert, "sink");
  gst_element_add_pad(bin, gst_ghost_pad_new("sink", sink));
  gst_object_unref(sink);
  GstPad* src = gst_element_get_static_pad(shape, "src");
  gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, &OnAudioBuffer, nullptr, nullptr);
  gst_object_unref(src);
  return bin;
}

// playbin announces every element it makes, on a streaming thread; the MIDI synthesizer
// gets its sound font before it starts.
void OnElementSetup(GstElement* /*playbin*/, GstElement* element, gpointer data) {
  const auto* link = static_cast<const PipelineLink*>(data);
  GstElementFactory* factory = gst_element_get_factory(element);
  if (!factory || link->SoundFont().isEmpty()) return;
  if (std::strcmp(GST_OBJECT_NAME(factory), "fluiddec") == 0) {
    g_object_set(element, "soundfont", link->SoundFont().constData(), nullptr);
  }
}

GstElement* MakeElement(const char* factory) {
  GstElement* element = gst_element_factory_make(factory, nullptr);
  if (!element) {
    throw EMCIDeviceError(QStringLiteral("The media service lacks its element \"%1\".")
                              .arg(QString::fromLatin1(factory)));
  }
  return element;
}

// Shuts a pipeline down on a thread of its own. A pipeline whose streaming thread never
// returns (a parser caught in a loop) would keep set_state(NULL) from returning: the caller
// waits at most `wait`, and the thread owns the pipeline and its link until they can go.
void ShutDown(GstElement* pipeline, std::unique_ptr<PipelineLink> link,
              std::chrono::milliseconds wait) {
  if (link) link->Detach();
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
  };
  auto done = std::make_shared<Done>();
  std::thread([pipeline, link = std::move(link), done]() mutable {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    link.reset();
    std::lock_guard lock(done->mutex);
    done->stopped = true;
    done->changed.notify_all();
  }).detach();
  std::unique_lock lock(done->mutex);
  done->changed.wait_for(lock, wait, [&] { return done->stopped; });
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// GLib leaves behind, on purpose, the first block of its quark table when GStreamer's many
// quarks make it grow; the block comes from GLib's library constructor, which the leak
// checker can only tell from whole stacks. GLib has no frame pointers, so stacks are
// unwound the slow way wherever GStreamer may run (tests/lsan.supp names the constructor).
extern "C" const char* __asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "fast_unwind_on_malloc=0";
}
#endif

QString MciDeviceTypeForFile(const QString& fileName) {
  const DeviceEntry* entry = FindDevice(fileName);
  return entry ? QString::fromLatin1(entry->device) : QString();
}

struct MediaDevice::Impl {
  Impl()
      : window([this](unsigned msg, std::uintptr_t wParam, std::intptr_t /*lParam*/) {
          OnMessage(msg, wParam);
        }) {}

  ~Impl() { TearDown(); }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void RequireOpen() const {
    Q_ASSERT(QThread::currentThread() == window.thread());
    if (!pipeline || opening) throw EMCIDeviceError(QString::fromLatin1(kNoMciDeviceOpen));
  }

  enum class OpenWait { kReady, kFailed, kTimedOut, kInterrupted };

  void OpenPipeline(const QString& fileName);
  OpenWait WaitForOpen();
  void TearDown();
  void Discard(std::chrono::milliseconds wait);
  void Halt();
  bool WaitForState(Clock::duration timeout);
  void SeekToStart();
  void Play();
  std::int64_t Length();
  std::int64_t Position();
  void OnMessage(unsigned msg, std::uintptr_t generation);
  void AttachSurface();
  void DetachSurface();
  void Notify(MediaNotice notice) {
    if (notify) notify(notice);
  }

  MessageWindow window;
  std::uint64_t generation = 0;
  GstElement* pipeline = nullptr;
  GstElement* videoSink = nullptr;  // owned by the pipeline
  std::unique_ptr<PipelineLink> link;
  MediaMode mode = MediaMode::kClosed;
  bool ended = false;
  bool halted = false;     // in READY after a failure; Length and Position hold their last values
  bool opening = false;    // Open waits, the event loop running
  bool abandoned = false;  // closed while opening
  std::chrono::milliseconds openTimeLimit{MediaDevice::kDefaultOpenTimeLimit};
  std::int64_t lengthMs = 0;
  std::int64_t positionMs = 0;
  QSize naturalSize;
  QRect displayRect;
  QImage frame;
  QString lastError;
  QPointer<QWidget> display;
  QPointer<VideoSurface> surface;
  std::function<void(MediaNotice)> notify;
};

void MediaDevice::Impl::OpenPipeline(const QString& fileName) {
  Q_ASSERT(QThread::currentThread() == window.thread());
  InitGStreamer();
  lastError.clear();
  if (fileName.isEmpty()) throw EMCIDeviceError(QStringLiteral("No file name was given."));
  GError* uriError = nullptr;
  gchar* uri = gst_filename_to_uri(QFile::encodeName(fileName).constData(), &uriError);
  if (!uri) {
    const QString text = uriError ? QString::fromUtf8(uriError->message) : fileName;
    g_clear_error(&uriError);
    throw EMCIDeviceError(text);
  }
  const DeviceEntry* entry = FindDevice(fileName);
  const bool video = !entry || entry->video;

  // Built one element at a time; until playbin holds an element, its floating reference
  // is ours, and a failure on the way releases what was made.
  GstElement* playbin = nullptr;
  GstElement* audioSink = nullptr;
  GstElement* appSink = nullptr;
  try {
    playbin = static_cast<GstElement*>(gst_object_ref_sink(MakeElement("playbin")));
    audioSink = MakeAudioSink();
    if (!audioSink) {
      throw EMCIDeviceError(QStringLiteral("The media service lacks its sound output."));
    }
    if (video) appSink = MakeElement("appsink");
  } catch (...) {
    g_free(uri);
    for (GstElement* element : {audioSink, appSink}) {
      if (element) gst_object_unref(gst_object_ref_sink(element));
    }
    if (playbin) gst_object_unref(playbin);
    throw;
  }

  guint flags = kPlayAudio | kPlaySoftVolume;
  if (appSink) {
    flags |= kPlayVideo;
    GstCaps* caps = gst_caps_from_string(
        Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? "video/x-raw,format=BGRx" : "video/x-raw,format=xRGB");
    g_object_set(appSink, "caps", caps, "enable-last-sample", FALSE, "qos", TRUE, nullptr);
    gst_caps_unref(caps);
    g_object_set(playbin, "video-sink", appSink, nullptr);
  }
  g_object_set(playbin, "uri", uri, "flags", flags, "audio-sink", audioSink, nullptr);
  g_free(uri);

  pipeline = playbin;
  videoSink = appSink;
  link = std::make_unique<PipelineLink>(++generation, &window, SoundFontPath());
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_bus_set_sync_handler(bus, &OnBusMessage, link.get(), nullptr);
  gst_object_unref(bus);
  g_signal_connect(pipeline, "element-setup", G_CALLBACK(&OnElementSetup), link.get());
  if (videoSink) {
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = &OnNewPreroll;
    callbacks.new_sample = &OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(videoSink), &callbacks, link.get(), nullptr);
  }

  // Paused with the first buffers decoded: length, position and the video size are known.
  const bool started =
      gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
  const OpenWait result = started ? WaitForOpen() : OpenWait::kFailed;
  if (result != OpenWait::kReady) {
    QString text = link->Error();
    if (result == OpenWait::kTimedOut) {
      text = QString::fromLatin1(kOpenTimedOut)
                 .arg(std::chrono::ceil<std::chrono::seconds>(openTimeLimit).count());
    } else if (result == OpenWait::kInterrupted) {
      text = QString::fromLatin1(kOpenInterrupted);
    } else if (text.isEmpty()) {
      text = QString::fromLatin1(kCannotOpen);
    }
    // A pipeline that did not preroll in time may never stop: it is not waited for.
    Discard(result == OpenWait::kFailed ? kStopTimeout : std::chrono::milliseconds(0));
    if (result == OpenWait::kInterrupted) throw EMCIOpenCalledOff(text);
    throw EMCIDeviceError(text);
  }

  if (videoSink) {
    GstPad* pad = gst_element_get_static_pad(videoSink, "sink");
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
      GstVideoInfo info;
      if (gst_video_info_from_caps(&info, caps)) {
        naturalSize = QSize(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
      }
      gst_caps_unref(caps);
    }
    gst_object_unref(pad);
  }
  displayRect = QRect(QPoint(0, 0), naturalSize);
  mode = MediaMode::kStopped;
  AttachSurface();
}

void MediaDevice::Impl::TearDown() {
  if (opening) {
    // The waiting Open gives the pipeline up itself.
    abandoned = true;
    return;
  }
  Discard(kStopTimeout);
}

// Every streaming thread has stopped when this returns, unless one did not within `wait`:
// that pipeline goes on stopping on a thread of its own, and nothing of it is heard again.
void MediaDevice::Impl::Discard(std::chrono::milliseconds wait) {
  if (pipeline) {
    ShutDown(pipeline, std::move(link), wait);
    pipeline = nullptr;
    videoSink = nullptr;
  }
  link.reset();
  DetachSurface();
  mode = MediaMode::kClosed;
  ended = false;
  halted = false;
  lengthMs = 0;
  positionMs = 0;
  naturalSize = QSize();
  displayRect = QRect();
  frame = QImage();
}

// Waits until the pipeline has prerolled, keeping the event loop running: the windows
// repaint, timers tick and posted messages (a take's buffers, a termination signal) are
// handled meanwhile. The user's input waits until Open returns, so nothing else starts.
MediaDevice::Impl::OpenWait MediaDevice::Impl::WaitForOpen() {
  const auto deadline = Clock::now() + openTimeLimit;
  std::optional<Clock::time_point> failedAt;
  std::optional<OpenWait> result;
  const auto check = [&] {
    const GstStateChangeReturn state = gst_element_get_state(pipeline, nullptr, nullptr, 0);
    if (state == GST_STATE_CHANGE_FAILURE && !failedAt) failedAt = Clock::now();
    if (abandoned) {
      result = OpenWait::kInterrupted;
    } else if (link->Failed()) {
      result = OpenWait::kFailed;
    } else if (failedAt) {
      // The element that failed posts its reason on its own thread, at times just after.
      if (Clock::now() >= *failedAt + kReasonWait) result = OpenWait::kFailed;
    } else if (state != GST_STATE_CHANGE_ASYNC) {
      result = OpenWait::kReady;
    } else if (Clock::now() >= deadline) {
      result = OpenWait::kTimedOut;
    }
    return result.has_value();
  };
  if (QCoreApplication::instance() == nullptr) {
    while (!check()) QThread::msleep(kOpenPollMs);
    return *result;
  }
  opening = true;
  abandoned = false;
  if (!check()) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kOpenPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (check()) loop.quit();
    });
    poll.start();
    // Returns at once, or early, when the application is quitting.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  opening = false;
  return abandoned || !result ? OpenWait::kInterrupted : *result;
}

// Waits until a state change or a flushing seek has completed; false at the deadline or
// when the pipeline failed.
bool MediaDevice::Impl::WaitForState(Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const GstStateChangeReturn result =
        gst_element_get_state(pipeline, nullptr, nullptr, kWaitSlice);
    if (result == GST_STATE_CHANGE_FAILURE || link->Failed()) return false;
    if (result != GST_STATE_CHANGE_ASYNC) return true;
    if (Clock::now() >= deadline) return false;
  }
}

// The pipeline starts again from READY rather than seeking: a flushing seek empties the
// sound server's stream while it is corked (stopped or at the end), and under load that
// stream's clock then at times jumps far ahead, which freezes the position at the start and
// keeps the end from ever coming. From READY the sound output opens a fresh stream.
void MediaDevice::Impl::SeekToStart() {
  gst_element_set_state(pipeline, GST_STATE_READY);  // every streaming thread has stopped
  link->Restart(++generation);
  halted = false;
  ended = false;
  positionMs = 0;
  lastError.clear();
  gst_element_set_state(pipeline,
                        mode == MediaMode::kPlaying ? GST_STATE_PLAYING : GST_STATE_PAUSED);
  if (!WaitForState(kSeekTimeout) && link->Failed()) {
    // It failed again before it played: the caller hears why, and nothing is noticed later.
    lastError = link->Error();
    Halt();
    throw EMCIDeviceError(lastError);
  }
}

// After a failure: the pipeline stops in READY, so nothing more of the failed run is posted
// and the next SeekToStart can start it afresh.
void MediaDevice::Impl::Halt() {
  gst_element_set_state(pipeline, GST_STATE_READY);
  link->Restart(++generation);
  halted = true;
  ended = false;
  mode = MediaMode::kStopped;
}

void MediaDevice::Impl::Play() {
  RequireOpen();
  if (halted || ended || (Length() > 0 && Position() >= Length())) SeekToStart();
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  mode = MediaMode::kPlaying;
}

std::int64_t MediaDevice::Impl::Length() {
  RequireOpen();
  if (halted) return lengthMs;
  gint64 duration = -1;
  if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0) {
    lengthMs = static_cast<std::int64_t>(duration / GST_MSECOND);
    return lengthMs;
  }
  // A stream whose headers give no length (an MP3 of constant rate without a Xing header)
  // is measured by its parser only after a while of playing; until then the file size and
  // the bit rate tell it.
  gint64 bytes = -1;
  const unsigned bitrate = link->Bitrate();
  if (bitrate > 0 && gst_element_query_duration(pipeline, GST_FORMAT_BYTES, &bytes) && bytes > 0) {
    lengthMs = static_cast<std::int64_t>(bytes) * 8000 / bitrate;
    return lengthMs;
  }
  return 0;
}

std::int64_t MediaDevice::Impl::Position() {
  RequireOpen();
  const std::int64_t length = Length();
  if (ended) return length;
  gint64 position = -1;
  if (!halted && gst_element_query_position(pipeline, GST_FORMAT_TIME, &position) &&
      position >= 0) {
    positionMs = static_cast<std::int64_t>(position / GST_MSECOND);
  }
  return length > 0 ? std::min(positionMs, length) : positionMs;
}

void MediaDevice::Impl::OnMessage(unsigned msg, std::uintptr_t messageGeneration) {
  if (!link || messageGeneration != link->Generation()) return;  // from a closed pipeline
  // While opening, the wait reads the link itself; only the first picture is taken.
  if (opening && msg != kFrameMessage) return;
  switch (msg) {
    case kFrameMessage: {
      QImage next = link->TakeFrame();
      if (next.isNull()) return;
      frame = std::move(next);
      if (surface) surface->SetFrame(frame);
      return;
    }
    case kEndMessage:
      ended = true;
      mode = MediaMode::kStopped;
      gst_element_set_state(pipeline, GST_STATE_PAUSED);
      Notify(MediaNotice::kEndOfMedia);
      return;
    case kErrorMessage:
      // Playback cannot go on. The device halts where it failed, not at the end, so a
      // caller that watches the position does not take the failure for the end of the media.
      lastError = link->Error();
      (void)Position();  // keeps where it failed
      Halt();
      Notify(MediaNotice::kError);
      return;
    case kClockLostMessage:
      // A new clock is chosen on the way from paused to playing.
      if (mode == MediaMode::kPlaying) {
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
      }
      return;
    default:
      return;
  }
}

void MediaDevice::Impl::AttachSurface() {
  DetachSurface();
  if (!pipeline || !display) return;
  surface = new VideoSurface(display);  // owned by the panel
  surface->setGeometry(displayRect);
  surface->SetFrame(frame);
  surface->show();
}

void MediaDevice::Impl::DetachSurface() {
  if (surface) {
    surface->hide();
    surface->deleteLater();
  }
  surface = nullptr;
}

MediaDevice::MediaDevice() : impl_(std::make_unique<Impl>()) {}

MediaDevice::~MediaDevice() = default;

void MediaDevice::Open(const QString& fileName) {
  if (impl_->opening) throw EMCIDeviceError(QString::fromLatin1(kStillOpening));
  Close();
  impl_->OpenPipeline(fileName);
}

void MediaDevice::Close() {
  impl_->TearDown();
}

bool MediaDevice::IsOpen() const {
  return impl_->pipeline != nullptr && !impl_->opening;
}

bool MediaDevice::Opening() const {
  return impl_->opening;
}

void MediaDevice::SetOpenTimeLimit(std::chrono::milliseconds limit) {
  impl_->openTimeLimit = limit;
}

MediaMode MediaDevice::Mode() const {
  return impl_->mode;
}

void MediaDevice::Play() {
  impl_->Play();
}

void MediaDevice::Pause() {
  impl_->RequireOpen();
  switch (impl_->mode) {
    case MediaMode::kPlaying:
      gst_element_set_state(impl_->pipeline, GST_STATE_PAUSED);
      impl_->mode = MediaMode::kPaused;
      break;
    case MediaMode::kPaused:
      impl_->Play();
      break;
    case MediaMode::kStopped:
      // Already halted; a second Pause then plays on.
      impl_->mode = MediaMode::kPaused;
      break;
    case MediaMode::kClosed:
      break;
  }
}

void MediaDevice::Stop() {
  impl_->RequireOpen();
  if (!impl_->halted) gst_element_set_state(impl_->pipeline, GST_STATE_PAUSED);
  impl_->mode = MediaMode::kStopped;
}

void MediaDevice::Rewind() {
  impl_->RequireOpen();
  impl_->SeekToStart();
}

std::int64_t MediaDevice::Length() const {
  return impl_->Length();
}

std::int64_t MediaDevice::Position() const {
  return impl_->Position();
}

QSize MediaDevice::NaturalSize() const {
  return impl_->naturalSize;
}

void MediaDevice::SetDisplay(QWidget* panel) {
  impl_->display = panel;
  impl_->AttachSurface();
}

QWidget* MediaDevice::Display() const {
  return impl_->display;
}

QRect MediaDevice::DisplayRect() const {
  return impl_->displayRect;
}

void MediaDevice::SetDisplayRect(const QRect& rect) {
  if (!impl_->pipeline) return;  // a closed device has no picture to place
  impl_->displayRect = rect;
  if (impl_->surface) impl_->surface->setGeometry(rect);
}

QString MediaDevice::LastError() const {
  return impl_->lastError;
}

void MediaDevice::SetNotify(std::function<void(MediaNotice)> notify) {
  impl_->notify = std::move(notify);
}

}  // namespace sonarelle
