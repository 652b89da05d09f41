// A key press travels the whole way: remote-key message, transmit port, engine, the
// platform's device services and a JACK server with the dummy driver, to a capture client
// that compares the bytes.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "JackTestKit.h"
#include "desktop/ManualUiQueue.h"
#include "RecordingSeams.h"
#include "TestSettings.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/MidiBackends.h"
#include "midi/backends/jack/JackMidiServices.h"
#include "remote/KeyTable.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Bounds for things that take milliseconds on an idle machine. A slow machine only makes
// the tests slower; they fail only when a bound is missed by far.
constexpr auto kArrivalBound = 30s;

const Bytes kEntMessage = {
    0xF0, 0x1C, 0x60, 0x00, 0x00, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x30, 0x30, 0x30,
    0x30, 0x43, 0x37, 0x37, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x31, 0x30, 0x30, 0x30,
    0x30, 0x38, 0x32, 0x3A, 0x30, 0x32, 0x36, 0x38, 0x41, 0x45, 0x30, 0x30, 0x37, 0x43,
    0x30, 0x30, 0x36, 0x43, 0x7C, 0x46, 0x45, 0x41, 0x34, 0x35, 0x45, 0xF7};

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

// The platform's device services with what their devices called back written down: the
// bytes of each buffer that left with the frame time it was written at, and the errors.
class ObservedServices final : public MidiServices {
 public:
  explicit ObservedServices(std::unique_ptr<MidiServices> inner) : m_inner(std::move(inner)) {}

  unsigned OutDeviceCount() override { return m_inner->OutDeviceCount(); }
  bool OutDeviceName(unsigned device, std::string& name) override { return m_inner->OutDeviceName(device, name); }
  bool OutDeviceLabel(unsigned device, std::string& label) override {
    return m_inner->OutDeviceLabel(device, label);
  }
  std::string VirtualOutputLabel() override { return m_inner->VirtualOutputLabel(); }
  std::string NoOutputsText() override { return m_inner->NoOutputsText(); }
  unsigned InDeviceCount() override { return m_inner->InDeviceCount(); }
  bool InDeviceName(unsigned device, std::string& name) override { return m_inner->InDeviceName(device, name); }
  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                  std::uintptr_t instance) override {
    m_callback = callback;
    m_instance = instance;
    return m_inner->Open(device, deviceId, &ObservedServices::Callback, reinterpret_cast<std::uintptr_t>(this));
  }
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner->PrepareHeader(device, header, size);
  }
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner->UnprepareHeader(device, header, size);
  }
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override { return m_inner->ShortMsg(device, message); }
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner->LongMsg(device, header, size);
  }
  MidiResult Reset(HMidiOut device) override { return m_inner->Reset(device); }
  MidiResult Close(HMidiOut device) override { return m_inner->Close(device); }
  std::string ErrorText(MidiResult result) override { return m_inner->ErrorText(result); }

  std::vector<Bytes> Sent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent;
  }
  std::vector<std::uint32_t> WrittenAt() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writtenAt;
  }
  std::vector<std::uintptr_t> Errors() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sent.clear();
    m_writtenAt.clear();
  }

 private:
  static void Callback(HMidiOut device, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t param2) {
    auto* self = reinterpret_cast<ObservedServices*>(instance);
    {
      std::lock_guard<std::mutex> lock(self->m_mutex);
      const auto* header = reinterpret_cast<const MidiHeader*>(param1);
      if (message == QM_MOM_DONE && param2 == 0) {
        self->m_sent.emplace_back(header->lpData, header->lpData + header->dwBufferLength);
        self->m_writtenAt.push_back(static_cast<std::uint32_t>(header->reserved));
      }
      if (message == QM_MOM_ERROR) self->m_errors.push_back(param1);
    }
    self->m_callback(device, message, self->m_instance, param1, param2);
  }

  std::unique_ptr<MidiServices> m_inner;
  MidiOutCallback m_callback = nullptr;
  std::uintptr_t m_instance = 0;
  std::mutex m_mutex;
  std::vector<Bytes> m_sent;
  std::vector<std::uint32_t> m_writtenAt;
  std::vector<std::uintptr_t> m_errors;
};

class JackEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_TRUE(capture.Open(error)) << error;
    auto observing = std::make_unique<ObservedServices>(CreateMidiServices());
    observed = observing.get();
    services = std::move(observing);
    ASSERT_EQ(StreamLibInit(services.get(), &ui), 1);
    engineStarted = true;
    ASSERT_TRUE(ChooseCapturePort());
    g_pMidiXmit = &port;
  }
  void TearDown() override {
    g_pMidiXmit = nullptr;
    port.ReleasePort();
    if (engineStarted) StreamLibExit();
    capture.Close();
    server.Stop();
  }

  // Points the settings at the capture port, by name, in the current device list.
  bool ChooseCapturePort() {
    settings.midiOutDevice = capture.DeviceIn(*services);
    if (settings.midiOutDevice >= 0) return true;
    ADD_FAILURE() << "the capture port " << capture.PortName() << " is not in the device list";
    return false;
  }

  // Dispatches the UI queue until the condition holds or the bound passes.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      ui.Pump();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(200us);
    }
  }

  // Pumps until this many buffers have left the device since the last Forget, then lets
  // the capture run a few cycles: what is to arrive has arrived by then.
  bool Left(std::size_t count) {
    return PumpUntil([&] { return observed->Sent().size() >= count; }, kArrivalBound) &&
           capture.WaitForCycles(3, kArrivalBound);
  }

  // Sends the key, pumping while the engine refuses it because four buffers are away.
  bool SendAccepted(const KeyRow& row) {
    return PumpUntil([&] { return SendKey(row) == 1; }, kArrivalBound);
  }

  // What the boxes said, for a failure message.
  std::string BoxTexts() {
    std::string texts;
    for (const RecordingSeams::Box& box : seams.Boxes()) texts += box.text;
    return texts;
  }

  // CheckDelivery of what left the device since the last Forget.
  std::string Delivery() {
    return CheckDelivery(observed->Sent(), observed->WrittenAt(), capture);
  }

  JackTestServer server;
  JackCapture capture;
  std::unique_ptr<MidiServices> services;
  ObservedServices* observed = nullptr;
  ManualUiQueue ui;
  RecordingSeams seams;
  TestSettings settings;
  CMidiXmit port;
  bool engineStarted = false;
};

TEST_F(JackEndToEndTest, EntKeyArrivesByteForByte) {
  ASSERT_EQ(KeyMessageBytes("ent"), kEntMessage);
  ASSERT_EQ(SendKey(*FindKeyByName("ent")), 1) << BoxTexts();
  ASSERT_TRUE(Left(1));
  EXPECT_EQ(observed->Sent(), std::vector<Bytes>{kEntMessage});
  EXPECT_EQ(Delivery(), "");
  EXPECT_TRUE(seams.Boxes().empty()) << BoxTexts();
}

TEST_F(JackEndToEndTest, ThousandKeysArriveCompleteAndInOrder) {
  constexpr std::size_t kKeys = 1000;
  std::vector<Bytes> expected;
  for (std::size_t i = 0; i < kKeys; ++i) {
    const KeyRow& row = kKeyTable[i % kKeyTable.size()];
    expected.push_back(KeyMessageBytes(std::string(row.name).c_str()));
    ASSERT_TRUE(SendAccepted(row)) << "key " << i << " was never accepted";
    capture.Collect();
  }
  ASSERT_TRUE(Left(kKeys));
  EXPECT_EQ(observed->Sent(), expected) << "the device sent other bytes than the keys'";
  EXPECT_EQ(Delivery(), "");
  EXPECT_EQ(capture.Overflows(), 0u);
  EXPECT_TRUE(seams.Boxes().empty()) << BoxTexts();
  EXPECT_TRUE(seams.Beeps().empty());
}

TEST_F(JackEndToEndTest, StoppedServerIsReportedAsStoppedUntilARestartedOneTakesKeysAgain) {
  const KeyRow& ent = *FindKeyByName("ent");
  ASSERT_EQ(SendKey(ent), 1) << BoxTexts();
  ASSERT_TRUE(Left(1));

  server.Kill();
  // libjack cannot close a client of a dead server once a new one of that name runs; the
  // backend leaves its own as it is, the capture is ours to close at once.
  capture.Close();
  // The first sends after the crash may still be accepted; the engine reports the
  // device's failure at the next put. Every send returns at once either way.
  const bool reported = PumpUntil(
      [&] {
        SendKey(ent);
        return !seams.Boxes().empty();
      },
      kArrivalBound);
  ASSERT_TRUE(reported) << "no send failed after the server was killed";
  const std::string serverGone =
      "Error: " + services->ErrorText(kJackServerGone) + "\nError location: MidiXmit (85)\n";
  EXPECT_EQ(seams.Boxes().front().caption, "MIDI Device Error");
  EXPECT_EQ(seams.Boxes().front().text, serverGone);
  // The port let the stream go; opening it again says why it cannot, not that the
  // device number is wrong.
  EXPECT_EQ(SendKey(ent), 0) << "a dead device must keep failing";
  ASSERT_GE(seams.Boxes().size(), 2u);
  EXPECT_EQ(seams.Boxes().back().text.find("Error: " + services->ErrorText(kJackServerGone)), 0u)
      << seams.Boxes().back().text;

  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  ASSERT_TRUE(capture.Open(error)) << error;
  capture.ClearEvents();
  ASSERT_TRUE(ChooseCapturePort());
  const std::size_t boxesBefore = seams.Boxes().size();
  observed->Forget();
  ASSERT_EQ(SendKey(ent), 1) << BoxTexts();
  ASSERT_TRUE(Left(1));
  EXPECT_EQ(observed->Sent(), std::vector<Bytes>{kEntMessage});
  EXPECT_EQ(Delivery(), "");
  EXPECT_EQ(seams.Boxes().size(), boxesBefore);
}

