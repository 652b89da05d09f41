// The ALSA backend against a scripted sequencer and a clock the test controls: where
// events are addressed, how the sequencer's refusals reach the user, and pacing at the
// speed of a MIDI wire. Last, a real sequencer where the machine has one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <functional>
#include <thread>

#include "midi/backends/alsa/AlsaMidiServices.h"

namespace {

using namespace std::chrono_literals;
using Clock = AlsaSystem::Clock;
using Bytes = std::vector<std::uint8_t>;
constexpr auto kBound = 30s;

// What the fake sequencers saw and answer; shared by every client the test opens.
struct Script {
  std::mutex mutex;
  std::vector<AlsaPortInfo> ports;
  int connectResult = 0;
  std::deque<int> outputResults;  // answered in turn; 0 once they run out
  struct Output {
    Bytes bytes;
    unsigned char destClient, destPort, type;
    Clock::time_point at;
  };
  std::vector<Output> outputs;
  std::vector<std::array<int, 3>> connections;  // our port, client, port
  Clock::time_point now{};  // virtual: waits jump ahead to their deadline
};

class FakeSequencer final : public AlsaSequencer {
 public:
  explicit FakeSequencer(Script& script) : m_script(script) {}
  int ClientId() override { return 128; }
  void SetClientName(const char*) override {}
  int CreateSourcePort(const char*) override { return 0; }
  int ConnectTo(int ourPort, int destClient, int destPort) override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    m_script.connections.push_back({ourPort, destClient, destPort});
    return m_script.connectResult;
  }
  int OutputDirect(snd_seq_event_t& event) override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    int result = 0;
    if (!m_script.outputResults.empty()) {
      result = m_script.outputResults.front();
      m_script.outputResults.pop_front();
    }
    if (result == 0) {
      const auto* data = static_cast<const std::uint8_t*>(event.data.ext.ptr);
      Bytes bytes = event.type == SND_SEQ_EVENT_SYSEX ? Bytes(data, data + event.data.ext.len) : Bytes{};
      m_script.outputs.push_back({std::move(bytes), event.dest.client, event.dest.port, event.type,
                                  m_script.now});
    }
    return result;
  }
  void DrainOutput() override {}
  std::vector<AlsaPortInfo> OtherPorts() override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    return m_script.ports;
  }

 private:
  Script& m_script;
};

class FakeSystem final : public AlsaSystem {
 public:
  explicit FakeSystem(Script& script) : m_script(script) {}
  std::unique_ptr<AlsaSequencer> Open() override { return std::make_unique<FakeSequencer>(m_script); }
  Clock::time_point Now() override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    return m_script.now;
  }
  void WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>&, Clock::time_point deadline) override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    if (deadline > m_script.now) m_script.now = deadline;
  }

 private:
  Script& m_script;
};

constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

struct Completions {
  std::mutex mutex;
  std::vector<MidiHeader*> done;
  std::vector<Clock::time_point> at;
  Script* script = nullptr;
  static void Callback(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t) {
    auto* self = reinterpret_cast<Completions*>(instance);
    if (message != QM_MOM_DONE) return;
    Clock::time_point now;
    {
      std::lock_guard<std::mutex> lock(self->script->mutex);
      now = self->script->now;
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    self->done.push_back(reinterpret_cast<MidiHeader*>(param1));
    self->at.push_back(now);
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return done.size();
  }
};

// A key message's size: 54 bytes, F0 ... F7.
struct Messages {
  explicit Messages(std::size_t count) : data(count, Bytes(54)), headers(count) {
    for (std::size_t i = 0; i < count; ++i) {
      data[i].front() = 0xF0;
      for (std::size_t j = 1; j + 1 < 54; ++j) data[i][j] = static_cast<std::uint8_t>((i * 7 + j) & 0x7F);
      data[i].back() = 0xF7;
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = 54;
    }
  }
  std::vector<Bytes> data;
  std::vector<MidiHeader> headers;
};

class AlsaSeamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script.ports = {{"USB MIDI Interface", "MIDI 1", 20, 0, kWritable},
                    {"Synth", "in", 24, 3, kWritable}};
    completions.script = &script;
  }
  void TearDown() override {
    if (device) {
      EXPECT_EQ(alsa.Close(device), 0u);
    }
  }

  void Open(unsigned number) {
    ASSERT_EQ(alsa.OutDeviceCount(), script.ports.size());
    ASSERT_EQ(alsa.Open(&device, number, &Completions::Callback,
                        reinterpret_cast<std::uintptr_t>(&completions)),
              0u);
  }
  void Prepare(Messages& messages) {
    for (MidiHeader& header : messages.headers) ASSERT_EQ(alsa.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
  }
  bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(100us);
    }
    return true;
  }

  Script script;
  AlsaMidiServices alsa{std::make_unique<FakeSystem>(script)};
  Completions completions;
  HMidiOut device = nullptr;
};

