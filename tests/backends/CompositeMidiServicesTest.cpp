#include "midi/backends/CompositeMidiServices.h"

#include <gtest/gtest.h>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/jack/JackMidiServices.h"

namespace {

struct Recorded {
  HMidiOut device = nullptr;
  unsigned message = 0;
  std::uintptr_t instance = 0;
  std::uintptr_t param1 = 0;
};
std::vector<Recorded> g_recorded;

void Record(HMidiOut device, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
            std::uintptr_t) {
  g_recorded.push_back({device, message, instance, param1});
}

class CompositeMidiServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorded.clear();
    auto first = std::make_unique<FakeMidiServices>();
    first->outNames = {"seq A:out 1", "seq A:out 2"};
    first->inNames = {"seq A:in"};
    auto second = std::make_unique<FakeMidiServices>();
    second->outNames = {"jack B:in"};
    second->inNames = {"jack B:out 1", "jack B:out 2"};
    alsa = first.get();
    jack = second.get();
    composite.Add(std::move(first), [this] { return alsaHasVirtualPort; });
    composite.Add(std::move(second));
  }

  CompositeMidiServices composite;
  FakeMidiServices* alsa = nullptr;
  FakeMidiServices* jack = nullptr;
  bool alsaHasVirtualPort = true;
};

TEST_F(CompositeMidiServicesTest, NumbersRunOverTheFirstBackendThenTheNext) {
  EXPECT_EQ(composite.OutDeviceCount(), 3u);
  EXPECT_EQ(composite.InDeviceCount(), 3u);
  const std::vector<std::pair<unsigned, const char*>> outputs = {
      {0, "seq A:out 1"}, {1, "seq A:out 2"}, {2, "jack B:in"}};
  for (const auto& [device, expected] : outputs) {
    std::string name;
    ASSERT_TRUE(composite.OutDeviceName(device, name)) << device;
    EXPECT_EQ(name, expected);
  }
  const std::vector<std::pair<unsigned, const char*>> inputs = {
      {0, "seq A:in"}, {1, "jack B:out 1"}, {2, "jack B:out 2"}};
  for (const auto& [device, expected] : inputs) {
    std::string name;
    ASSERT_TRUE(composite.InDeviceName(device, name)) << device;
    EXPECT_EQ(name, expected);
  }
  std::string name;
  EXPECT_FALSE(composite.OutDeviceName(3, name));
  EXPECT_FALSE(composite.InDeviceName(3, name));

  // A backend whose list changed moves the numbers after it at the next count.
  alsa->outNames.pop_back();
  EXPECT_EQ(composite.OutDeviceCount(), 2u);
  ASSERT_TRUE(composite.OutDeviceName(1, name));
  EXPECT_EQ(name, "jack B:in");
}

TEST(CompositeMidiServicesLabelTest, TheSamePortThroughTwoTransportsGetsTwoLabels) {
  // PipeWire offers one interface both on the sequencer and on its JACK server.
  CompositeMidiServices composite;
  for (const char* transport : {"ALSA", "JACK"}) {
    auto backend = std::make_unique<FakeMidiServices>();
    backend->outNames = {"USB MIDI Interface:0"};
    composite.Add(std::move(backend), {}, transport);
  }
  auto untold = std::make_unique<FakeMidiServices>();
  untold->outNames = {"midi-monitor:input"};
  composite.Add(std::move(untold));
  EXPECT_EQ(OutDeviceLabels(composite), (std::vector<std::string>{"USB MIDI Interface:0 (ALSA)",
                                                                  "USB MIDI Interface:0 (JACK)",
                                                                  "midi-monitor:input"}));
  EXPECT_EQ(OutDeviceNames(composite), (std::vector<std::string>{"USB MIDI Interface:0", "USB MIDI Interface:0",
                                                                 "midi-monitor:input"}))
      << "the names stay the transports' own";
  std::string label;
  EXPECT_FALSE(composite.OutDeviceLabel(3, label));
}