// The server stops and comes back while the port is open and idle: the next key is the
// first the new server sees, and it must arrive.
TEST_F(JackEndToEndTest, FirstKeyAfterAServerRestartBetweenKeysArrives) {
  const KeyRow& ent = *FindKeyByName("ent");
  ASSERT_EQ(SendKey(ent), 1) << BoxTexts();
  ASSERT_TRUE(Left(1));
  server.Kill();
  capture.Close();
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  ASSERT_TRUE(capture.Open(error)) << error;
  capture.ClearEvents();
  ASSERT_GE(capture.DeviceIn(*services), 0);  // the new capture port is announced

  observed->Forget();
  ASSERT_EQ(SendKey(ent), 1);
  ASSERT_TRUE(Left(1));
  EXPECT_EQ(Delivery(), "") << "the first key after the restart";
  EXPECT_TRUE(seams.Boxes().empty()) << BoxTexts();
}

// The program the port sends to ends between two keys (a monitor or a synthesizer
// closed), the output stored by its name: the first key after it shows the device error
// with the text for an output that is not connected, and none goes to nobody unnoticed.
// Once the program is back, the next key reaches it.
TEST_F(JackEndToEndTest, FirstKeyAfterTheDestinationEndedShowsTheDeviceErrorAndItsReturnGetsTheNext) {
  const std::vector<std::string> labels = OutDeviceLabels(*services);
  const std::string label = capture.PortName() + " (JACK)";
  ASSERT_NE(std::find(labels.begin(), labels.end(), label), labels.end());
  settings.midiOutDeviceName = label;
  const KeyRow& ent = *FindKeyByName("ent");
  ASSERT_EQ(SendKey(ent), 1) << BoxTexts();
  ASSERT_TRUE(Left(1));

  capture.Close();
  // The device learns of it from the server, a moment after the program ended.
  ASSERT_TRUE(PumpUntil([&] { return !observed->Errors().empty(); }, kArrivalBound))
      << "the device did not report the destination's end";
  EXPECT_EQ(observed->Errors(), std::vector<std::uintptr_t>{kMidiOutputGone});
  EXPECT_EQ(SendKey(ent), 0);
  ASSERT_EQ(seams.Boxes().size(), 1u) << BoxTexts();
  EXPECT_EQ(seams.Boxes()[0].caption, "MIDI Device Error");
  EXPECT_EQ(seams.Boxes()[0].text, "Error: The MIDI output \"" + label +
                                       "\" is not connected. Connect it, or choose another output in "
                                       "File, Preferences.\nError location: MidiXmit (85)\n");

  std::string error;
  ASSERT_TRUE(capture.Open(error)) << error;
  capture.ClearEvents();
  observed->Forget();
  ASSERT_GE(capture.DeviceIn(*services), 0);
  const std::size_t boxes = seams.Boxes().size();
  ASSERT_EQ(SendKey(ent), 1) << BoxTexts();
  ASSERT_TRUE(Left(1));
  EXPECT_EQ(Delivery(), "");
  EXPECT_EQ(seams.Boxes().size(), boxes) << BoxTexts();
}

// The chosen output is kept by its name: another program's port that registers in between
// takes the stored number, yet the keys still reach the named port and no other; once the
// named port is gone, a key shows the device error and nothing goes anywhere.
TEST_F(JackEndToEndTest, TheNamedPortGetsTheKeysAfterTheNumbersShiftedAndNothingWhenItIsGone) {
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
  std::string error;
  ASSERT_TRUE(other.Open());
  ASSERT_TRUE(capture.Open(error)) << error;
  ASSERT_GE(capture.DeviceIn(*services), 0);  // PipeWire announces a new port a little later
  const std::vector<std::string> after = OutDeviceLabels(*services);
  ASSERT_LT(static_cast<std::size_t>(settings.midiOutDevice), after.size());
  ASSERT_EQ(after[static_cast<std::size_t>(settings.midiOutDevice)], other.PortName() + " (JACK)")
      << "the other program's port did not take the stored number";

  const KeyRow& ent = *FindKeyByName("ent");
  const KeyRow& up = *FindKeyByName("up");
  ASSERT_EQ(SendKey(ent), 1);
  ASSERT_EQ(SendKey(up), 1);
  ASSERT_TRUE(Left(2));
  EXPECT_EQ(observed->Sent(), (std::vector<Bytes>{KeyMessageBytes("ent"), KeyMessageBytes("up")}));
  EXPECT_EQ(Delivery(), "");
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
  ASSERT_TRUE(PumpUntil([&] { return other.Cycles() >= cycles + 4; }, kArrivalBound));
  EXPECT_EQ(other.Events(), 0);
}

}  // namespace