TEST_F(AlsaSeamTest, EventsGoToTheDestinationPortItselfOverAConnectionMadeAtOpen) {
  Open(1);
  Messages messages(1);
  Prepare(messages);
  ASSERT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
  ASSERT_TRUE(WaitFor([&] { return completions.Count() == 1; }));
  std::lock_guard<std::mutex> lock(script.mutex);
  ASSERT_EQ(script.connections.size(), 1u);
  EXPECT_EQ(script.connections[0][1], 24);
  EXPECT_EQ(script.connections[0][2], 3);
  ASSERT_EQ(script.outputs.size(), 1u);
  EXPECT_EQ(script.outputs[0].type, SND_SEQ_EVENT_SYSEX);
  EXPECT_EQ(script.outputs[0].destClient, 24) << "sent to subscribers, where nobody is an error";
  EXPECT_EQ(script.outputs[0].destPort, 3);
  EXPECT_EQ(script.outputs[0].bytes, messages.data[0]);
}

TEST_F(AlsaSeamTest, RefusalsBecomeDeviceErrorsWithTextsThatSayWhatHappened) {
  const struct {
    const char* what;
    std::vector<int> answers;
    const char* expectedText;
  } cases[] = {
      {"unplugged", {-ENOENT}, "unplugged"},
      {"client gone", {-ENXIO}, "has gone away"},
      {"held by another program", {-EBUSY}, "Another program holds"},
      {"receiver never reads", std::vector<int>(600, -EAGAIN), "stopped reading"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::lock_guard<std::mutex> lock(script.mutex);
      script.outputResults.assign(c.answers.begin(), c.answers.end());
    }
    Open(0);
    Messages messages(2);
    Prepare(messages);
    ASSERT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
    MidiResult failure = 0;
    ASSERT_TRUE(WaitFor([&] {
      failure = alsa.ShortMsg(device, 0x0000F8);
      return failure != 0;
    }));
    EXPECT_NE(alsa.ErrorText(failure).find(c.expectedText), std::string::npos) << alsa.ErrorText(failure);
    EXPECT_EQ(alsa.LongMsg(device, &messages.headers[1], kMidiHeaderSize), failure) << "the error lasts";
    // The refused message is still the device's; a reset gives it back.
    EXPECT_EQ(completions.Count(), 0u);
    ASSERT_EQ(alsa.Reset(device), 0u);
    EXPECT_EQ(completions.Count(), 1u);
    EXPECT_EQ(alsa.Close(device), 0u);
    device = nullptr;
    completions.done.clear();
  }
}

TEST_F(AlsaSeamTest, AMomentarilyFullReceiverIsAskedAgain) {
  script.outputResults = {-EAGAIN, -ENOMEM, -EAGAIN};
  Open(0);
  Messages messages(1);
  Prepare(messages);
  ASSERT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
  ASSERT_TRUE(WaitFor([&] { return completions.Count() == 1; }));
  EXPECT_EQ(alsa.ShortMsg(device, 0x0000F8), 0u);
  std::lock_guard<std::mutex> lock(script.mutex);
  ASSERT_FALSE(script.outputs.empty());
  EXPECT_EQ(script.outputs[0].bytes, messages.data[0]);
}

