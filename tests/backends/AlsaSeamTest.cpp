// The ALSA backend against a scripted sequencer and a clock the test controls: where
// events are addressed, how the sequencer's refusals and a destination that goes away
// reach the user, the virtual port's subscribers, and pacing at the speed of a MIDI wire.
// Last, a real sequencer where the machine has one (tests/kernel boots one).
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <thread>

#include "midi/backends/alsa/AlsaMidiServices.h"

namespace {

using namespace std::chrono_literals;
using Clock = AlsaSystem::Clock;
using Bytes = std::vector<std::uint8_t>;
using Address = std::pair<int, int>;
constexpr auto kBound = 30s;

// What the fake sequencers saw and answer; shared by every client the test opens.
struct Script {
  std::mutex mutex;
  std::condition_variable announced;
  std::vector<AlsaPortInfo> ports;
  int connectResult = 0;
  // Answered in turn to events for that destination; 0 once they run out.
  std::map<Address, std::deque<int>> answers;
  std::vector<AlsaAddress> subscribers;
  std::deque<AlsaAnnouncement> announcements;
  int announcementWaits = 0;  // waits entered by the watcher
  int consumedInWait = 0;     // the wait that took the last announcement
  bool interrupted = false;
  struct Output {
    Bytes bytes;
    Address dest;
    unsigned char type;
    Clock::time_point at;
  };
  std::vector<Output> outputs;
  std::vector<std::array<int, 3>> connections;  // our port, client, port
  Clock::time_point now{};  // virtual: waits jump ahead to their deadline
  bool holdClock = false;   // waits wait (briefly, for real) and time stands still

  void Announce(AlsaAnnouncement announcement) {
    std::lock_guard<std::mutex> lock(mutex);
    announcements.push_back(announcement);
    announced.notify_all();
  }
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
    const Address dest{event.dest.client, event.dest.port};
    int result = 0;
    if (auto& answers = m_script.answers[dest]; !answers.empty()) {
      result = answers.front();
      answers.pop_front();
    }
    if (result == 0) {
      const auto* data = static_cast<const std::uint8_t*>(event.data.ext.ptr);
      Bytes bytes = event.type == SND_SEQ_EVENT_SYSEX ? Bytes(data, data + event.data.ext.len) : Bytes{};
      m_script.outputs.push_back({std::move(bytes), dest, event.type, m_script.now});
    }
    return result;
  }
  void DrainOutput() override {}
  std::vector<AlsaPortInfo> OtherPorts() override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    return m_script.ports;
  }
  int Subscribers(int, std::vector<AlsaAddress>& subscribers) override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    subscribers = m_script.subscribers;
    return static_cast<int>(subscribers.size());
  }
  bool PortExists(AlsaAddress port) override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    for (const AlsaPortInfo& info : m_script.ports) {
      if (info.client == port.client && info.port == port.port) return true;
    }
    return false;
  }
  int WatchAnnouncements() override { return 0; }
  int NextAnnouncement(AlsaAnnouncement& announcement, std::chrono::milliseconds bound) override {
    std::unique_lock<std::mutex> lock(m_script.mutex);
    ++m_script.announcementWaits;
    m_script.announced.notify_all();
    m_script.announced.wait_for(lock, bound, [this] {
      return m_script.interrupted || !m_script.announcements.empty();
    });
    if (m_script.interrupted || m_script.announcements.empty()) return 0;
    announcement = m_script.announcements.front();
    m_script.announcements.pop_front();
    m_script.consumedInWait = m_script.announcementWaits;
    return 1;
  }
  void InterruptWait() override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    m_script.interrupted = true;
    m_script.announced.notify_all();
  }

 private:
  Script& m_script;
};

class FakeSystem final : public AlsaSystem {
 public:
  explicit FakeSystem(Script& script) : m_script(script) {}
  std::unique_ptr<AlsaSequencer> Open() override { return std::make_unique<FakeSequencer>(m_script); }
  std::unique_ptr<AlsaSequencer> OpenDevice() override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    m_script.interrupted = false;
    return std::make_unique<FakeSequencer>(m_script);
  }
  Clock::time_point Now() override {
    std::lock_guard<std::mutex> lock(m_script.mutex);
    return m_script.now;
  }
  void WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                 Clock::time_point deadline) override {
    {
      std::lock_guard<std::mutex> script(m_script.mutex);
      if (!m_script.holdClock) {
        if (deadline > m_script.now) m_script.now = deadline;
        return;
      }
    }
    condition.wait_for(lock, 1ms);
  }

 private:
  Script& m_script;
};

constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

// What came back through the callback, in order.
struct Completions {
  struct Entry {
    unsigned message;
    std::uintptr_t param1, param2;
    Clock::time_point at;
  };
  std::mutex mutex;
  std::vector<Entry> entries;
  Script* script = nullptr;
  static void Callback(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t param2) {
    auto* self = reinterpret_cast<Completions*>(instance);
    if (message != QM_MOM_DONE && message != QM_MOM_ERROR) return;
    Clock::time_point now;
    {
      std::lock_guard<std::mutex> lock(self->script->mutex);
      now = self->script->now;
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    self->entries.push_back({message, param1, param2, now});
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return entries.size();
  }
  std::vector<Entry> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(entries, {});
  }
};

// Key-sized messages: 54 bytes, F0 ... F7.
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
    script.ports = {{"USB MIDI Interface", "MIDI 1", 20, 0, kWritable}, {"Synth", "in", 24, 3, kWritable}};
    completions.script = &script;
  }
  void TearDown() override {
    if (device) {
      EXPECT_EQ(alsa.Close(device), 0u);
    }
  }

  void Open(std::uint32_t number) {
    if (number != QM_MIDI_MAPPER) {
      ASSERT_EQ(alsa.OutDeviceCount(), script.ports.size());
    }
    ASSERT_EQ(alsa.Open(&device, number, &Completions::Callback, reinterpret_cast<std::uintptr_t>(&completions)),
              0u);
  }
  void Prepare(Messages& messages) {
    for (MidiHeader& header : messages.headers) ASSERT_EQ(alsa.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
  }
  void CloseDevice() {
    EXPECT_EQ(alsa.Close(device), 0u);
    device = nullptr;
    completions.Take();
  }
  static bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(100us);
    }
    return true;
  }
  std::vector<Script::Output> Outputs() {
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.outputs;
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
  EXPECT_EQ(script.outputs[0].dest, Address(24, 3)) << "sent to subscribers, where nobody is an error";
  EXPECT_EQ(script.outputs[0].bytes, messages.data[0]);
}

// The refused message and every one queued behind it come back at once with the failure,
// so nobody waits for them; the failure lasts.
TEST_F(AlsaSeamTest, ARefusalHandsBackEveryQueuedMessageAtOnceWithItsText) {
  const struct {
    const char* what;
    std::vector<int> answers;
    MidiResult expected;
    const char* expectedText;
  } cases[] = {
      {"unplugged", {-ENOENT}, kMidiOutputGone, "no longer connected"},
      {"client gone", {-ENXIO}, kMidiOutputGone, "no longer connected"},
      {"held by another program", {-EBUSY}, kAlsaPortBusy, "Another program holds"},
      {"receiver never reads", std::vector<int>(600, -EAGAIN), kAlsaReceiverFull, "stopped reading"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::lock_guard<std::mutex> lock(script.mutex);
      // A short message first, whose wire time lasts until three keys are queued behind it.
      script.answers[{24, 3}] = {0};
      script.answers[{24, 3}].insert(script.answers[{24, 3}].end(), c.answers.begin(), c.answers.end());
      script.holdClock = true;
    }
    Open(1);
    Messages messages(4);
    Prepare(messages);
    ASSERT_EQ(alsa.ShortMsg(device, 0x0000F8), 0u);
    for (std::size_t i = 0; i < 3; ++i) ASSERT_EQ(alsa.LongMsg(device, &messages.headers[i], kMidiHeaderSize), 0u);
    {
      std::lock_guard<std::mutex> lock(script.mutex);
      script.holdClock = false;
    }
    ASSERT_TRUE(WaitFor([&] { return completions.Count() == 3; }));
    for (const Completions::Entry& entry : completions.Take()) {
      EXPECT_EQ(entry.message, QM_MOM_DONE);
      EXPECT_EQ(entry.param2, c.expected);
    }
    EXPECT_EQ(Outputs().size(), 1u) << "only the short message left";
    {
      std::lock_guard<std::mutex> lock(script.mutex);
      script.outputs.clear();
    }
    EXPECT_NE(alsa.ErrorText(c.expected).find(c.expectedText), std::string::npos) << alsa.ErrorText(c.expected);
    EXPECT_EQ(alsa.LongMsg(device, &messages.headers[3], kMidiHeaderSize), c.expected) << "the failure lasts";
    EXPECT_EQ(alsa.ShortMsg(device, 0x0000F8), c.expected);
    CloseDevice();
  }
}

