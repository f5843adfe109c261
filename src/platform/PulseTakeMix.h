#pragma once

// The "Voice and accompaniment" capture on the sound server; only PulseWaveIn.cpp uses it.
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <map>
#include <vector>

#include "platform/TakeMixer.h"

namespace sonarelle {

// Records the default microphone and, through monitors of this process's own playback
// streams (never the whole sink), what the program plays, and hands on the two mixed in
// the take's format. The voice stream sets the pace; it runs from the connection on and
// keeps only what was captured between Start and Stop. Used with the loop's lock held; its
// callbacks run on the loop's thread.
class PulseTakeMix {
 public:
  using Output = std::function<void(const char* data, std::size_t size)>;
  using Failure = std::function<void(int error)>;

  PulseTakeMix(pa_context* context, const pa_sample_spec& take, Output output, Failure failure);
  ~PulseTakeMix();
  PulseTakeMix(const PulseTakeMix&) = delete;
  PulseTakeMix& operator=(const PulseTakeMix&) = delete;

  // Connects the voice stream and starts following the playback; PA_OK or a server error.
  int Connect();
  pa_stream* Voice() const { return voice_; }

  // Whether the streams have run long enough for their times to be steady (a stream's
  // first reads come with times that are still on the move), the accompaniment's as well
  // as the voice's, so that neither moves once the take has begun.
  bool Settled() const;
  // The take begins now.
  void Start();
  // The take ends now; what was captured until now may still be on its way (Complete).
  void Stop();
  // Whether everything captured until Stop has come in.
  bool Complete() const;
  // Mixes all the voice read into the output.
  void Flush();
  // Forgets the voice read and not handed on.
  void DropVoice();

 private:
  // The monitor of one playback stream of ours.
  struct Accompaniment {
    Accompaniment(PulseTakeMix* mix, std::uint32_t index, unsigned rate)
        : owner(mix), input(index), clock(rate) {}
    PulseTakeMix* owner = nullptr;
    std::uint32_t input = PA_INVALID_INDEX;
    pa_stream* stream = nullptr;
    StreamClock clock;
    std::int64_t heardAfter = 0;  // frames from the speakers to the singer's ears
    bool gone = false;
    std::vector<float> samples;  // the read being placed
  };

  static void OnVoiceRead(pa_stream* stream, std::size_t bytes, void* user);
  static void OnVoiceState(pa_stream* stream, void* user);
  static void OnAccompanimentRead(pa_stream* stream, std::size_t bytes, void* user);
  static void OnAccompanimentState(pa_stream* stream, void* user);
  static void OnEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                      void* user);
  static void OnSinkInput(pa_context* context, const pa_sink_input_info* info, int eol, void* user);
  static void OnSink(pa_context* context, const pa_sink_info* info, int eol, void* user);

  void ReadVoice(bool all);
  void Follow(std::uint32_t input, const pa_sink_info& sink);
  void Unfollow(std::uint32_t input);
  void Keep(pa_operation* op);
  void Sweep();

  pa_context* context_;
  pa_sample_spec take_;
  Output output_;
  Failure failure_;
  TakeMixer mixer_;
  StreamClock voiceClock_;
  pa_stream* voice_ = nullptr;
  bool failed_ = false;
  bool listed_ = false;        // the playback streams there were at the start are known
  std::int64_t voiceEnd_ = 0;  // frame after the last one read
  // The take: voice frames from startFrame_ on, up to stopFrame_.
  std::int64_t startFrame_ = std::numeric_limits<std::int64_t>::max();
  std::int64_t stopFrame_ = std::numeric_limits<std::int64_t>::max();
  std::list<Accompaniment> accompaniments_;         // stable addresses: the callbacks hold them
  std::map<std::uint32_t, std::uint32_t> waiting_;  // playback stream -> its sink, not followed yet
  std::vector<pa_operation*> operations_;           // still running, cancelled when the take ends
  std::vector<float> voiceSamples_;
  std::vector<char> mixed_;
};

}  // namespace sonarelle
