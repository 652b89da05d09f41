// The backends on a machine with neither an ALSA sequencer nor a JACK server: empty
// lists, clear refusals, and not a word on stderr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "midi/backends/MidiBackends.h"
#include "midi/backends/alsa/AlsaMidiServices.h"
#include "midi/backends/jack/JackMidiServices.h"

namespace {

int g_callbacks = 0;
void Count(HMidiOut, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) { ++g_callbacks; }

class NoTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
    // A server name nobody runs.
    setenv("JACK_DEFAULT_SERVER", ("quillmark-none-" + std::to_string(getpid())).c_str(), 1);
    g_callbacks = 0;
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(g_callbacks, 0);
  }

  static void ExpectEmptyLists(MidiServices& services) {
    std::string name;
    EXPECT_EQ(services.OutDeviceCount(), 0u);
    EXPECT_EQ(services.InDeviceCount(), 0u);
    EXPECT_FALSE(services.OutDeviceName(0, name));
    EXPECT_FALSE(services.InDeviceName(0, name));
    HMidiOut device = reinterpret_cast<HMidiOut>(&name);
    EXPECT_EQ(services.Open(&device, 0, &Count, 0), QM_MMSYSERR_BADDEVICEID);
    EXPECT_EQ(device, nullptr);
  }
};

TEST_F(NoTransportTest, AlsaListsNothingAndRefusesTheVirtualPort) {
  AlsaMidiServices alsa;
  ExpectEmptyLists(alsa);
  EXPECT_FALSE(alsa.HasSequencer());
  HMidiOut device = nullptr;
  const MidiResult result = alsa.Open(&device, QM_MIDI_MAPPER, &Count, 0);
  EXPECT_EQ(result, kAlsaNoSequencer);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(alsa.ErrorText(result).find("ALSA sequencer"), std::string::npos);
}

TEST_F(NoTransportTest, JackListsNothingAndSaysTheServerIsNotRunning) {
  JackMidiServices jack;
  ExpectEmptyLists(jack);
  HMidiOut device = nullptr;
  const MidiResult result = jack.Open(&device, QM_MIDI_MAPPER, &Count, 0);
  EXPECT_EQ(result, kJackServerGone);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(jack.ErrorText(result).find("JACK server is not running"), std::string::npos);
}

TEST_F(NoTransportTest, PlatformServicesFallBackToJackForTheVirtualPort) {
  std::unique_ptr<MidiServices> services = CreateMidiServices();
  ExpectEmptyLists(*services);
  HMidiOut device = nullptr;
  const MidiResult result = services->Open(&device, QM_MIDI_MAPPER, &Count, 0);
  EXPECT_EQ(result, kJackServerGone);
  EXPECT_EQ(services->ErrorText(result), JackMidiServices().ErrorText(kJackServerGone));
  // A device number the empty list cannot hold is explained by the missing server.
  EXPECT_EQ(services->ErrorText(QM_MMSYSERR_BADDEVICEID), services->ErrorText(result));
}

}  // namespace
