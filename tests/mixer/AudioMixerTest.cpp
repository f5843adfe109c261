#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "FakeMixer.h"
#include "mixer/AudioMixer.h"

using namespace sonarelle;

namespace {

constexpr std::uint32_t kSelection = 100;

// Destination 0: a stereo master with volume and mute. Destination 1: recording with a
// selection control (MUX or MIXER) over three sources; source 2 has a mute of its own and
// source 1 a mono volume.
FakeMixer Card(std::uint32_t selectionType) {
  FakeMixer card;
  card.destinations = {
      {{0, 0, 10, 2, 0, 2, "Master"},
       {{11, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0}, {12, MIXERCONTROL_CONTROLTYPE_MUTE, 0, 0}}},
      {{1, 0, 20, 2, 0, 1, "Recording"},
       {{kSelection, selectionType, MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
         3}}}};
  card.sources = {{},
                  {{{1, 0, 30, 2, 0, 1, "Mic"}, {{31, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0}}},
                   {{1, 1, 40, 1, 0, 1, "Line"}, {{41, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0}}},
                   {{1, 2, 50, 2, 0, 2, "CD"},
                    {{51, MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLF_DISABLED, 0},
                     {52, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, 0}}}}};
  card.values = {{11, {65535, 30000}}, {12, {0}}, {31, {1000, 2000}},     {41, {7000}},
                 {51, {5, 5}},         {52, {1}}, {kSelection, {0, 1, 0}}};
  card.texts[kSelection] = {{30, 0, "Mic"}, {40, 0, "Line"}, {50, 0, "CD"}};
  return card;
}

struct Levels {
  int left = 0, right = 0, mute = 0;
  bool stereo = false, volumeOff = false, muteOff = false, selection = false;
  bool found = false;
};

Levels Get(TAudioMixer& mixer, int destination, int connection) {
  Levels l;
  l.found = mixer.GetLineLevels(destination, connection, l.left, l.right, l.mute, l.stereo,
                                l.volumeOff, l.muteOff, l.selection);
  return l;
}

}  // namespace

TEST(AudioMixerTest, LevelsOfTheMasterAndOfEachKindOfSource) {
  FakeMixer card = Card(MIXERCONTROL_CONTROLTYPE_MUX);
  TAudioMixer mixer(card);
  EXPECT_EQ(mixer.Manufacturer(), "2 = Unknown");

  const Levels master = Get(mixer, 0, -1);
  EXPECT_TRUE(master.found && master.stereo && !master.selection);
  EXPECT_EQ(master.left, 65535);
  EXPECT_EQ(master.right, 30000);
  EXPECT_EQ(master.mute, 0);

  const Levels mic = Get(mixer, 1, 0), line = Get(mixer, 1, 1), cd = Get(mixer, 1, 2);
  EXPECT_TRUE(mic.selection && line.selection && !cd.selection);
  EXPECT_EQ(mic.mute, 0);
  EXPECT_EQ(line.mute, 1);
  EXPECT_FALSE(line.stereo);
  EXPECT_EQ(line.right, 7000);  // a mono volume answers for both sides
  EXPECT_EQ(cd.mute, 1);        // its own mute, not the selection
  EXPECT_TRUE(cd.volumeOff);

  const Levels none = Get(mixer, 5, -1);
  EXPECT_FALSE(none.found);
  EXPECT_EQ(none.left, -1);
  EXPECT_EQ(none.mute, -1);
  EXPECT_FALSE(Get(mixer, 1, 3).found);
  mixer.SetMixerId(1);  // no such mixer: nothing changes
  EXPECT_EQ(mixer.MixerId(), 0);
  EXPECT_TRUE(Get(mixer, 1, 0).found);
}

TEST(AudioMixerTest, WritingTheMuteChoosesTheRecordingSource) {
  FakeMixer mux = Card(MIXERCONTROL_CONTROLTYPE_MUX);
  TAudioMixer mixer(mux);
  EXPECT_TRUE(mixer.SetLineLevels(1, 0, 9000, -1, 1));
  EXPECT_EQ(mux.values[kSelection], (std::vector<std::uint32_t>{1, 0, 0}));
  EXPECT_EQ(mux.values[31], (std::vector<std::uint32_t>{9000, 9000}));
  mixer.SetLineLevels(1, 0, -1, -1, 0);
  EXPECT_EQ(mux.values[kSelection], (std::vector<std::uint32_t>{0, 0, 0}));
  mixer.SetLineLevels(1, 1, 500, 800, -1);  // mono: only the first value
  EXPECT_EQ(mux.values[41], (std::vector<std::uint32_t>{500}));

  // A source with its own mute never touches the selection.
  const int before = mux.writes;
  mixer.SetLineLevels(1, 2, -1, -1, 0);
  EXPECT_EQ(mux.values[52], (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(mux.writes, before + 1);

  // A MIXER selection adds the source and keeps the others.
  FakeMixer mixerType = Card(MIXERCONTROL_CONTROLTYPE_MIXER);
  TAudioMixer adding(mixerType);
  adding.SetLineLevels(1, 0, -1, -1, 1);
  EXPECT_EQ(mixerType.values[kSelection], (std::vector<std::uint32_t>{1, 1, 0}));
}

TEST(AudioMixerTest, ChangesReachTheCallbacksOnTheOwnersThread) {
  FakeMixer card = Card(MIXERCONTROL_CONTROLTYPE_MUX);
  TAudioMixer mixer(card);
  std::vector<std::uint32_t> lines, controls;
  QThread* calledOn = nullptr;
  mixer.OnLineChange = [&](TAudioMixer*, MixerHandle, std::uint32_t id) { lines.push_back(id); };
  mixer.OnControlChange = [&](TAudioMixer* sender, MixerHandle handle, std::uint32_t id) {
    EXPECT_EQ(sender, &mixer);
    EXPECT_EQ(handle, 1u);
    calledOn = QThread::currentThread();
    controls.push_back(id);
  };
  std::thread driver([&] {
    card.notify(MM_MIXM_CONTROL_CHANGE, 1, 11);
    card.notify(MM_MIXM_LINE_CHANGE, 1, 20);
  });
  driver.join();
  EXPECT_TRUE(controls.empty()) << "handed on, not called on the driver's thread";
  QCoreApplication::processEvents();
  EXPECT_EQ(controls, std::vector<std::uint32_t>{11});
  EXPECT_EQ(lines, std::vector<std::uint32_t>{20});
  EXPECT_EQ(calledOn, QThread::currentThread());
}