TEST_F(CompositeMidiServicesTest, OpenGoesToTheBackendOfTheNumberWithItsOwnNumber) {
  const std::vector<std::tuple<std::uint32_t, FakeMidiServices**, std::uint32_t>> cases = {
      {0, &alsa, 0}, {1, &alsa, 1}, {2, &jack, 0}};
  composite.OutDeviceCount();
  for (const auto& [device, backend, local] : cases) {
    HMidiOut handle = nullptr;
    ASSERT_EQ(composite.Open(&handle, device, &Record, 7), 0u) << device;
    EXPECT_EQ((*backend)->OpenDevices(), 1) << device;
    EXPECT_EQ((*backend)->LastOpenedDevice(), local) << device;
    EXPECT_EQ(composite.Close(handle), 0u);
    EXPECT_EQ((*backend)->OpenDevices(), 0);
  }
  HMidiOut handle = nullptr;
  EXPECT_EQ(composite.Open(&handle, 3, &Record, 7), QM_MMSYSERR_BADDEVICEID);
  EXPECT_EQ(handle, nullptr);
}

TEST_F(CompositeMidiServicesTest, VirtualPortOpensOnTheFirstBackendThatHasOne) {
  HMidiOut handle = nullptr;
  ASSERT_EQ(composite.Open(&handle, QM_MIDI_MAPPER, &Record, 1), 0u);
  EXPECT_EQ(alsa->LastOpenedDevice(), QM_MIDI_MAPPER);
  EXPECT_EQ(alsa->OpenDevices(), 1);
  composite.Close(handle);

  alsaHasVirtualPort = false;
  ASSERT_EQ(composite.Open(&handle, QM_MIDI_MAPPER, &Record, 1), 0u);
  EXPECT_EQ(jack->LastOpenedDevice(), QM_MIDI_MAPPER);
  EXPECT_EQ(jack->OpenDevices(), 1);
  EXPECT_EQ(alsa->OpenDevices(), 0);
  composite.Close(handle);
}

TEST_F(CompositeMidiServicesTest, CallbacksCarryTheCompositeHandleAndTheCallersInstance) {
  composite.OutDeviceCount();
  HMidiOut handle = nullptr;
  ASSERT_EQ(composite.Open(&handle, 2, &Record, 42), 0u);
  MidiHeader header;
  std::uint8_t data[3] = {0xF0, 0x01, 0xF7};
  header.lpData = data;
  header.dwBufferLength = 3;
  ASSERT_EQ(composite.PrepareHeader(handle, &header, kMidiHeaderSize), 0u);
  ASSERT_EQ(composite.LongMsg(handle, &header, kMidiHeaderSize), 0u);
  EXPECT_EQ(jack->LongMessages(), (std::vector<std::vector<std::uint8_t>>{{0xF0, 0x01, 0xF7}}));
  EXPECT_TRUE(alsa->LongMessages().empty());
  ASSERT_EQ(composite.UnprepareHeader(handle, &header, kMidiHeaderSize), 0u);
  composite.Close(handle);

  std::vector<unsigned> messages;
  for (const Recorded& recorded : g_recorded) {
    messages.push_back(recorded.message);
    EXPECT_EQ(recorded.device, handle);
    EXPECT_EQ(recorded.instance, 42u);
  }
  ASSERT_EQ(messages, (std::vector<unsigned>{QM_MOM_OPEN, QM_MOM_DONE, QM_MOM_CLOSE}));
  EXPECT_EQ(g_recorded[1].message, QM_MOM_DONE);
  EXPECT_EQ(g_recorded[1].param1, reinterpret_cast<std::uintptr_t>(&header));
}

TEST_F(CompositeMidiServicesTest, TheEngineSendsThroughTheCompositeAndGetsItsBuffersBack) {
  ManualUiQueue ui;
  ASSERT_EQ(StreamLibInit(&composite, &ui), 1);
  OutputStream* stream = nullptr;
  ASSERT_EQ(OpenOutputStream(&stream, nullptr, 2, nullptr, CMidiXmit::kOpenOptions), 0u);
  for (std::uint8_t byte : {0xF0, 0x12, 0xF7}) {
    const MidiEvent event{0, 0xF0u | (static_cast<std::uint32_t>(byte) << 8)};
    ASSERT_EQ(PutOutputEvent(stream, &event), 0);
  }
  ui.Pump();
  EXPECT_EQ(jack->LongMessages(), (std::vector<std::vector<std::uint8_t>>{{0xF0, 0x12, 0xF7}}));
  EXPECT_EQ(stream->sysexFree, stream->sysexFreeMax);
  EXPECT_EQ(CloseOutputStream(&stream), 0u);
  EXPECT_EQ(StreamLibExit(), 1);
  EXPECT_TRUE(jack->Violations().empty());
}