TEST_F(AlsaSeamTest, AMomentarilyFullReceiverIsAskedAgain) {
  script.answers[{20, 0}] = {-EAGAIN, -ENOMEM, -EAGAIN};
  Open(0);
  Messages messages(1);
  Prepare(messages);
  ASSERT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
  ASSERT_TRUE(WaitFor([&] { return completions.Count() == 1; }));
  EXPECT_EQ(completions.Take()[0].param2, 0u);
  EXPECT_EQ(alsa.ShortMsg(device, 0x0000F8), 0u);
  const auto outputs = Outputs();
  ASSERT_FALSE(outputs.empty());
  EXPECT_EQ(outputs[0].bytes, messages.data[0]);
}

TEST_F(AlsaSeamTest, RefusedConnectionsAtOpenSayWhy) {
  const struct {
    int answer;
    MidiResult expected;
  } cases[] = {
      // The sequencer's answer for a client or port that no longer exists.
      {-EINVAL, kMidiOutputGone},
      {-ENOENT, kMidiOutputGone},
      {-EBUSY, kAlsaPortBusy},
      {-EPERM, kAlsaConnectFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    script.connectResult = c.answer;
    ASSERT_EQ(alsa.OutDeviceCount(), 2u);
    EXPECT_EQ(alsa.Open(&device, 0, &Completions::Callback, 0), c.expected);
    EXPECT_EQ(device, nullptr);
  }
  EXPECT_NE(alsa.ErrorText(kAlsaPortBusy).find("Another program holds"), std::string::npos);
  // Unplugged after the list was made: the number now names no port.
  ASSERT_EQ(alsa.OutDeviceCount(), 2u);
  script.ports.pop_back();
  EXPECT_EQ(alsa.Open(&device, 1, &Completions::Callback, 0), QM_MMSYSERR_BADDEVICEID);
}

// Between two keys, with nothing queued: the announce port tells the device at once.
TEST_F(AlsaSeamTest, ADestinationThatGoesAwayBetweenKeysFailsTheDeviceAtOnce) {
  using Kind = AlsaAnnouncement::Kind;
  const AlsaAddress destination{24, 3};
  const AlsaAddress ours{128, 0};
  const struct {
    const char* what;
    AlsaAnnouncement announcement;
    bool portRemains;
    bool lost;
  } cases[] = {
      {"its client ended", {Kind::ClientExit, {24, 0}, {}, {}}, false, true},
      {"another client ended", {Kind::ClientExit, {20, 0}, {}, {}}, true, false},
      {"its port was deleted", {Kind::PortExit, destination, {}, {}}, false, true},
      {"another port of its client was deleted", {Kind::PortExit, {24, 1}, {}, {}}, true, false},
      {"our connection removed in a patchbay", {Kind::Unsubscribed, {}, ours, destination}, true, false},
      {"our connection removed with the port", {Kind::Unsubscribed, {}, ours, destination}, false, true},
      {"announcements lost, port still there", {Kind::Overflow, {}, {}, {}}, true, false},
      {"announcements lost, port gone", {Kind::Overflow, {}, {}, {}}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(1);
    Messages messages(1);
    Prepare(messages);
    {
      std::lock_guard<std::mutex> lock(script.mutex);
      if (!c.portRemains) script.ports.pop_back();
    }
    script.Announce(c.announcement);
    if (c.lost) {
      ASSERT_TRUE(WaitFor([&] { return completions.Count() == 1; }));
      const auto entries = completions.Take();
      EXPECT_EQ(entries[0].message, QM_MOM_ERROR);
      EXPECT_EQ(entries[0].param1, kMidiOutputGone);
      EXPECT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), kMidiOutputGone);
    } else {
      // The watcher has dealt with it once it waits again.
      std::unique_lock<std::mutex> lock(script.mutex);
      ASSERT_TRUE(script.announced.wait_for(lock, kBound, [&] {
        return script.announcements.empty() && script.announcementWaits > script.consumedInWait;
      }));
      lock.unlock();
      EXPECT_EQ(completions.Count(), 0u);
      EXPECT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
      ASSERT_TRUE(WaitFor([&] { return completions.Count() == 1; }));
    }
    CloseDevice();
    script.ports = {{"USB MIDI Interface", "MIDI 1", 20, 0, kWritable}, {"Synth", "in", 24, 3, kWritable}};
  }
}

