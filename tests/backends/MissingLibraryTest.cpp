// The transports when libjack.so.0 and libasound.so.2 are found but lack functions the
// backends call (LD_LIBRARY_PATH points at stand-ins that have a few of them, each of
// which aborts): both count as missing as a whole, and the program answers as on a machine
// with no JACK server and no sequencer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "midi/backends/MidiBackends.h"
#include "midi/backends/alsa/AlsaApi.h"
#include "midi/backends/alsa/AlsaMidiServices.h"
#include "midi/backends/jack/JackApi.h"
#include "midi/backends/jack/JackMidiServices.h"

namespace {

void Ignore(HMidiOut, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}

class MissingLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("LD_LIBRARY_PATH");
    if (!path || std::string(path).find("partial-libraries") == std::string::npos) {
      GTEST_SKIP() << "runs under ctest, with LD_LIBRARY_PATH at the stand-in libraries";
    }
  }
};

TEST_F(MissingLibraryTest, NoFunctionIsTakenFromALibraryThatLacksOne) {
  EXPECT_FALSE(jackbackend::LoadJackApi());
  EXPECT_FALSE(alsabackend::LoadAlsaApi());
  // The stand-ins have these; the rest are missing.
  EXPECT_EQ(jackbackend::jack_activate, nullptr);
  EXPECT_EQ(jackbackend::jack_client_open, nullptr);
  EXPECT_EQ(jackbackend::jack_get_version_string, nullptr);
  EXPECT_EQ(alsabackend::snd_lib_error_set_handler, nullptr);
  EXPECT_EQ(alsabackend::snd_seq_open, nullptr);
}

TEST_F(MissingLibraryTest, TheTransportsAnswerAsWithoutAServer) {
  JackMidiServices jack;
  EXPECT_EQ(jack.OutDeviceCount(), 0u);
  HMidiOut device = nullptr;
  MidiResult result = jack.Open(&device, QM_MIDI_MAPPER, &Ignore, 0);
  EXPECT_EQ(result, kJackServerGone);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(jack.ErrorText(result).find("The JACK server is not running"), std::string::npos);

  AlsaMidiServices alsa;
  EXPECT_FALSE(alsa.HasSequencer());
  EXPECT_EQ(alsa.OutDeviceCount(), 0u);
  result = alsa.Open(&device, QM_MIDI_MAPPER, &Ignore, 0);
  EXPECT_EQ(result, kAlsaNoSequencer);
  EXPECT_EQ(device, nullptr);

  EXPECT_EQ(CreateMidiServices()->OutDeviceCount(), 0u);
}

}  // namespace