TEST(CompositeErrorTextTest, ABackendsOwnCodeGetsThatBackendsText) {
  CompositeMidiServices composite;
  composite.Add(std::make_unique<FakeMidiServices>());
  auto jack = std::make_unique<JackMidiServices>();
  const std::string jackText = jack->ErrorText(kJackServerGone);
  composite.Add(std::move(jack));
  EXPECT_EQ(composite.ErrorText(kJackServerGone), jackText);
  EXPECT_NE(jackText, StandardMidiErrorText(kJackServerGone));
  EXPECT_EQ(composite.ErrorText(QM_MMSYSERR_ALLOCATED), StandardMidiErrorText(QM_MMSYSERR_ALLOCATED));
  EXPECT_EQ(composite.ErrorText(kBackendErrorBase + 0x7FF), StandardMidiErrorText(kBackendErrorBase + 0x7FF));
}

// A transport that knows why it lists nothing (as JACK does when its server is down).
class ExplainingBackend final : public MidiServices {
 public:
  static constexpr const char* kDown = "The server of this transport is not running.";
  FakeMidiServices fake;
  unsigned OutDeviceCount() override { return fake.OutDeviceCount(); }
  bool OutDeviceName(unsigned device, std::string& name) override { return fake.OutDeviceName(device, name); }
  unsigned InDeviceCount() override { return fake.InDeviceCount(); }
  bool InDeviceName(unsigned device, std::string& name) override { return fake.InDeviceName(device, name); }
  MidiResult Open(HMidiOut* device, std::uint32_t id, MidiOutCallback callback, std::uintptr_t instance) override {
    return fake.Open(device, id, callback, instance);
  }
  MidiResult PrepareHeader(HMidiOut d, MidiHeader* h, unsigned size) override { return fake.PrepareHeader(d, h, size); }
  MidiResult UnprepareHeader(HMidiOut d, MidiHeader* h, unsigned size) override {
    return fake.UnprepareHeader(d, h, size);
  }
  MidiResult ShortMsg(HMidiOut d, std::uint32_t message) override { return fake.ShortMsg(d, message); }
  MidiResult LongMsg(HMidiOut d, MidiHeader* h, unsigned size) override { return fake.LongMsg(d, h, size); }
  MidiResult Reset(HMidiOut d) override { return fake.Reset(d); }
  MidiResult Close(HMidiOut d) override { return fake.Close(d); }
  std::string ErrorText(MidiResult result) override {
    return result == QM_MMSYSERR_BADDEVICEID && fake.outNames.empty() ? kDown : StandardMidiErrorText(result);
  }
};

// A number chosen from the list and gone by the open: the transport whose port went away
// says so; the other, down the whole time, is not blamed.
TEST(CompositeErrorTextTest, ANumberPastTheListBlamesTheTransportWhoseListShrank) {
  CompositeMidiServices composite;
  auto sequencer = std::make_unique<FakeMidiServices>();
  sequencer->outNames = {"Midi Through:0", "receiver:in"};
  FakeMidiServices* seq = sequencer.get();
  auto down = std::make_unique<ExplainingBackend>();
  ExplainingBackend* other = down.get();
  other->fake.outNames.clear();
  composite.Add(std::move(sequencer), {}, "ALSA");
  composite.Add(std::move(down), {}, "JACK");
  ASSERT_EQ(composite.OutDeviceCount(), 2u);
  EXPECT_EQ(composite.ErrorText(QM_MMSYSERR_BADDEVICEID), ExplainingBackend::kDown) << "nothing went away";
  seq->outNames.pop_back();
  ASSERT_EQ(composite.OutDeviceCount(), 1u);
  EXPECT_EQ(composite.ErrorText(QM_MMSYSERR_BADDEVICEID), StandardMidiErrorText(kMidiOutputGone));
  // The transport that stopped, with a reason of its own, gives it.
  seq->outNames = {"Midi Through:0", "receiver:in"};
  other->fake.outNames = {"monitor:in"};
  ASSERT_EQ(composite.OutDeviceCount(), 3u);
  other->fake.outNames.clear();
  ASSERT_EQ(composite.OutDeviceCount(), 2u);
  EXPECT_EQ(composite.ErrorText(QM_MMSYSERR_BADDEVICEID), ExplainingBackend::kDown);
}

}  // namespace