// The sequencer delivers a subscribers' event to all of them and returns the first error:
// a subscriber that is full for a moment must not make the others see the key twice.
TEST_F(AlsaSeamTest, TheVirtualPortGivesEachSubscriberEachMessageOnce) {
  script.subscribers = {{30, 0}, {31, 0}, {32, 0}};
  script.answers[{31, 0}] = {-EAGAIN, -ENOMEM, -EAGAIN};
  script.answers[{32, 0}] = {-ENOENT};  // went away after the lookup
  Open(QM_MIDI_MAPPER);
  EXPECT_TRUE(script.connections.empty());
  Messages messages(2);
  Prepare(messages);
  for (MidiHeader& header : messages.headers) ASSERT_EQ(alsa.LongMsg(device, &header, kMidiHeaderSize), 0u);
  ASSERT_TRUE(WaitFor([&] { return completions.Count() == 2; }));
  for (const Completions::Entry& entry : completions.Take()) EXPECT_EQ(entry.param2, 0u);
  std::map<Address, std::vector<Bytes>> received;
  for (const Script::Output& output : Outputs()) received[output.dest].push_back(output.bytes);
  EXPECT_EQ(received[Address(30, 0)], messages.data);
  EXPECT_EQ(received[Address(31, 0)], messages.data);
  EXPECT_EQ(received[Address(32, 0)], std::vector<Bytes>{messages.data[1]});
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

  const auto outputs = Outputs();
  const auto done = completions.Take();
  ASSERT_EQ(outputs.size(), kKeys);
  for (std::size_t i = 0; i < kKeys; ++i) {
    ASSERT_EQ(outputs[i].bytes, messages.data[i]) << i;
    ASSERT_EQ(done[i].param1, reinterpret_cast<std::uintptr_t>(&messages.headers[i])) << i;
    // Handed over only once the one before has left the wire; complete only once its
    // own wire time has passed.
    if (i > 0) {
      ASSERT_GE(outputs[i].at - outputs[i - 1].at, kKeyWireTime) << i;
    }
    ASSERT_GE(done[i].at - outputs[i].at, kKeyWireTime) << i;
  }
  EXPECT_GE(done.back().at - outputs.front().at, kKeyWireTime * kKeys);
}

// Over the machine's own sequencer, through the dummy "Midi Through" port and back.
TEST(AlsaSequencerEndToEnd, KeyMessageComesOutOfMidiThroughByteForByte) {
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing; load snd-seq and snd-seq-dummy)";
  }
  snd_seq_t* reader = nullptr;
  ASSERT_GE(snd_seq_open(&reader, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
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
  ASSERT_EQ(alsa.Open(&device, static_cast<std::uint32_t>(through),
                      [](HMidiOut, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}, 0),
            0u);
  Messages messages(1);
  ASSERT_EQ(alsa.PrepareHeader(device, &messages.headers[0], kMidiHeaderSize), 0u);
  ASSERT_EQ(alsa.LongMsg(device, &messages.headers[0], kMidiHeaderSize), 0u);
  Bytes received;
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (received.size() < messages.data[0].size() && std::chrono::steady_clock::now() < deadline) {
    snd_seq_event_t* event = nullptr;
    if (snd_seq_event_input(reader, &event) < 0 || !event) {
      std::this_thread::sleep_for(1ms);
      continue;
    }
    if (event->type != SND_SEQ_EVENT_SYSEX) continue;
    const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
    received.insert(received.end(), data, data + event->data.ext.len);
  }
  EXPECT_EQ(received, messages.data[0]);
  EXPECT_EQ(alsa.Close(device), 0u);
  snd_seq_close(reader);
}

}  // namespace
