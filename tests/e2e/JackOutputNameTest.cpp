// The chosen output is kept by its name on a live JACK server: another program's port
// that registers in between takes the stored number, yet the keys still reach the named
// port and no other; once the named port is gone, a key shows the device error and
// nothing goes anywhere.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "JackTestKit.h"
#include "RecordingSeams.h"
#include "TestSettings.h"
#include "desktop/ManualUiQueue.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/MidiBackends.h"
#include "remote/KeyTable.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kBound = 30s;

// Another program's MIDI input: counts the events that reach it and its process cycles.
class OtherProgram {
 public:
  bool Open() {
    jack_status_t status{};
    m_client = jack_client_open("qm-other", JackNoStartServer, &status);
    if (!m_client) return false;
    m_port = jack_port_register(m_client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(m_client, &OtherProgram::Process, this);
    return m_port && jack_activate(m_client) == 0;
  }
  ~OtherProgram() {
    if (m_client) jack_client_close(m_client);
  }
  std::string PortName() const { return jack_port_name(m_port); }
  int Events() const { return m_events.load(); }
  unsigned Cycles() const { return m_cycles.load(); }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<OtherProgram*>(arg);
    self->m_events += static_cast<int>(jack_midi_get_event_count(jack_port_get_buffer(self->m_port, frames)));
    ++self->m_cycles;
    return 0;
  }
  jack_client_t* m_client = nullptr;
  jack_port_t* m_port = nullptr;
  std::atomic<int> m_events{0};
  std::atomic<unsigned> m_cycles{0};
};

class JackOutputNameTest : public ::testing::Test {
 protected:
  void TearDown() override {
    g_pMidiXmit = nullptr;
    port.ReleasePort();
    if (engineStarted) StreamLibExit();
    capture.Close();
    server.Stop();
  }

  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    for (;;) {
      ui.Pump();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(200us);
    }
  }

  JackTestServer server;
  JackCapture capture;
  std::unique_ptr<MidiServices> services;
  ManualUiQueue ui;
  RecordingSeams seams;
  TestSettings settings;
  CMidiXmit port;
  bool engineStarted = false;
};

TEST_F(JackOutputNameTest, TheNamedPortGetsTheKeysAfterTheNumbersShiftedAndNothingWhenItIsGone) {
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  ASSERT_TRUE(capture.Open(error)) << error;
  services = CreateMidiServices();
  ASSERT_EQ(StreamLibInit(services.get(), &ui), 1);
  engineStarted = true;
  g_pMidiXmit = &port;

  // What Preferences stores for the capture port: its place and its label.
  const std::vector<std::string> before = OutDeviceLabels(*services);
  const std::string label = capture.PortName() + " (JACK)";
  const auto found = std::find(before.begin(), before.end(), label);
  ASSERT_NE(found, before.end()) << "the capture port is not listed as " << label;
  settings.midiOutDevice = static_cast<std::int32_t>(found - before.begin());
  settings.midiOutDeviceName = label;

  // The capture program restarts after another program registered its port: that port
  // now has the stored number.
  capture.Close();
  OtherProgram other;
  ASSERT_TRUE(other.Open());
  ASSERT_TRUE(capture.Open(error)) << error;
  const std::vector<std::string> after = OutDeviceLabels(*services);
  ASSERT_LT(static_cast<std::size_t>(settings.midiOutDevice), after.size());
  ASSERT_EQ(after[static_cast<std::size_t>(settings.midiOutDevice)], other.PortName() + " (JACK)")
      << "the other program's port did not take the stored number";

  const KeyRow& ent = *FindKeyByName("ent");
  const KeyRow& up = *FindKeyByName("up");
  ASSERT_EQ(SendKey(ent), 1);
  ASSERT_EQ(SendKey(up), 1);
  ASSERT_TRUE(PumpUntil([&] { return capture.Collect() >= 2; }));
  ASSERT_EQ(capture.Events().size(), 2u);
  EXPECT_EQ(capture.Events()[0].bytes, KeyMessageBytes("ent"));
  EXPECT_EQ(capture.Events()[1].bytes, KeyMessageBytes("up"));
  EXPECT_EQ(other.Events(), 0);
  EXPECT_TRUE(seams.Boxes().empty());

  // The named port goes away; the next open finds it missing.
  port.ReleasePort();
  capture.Close();
  EXPECT_EQ(SendKey(ent), 0);
  ASSERT_EQ(seams.Boxes().size(), 1u);
  EXPECT_EQ(seams.Boxes()[0].text, "Error: The MIDI output \"" + label +
                                       "\" is not connected. Connect it, or choose another output in "
                                       "File, Preferences.\nError location: MidiXmit (45)\n");
  EXPECT_FALSE(port.IsOpen());
  // A few cycles later still nothing has reached the other program.
  const unsigned cycles = other.Cycles();
  ASSERT_TRUE(PumpUntil([&] { return other.Cycles() >= cycles + 4; }));
  EXPECT_EQ(other.Events(), 0);
}

}  // namespace