TEST_F(AlsaSeamTest, BusyOrVanishedPortsAreRefusedAtOpenWithTheirTexts) {
  ASSERT_EQ(alsa.OutDeviceCount(), 2u);
  // Unplugged after the list was made: the number now names no port.
  script.ports.pop_back();
  EXPECT_EQ(alsa.Open(&device, 1, &Completions::Callback, 0), QM_MMSYSERR_BADDEVICEID);
  EXPECT_EQ(device, nullptr);
  script.connectResult = -EBUSY;
  const MidiResult busy = alsa.Open(&device, 0, &Completions::Callback, 0);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(alsa.ErrorText(busy).find("Another program holds"), std::string::npos);
}

TEST_F(AlsaSeamTest, ThousandKeysLeaveAtTheSpeedOfAMidiWire) {
  // 31250 bits/s, ten bits a byte: 320 us a byte, 17.28 ms for a 54-byte key message.
  constexpr auto kKeyWireTime = 17280us;
  constexpr std::size_t kKeys = 1000;
  Open(0);
  Messages messages(kKeys);
  Prepare(messages);
  for (MidiHeader& header : messages.headers) ASSERT_EQ(alsa.LongMsg(device, &header, kMidiHeaderSize), 0u);
  ASSERT_TRUE(WaitFor([&] { return completions.Count() == kKeys; }));

  std::lock_guard<std::mutex> lock(script.mutex);
  std::lock_guard<std::mutex> done(completions.mutex);
  ASSERT_EQ(script.outputs.size(), kKeys);
  for (std::size_t i = 0; i < kKeys; ++i) {
    ASSERT_EQ(script.outputs[i].bytes, messages.data[i]) << i;
    ASSERT_EQ(completions.done[i], &messages.headers[i]) << i;
    // Handed over only once the one before has left the wire; complete only once its
    // own wire time has passed.
    if (i > 0) {
      ASSERT_GE(script.outputs[i].at - script.outputs[i - 1].at, kKeyWireTime) << i;
    }
    ASSERT_GE(completions.at[i] - script.outputs[i].at, kKeyWireTime) << i;
  }
  EXPECT_GE(completions.at.back() - script.outputs.front().at, kKeyWireTime * kKeys);
}

// Over the machine's own sequencer, through the dummy "Midi Through" port and back.
TEST(AlsaSequencerEndToEnd, KeyMessageComesOutOfMidiThroughByteForByte) {
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing; load snd-seq and snd-seq-dummy)";
  }
  snd_seq_t* reader = nullptr;
  ASSERT_GE(snd_seq_open(&reader, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
  const int readerPort = snd_seq_create_simple_port(reader, "reader", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                    SND_SEQ_PORT_TYPE_APPLICATION);
  AlsaMidiServices alsa;
  std::int32_t through = -1;
  for (unsigned i = 0, n = alsa.OutDeviceCount(); i < n; ++i) {
    std::string name;
    if (alsa.OutDeviceName(i, name) && name.rfind("Midi Through:", 0) == 0) through = static_cast<std::int32_t>(i);
  }
  if (through < 0) {
    snd_seq_close(reader);
    GTEST_SKIP() << "the sequencer has no Midi Through port (load snd-seq-dummy)";
  }
  snd_seq_addr_t source{};
  ASSERT_GE(snd_seq_parse_address(reader, &source, "Midi Through"), 0);
  ASSERT_GE(snd_seq_connect_from(reader, readerPort, source.client, source.port), 0);

  HMidiOut device = nullptr;
  ASSERT_EQ(alsa.Open(&device, static_cast<std::uint32_t>(through), [](HMidiOut, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}, 0), 0u);
  Messages messages(1);
  ASSERT_EQ(alsa.PrepareHeader(device, &messages.headers[0], kMidiHeaderSize), 0u);
  ASSERT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
  Bytes received;
  while (received.size() < messages.data[0].size()) {
    snd_seq_event_t* event = nullptr;
    ASSERT_GE(snd_seq_event_input(reader, &event), 0);  // blocking; the tests' timeout bounds it
    if (event->type != SND_SEQ_EVENT_SYSEX) continue;
    const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
    received.insert(received.end(), data, data + event->data.ext.len);
  }
  EXPECT_EQ(received, messages.data[0]);
  EXPECT_EQ(alsa.Close(device), 0u);
  snd_seq_close(reader);
}

}  // namespace
