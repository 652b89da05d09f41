// The ALSA sequencer backend and quillmark-send on a real kernel, booted by run-in-qemu.sh
// with snd-seq-dummy and snd-virmidi: what reaches a virtual rawmidi card's device, byte
// for byte against the design's key table and at no more than wire speed; a destination
// that goes away (the card unbound through sysfs, as a USB unplug does, or a receiver
// killed) reported within a second with the not-connected text; the virtual port giving
// each subscriber each key once. Every read and wait here has a bound.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DesignKeys.h"
#include "midi/backends/alsa/AlsaMidiServices.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kCardPort = "VirMIDI 0-0";  // the card's first port, as -d finds it
constexpr const char* kCardRawMidi = "/dev/snd/midiC0D0";
constexpr const char* kCardDriver = "/sys/bus/platform/drivers/snd_virmidi/";
constexpr const char* kCardDevice = "snd_virmidi.0";
constexpr auto kWireTimePerByte = 320us;  // 31250 bits/s, ten bits a byte
constexpr auto kReportBound = 1s;         // a loss must be reported within this
constexpr auto kBound = 120s;             // safety net for everything else
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer's own work at exit (the leak scan, emulated, can take most of a second) is
// not the program's: there only the report is held to the second.
constexpr bool kExitTimed = false;
#else
constexpr bool kExitTimed = true;
#endif

bool InTestGuest() {
  std::ifstream cmdline("/proc/cmdline");
  std::string line;
  std::getline(cmdline, line);
  return line.find("qm.work=") != std::string::npos;
}

// The card's rawmidi input: what the sequencer delivered to the card's port, with the
// time each chunk was read.
class RawMidiReader {
 public:
  RawMidiReader() : m_fd(open(kCardRawMidi, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
    // The card passes bytes on only once its input has been triggered by a read.
    std::uint8_t byte;
    if (m_fd >= 0 && read(m_fd, &byte, 1) > 0) bytes.push_back(byte);
  }
  ~RawMidiReader() { Close(); }
  RawMidiReader(const RawMidiReader&) = delete;
  RawMidiReader& operator=(const RawMidiReader&) = delete;
  bool IsOpen() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }
  // Reads until there are count bytes or the deadline has passed.
  void ReadUntil(std::size_t count, Clock::time_point deadline) {
    std::uint8_t buffer[4096];
    while (bytes.size() < count && Clock::now() < deadline) {
      pollfd fd{m_fd, POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      const ssize_t got = read(m_fd, buffer, sizeof buffer);
      if (got <= 0) continue;
      const auto now = Clock::now();
      for (ssize_t i = 0; i < got; ++i) {
        bytes.push_back(buffer[i]);
        at.push_back(now);
      }
    }
  }
  Bytes bytes;
  std::vector<Clock::time_point> at;  // per byte

 private:
  int m_fd;
};

// A program run by the test, its standard output and error in files.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    char outName[] = "/tmp/qm-outXXXXXX";
    char errName[] = "/tmp/qm-errXXXXXX";
    const int out = mkstemp(outName);
    const int err = mkstemp(errName);
    m_outName = outName;
    m_errName = errName;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    started = Clock::now();
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out, 1);
      dup2(err, 2);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out);
    close(err);
  }
  ~Child() {
    if (m_pid > 0 && !m_exited) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    unlink(m_outName.c_str());
    unlink(m_errName.c_str());
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit status, or -1 when it did not end within the bound (then it is killed).
  int Wait(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(1ms);
    }
    ended = Clock::now();
    m_exited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Kill() { kill(m_pid, SIGKILL); }
  std::string Out() const { return Slurp(m_outName); }
  std::string Err() const { return Slurp(m_errName); }
  // Waits until the standard output holds at least count of the character.
  bool WaitForOutput(char character, std::size_t count, Clock::time_point deadline) const {
    while (Clock::now() < deadline) {
      const std::string out = Out();
      if (static_cast<std::size_t>(std::count(out.begin(), out.end(), character)) >= count) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  // Waits until something was written to the standard error.
  bool WaitForError(Clock::time_point deadline) const {
    while (Clock::now() < deadline) {
      if (!Err().empty()) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

  Clock::time_point started, ended;

 private:
  static std::string Slurp(const std::string& name) {
    std::ifstream file(name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  pid_t m_pid = -1;
  bool m_exited = false;
  std::string m_outName, m_errName;
};

std::vector<std::string> SendArgs(int deviceId, const std::string& output, const std::vector<const DesignKey*>& keys) {
  std::vector<std::string> args = {QUILLMARK_SEND, "-i", std::to_string(deviceId), "-d", output};
  for (const DesignKey* key : keys) args.emplace_back(key->key);
  return args;
}

std::vector<const DesignKey*> CyclingKeys(std::size_t count) {
  std::vector<const DesignKey*> keys;
  for (std::size_t i = 0; i < count; ++i) keys.push_back(&kDesignKeys[i % kDesignKeys.size()]);
  return keys;
}

// What quillmark-send says when its output went away: the not-connected text within a
// second, not a timeout and not another transport's text, and a failed run.
void ExpectNotConnectedReport(Child& send, Clock::time_point lost) {
  const bool reported = send.WaitForError(Clock::now() + kBound);
  const auto reportedAt = Clock::now();
  EXPECT_EQ(send.Wait(kBound), 1);
  ASSERT_TRUE(reported);
  EXPECT_LE(reportedAt - lost, kReportBound);
  if (kExitTimed) {
    EXPECT_LE(send.ended - lost, kReportBound);
  }
  std::cout << "quillmark-send reported the loss after " << (reportedAt - lost) / 1ms << " ms and ended after "
            << (send.ended - lost) / 1ms << " ms\n";
  const std::string err = send.Err();
  EXPECT_TRUE(err.find("is not connected") != std::string::npos ||
              err.find("is no longer connected") != std::string::npos)
      << err;
  EXPECT_EQ(err.find("JACK"), std::string::npos) << err;
  EXPECT_EQ(err.find("did not finish"), std::string::npos) << err;
}

class AlsaKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InTestGuest()) GTEST_SKIP() << "runs only in the guest that tests/kernel/run-in-qemu.sh boots";
  }
};

TEST_F(AlsaKernelTest, EveryKeyLeavesTheCardAsTheDesignsBytes) {
  std::vector<const DesignKey*> keys;
  for (const DesignKey& key : kDesignKeys) keys.push_back(&key);
  for (const int deviceId : {0, 99, 127}) {
    SCOPED_TRACE(deviceId);
    RawMidiReader reader;
    ASSERT_TRUE(reader.IsOpen());
    Bytes expected;
    for (const DesignKey* key : keys) {
      const Bytes message = DesignMessage(*key, static_cast<std::uint8_t>(deviceId));
      expected.insert(expected.end(), message.begin(), message.end());
    }
    Child send(SendArgs(deviceId, kCardPort, keys));
    reader.ReadUntil(expected.size(), Clock::now() + kBound);
    EXPECT_EQ(send.Wait(kBound), 0) << send.Err();
    EXPECT_EQ(reader.bytes, expected);
  }
}

// Each message's first byte reaches the card no sooner than the wire times of all the
// messages before it allow, counted from before quillmark-send started.
TEST_F(AlsaKernelTest, ThousandKeysArriveExactAndNeverFasterThanTheWire) {
  const auto keys = CyclingKeys(1000);
  RawMidiReader reader;
  ASSERT_TRUE(reader.IsOpen());
  Bytes expected;
  std::vector<std::size_t> starts;
  for (const DesignKey* key : keys) {
    starts.push_back(expected.size());
    const Bytes message = DesignMessage(*key, 5);
    expected.insert(expected.end(), message.begin(), message.end());
  }
  Child send(SendArgs(5, kCardPort, keys));
  reader.ReadUntil(expected.size(), Clock::now() + kBound);
  EXPECT_EQ(send.Wait(kBound), 0) << send.Err();
  ASSERT_EQ(reader.bytes, expected);
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const auto earliest = send.started + kWireTimePerByte * static_cast<long>(starts[k]);
    ASSERT_GE(reader.at[starts[k]], earliest) << "message " << k << " came too soon";
  }
}

TEST_F(AlsaKernelTest, ACardUnboundMidRunIsReportedWithinASecond) {
  RawMidiReader reader;
  ASSERT_TRUE(reader.IsOpen());
  Child send(SendArgs(0, kCardPort, CyclingKeys(300)));
  reader.ReadUntil(3 * 54, Clock::now() + kBound);
  ASSERT_GE(reader.bytes.size(), 3u * 54) << send.Err();
  // The card's release waits for its open files.
  reader.Close();
  const auto lost = Clock::now();
  {
    std::ofstream unbind(std::string(kCardDriver) + "unbind");
    unbind << kCardDevice << std::flush;
    ASSERT_TRUE(unbind.good());
  }
  ExpectNotConnectedReport(send, lost);

  std::ofstream(std::string(kCardDriver) + "bind") << kCardDevice << std::flush;
  const auto deadline = Clock::now() + 30s;
  while (access(kCardRawMidi, R_OK) != 0 && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(access(kCardRawMidi, R_OK), 0) << "the card did not come back";
}

TEST_F(AlsaKernelTest, AReceiverKilledMidRunIsReportedWithinASecond) {
  Child receiver({QUILLMARK_RECEIVER, "qm-receiver"});
  ASSERT_TRUE(receiver.WaitForOutput('\n', 1, Clock::now() + kBound));
  Child send(SendArgs(0, "qm-receiver", CyclingKeys(300)));
  ASSERT_TRUE(receiver.WaitForOutput('.', 3, Clock::now() + kBound)) << send.Err();
  receiver.Kill();
  const auto lost = Clock::now();
  ExpectNotConnectedReport(send, lost);
}

struct Callbacks {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::array<std::uintptr_t, 3>> seen;  // message, param1, param2
  static void Record(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                     std::uintptr_t param2) {
    auto* self = reinterpret_cast<Callbacks*>(instance);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->seen.push_back({message, param1, param2});
    self->changed.notify_all();
  }
  bool WaitFor(unsigned message, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, bound, [&] {
      return std::any_of(seen.begin(), seen.end(), [&](const auto& entry) { return entry[0] == message; });
    });
  }
};

std::uint32_t DeviceNamed(AlsaMidiServices& alsa, const std::string& prefix) {
  for (unsigned i = 0, n = alsa.OutDeviceCount(); i < n; ++i) {
    std::string name;
    if (alsa.OutDeviceName(i, name) && name.rfind(prefix, 0) == 0) return i;
  }
  return QM_MIDI_MAPPER;
}

// A device on a user-space receiver, which the test kills.
class AlsaReceiverTest : public AlsaKernelTest {
 protected:
  void SetUp() override {
    AlsaKernelTest::SetUp();
    if (IsSkipped()) return;
    receiver = std::make_unique<Child>(std::vector<std::string>{QUILLMARK_RECEIVER, "qm-receiver"});
    ASSERT_TRUE(receiver->WaitForOutput('\n', 1, Clock::now() + kBound));
    const std::uint32_t number = DeviceNamed(alsa, "qm-receiver:");
    ASSERT_NE(number, QM_MIDI_MAPPER);
    for (const AlsaPortInfo& info : CreateAlsaSystem()->Open()->OtherPorts()) {
      if (info.clientName == "qm-receiver") address = {info.client, info.port};
    }
    ASSERT_EQ(alsa.Open(&device, number, &Callbacks::Record, reinterpret_cast<std::uintptr_t>(&callbacks)), 0u);
  }
  void TearDown() override {
    if (device) {
      EXPECT_EQ(alsa.Close(device), 0u);
    }
  }
  // Queues count key messages.
  void Queue(std::size_t count) {
    headers = std::vector<MidiHeader>(count);
    for (MidiHeader& header : headers) {
      header.lpData = const_cast<std::uint8_t*>(message.data());
      header.dwBufferLength = static_cast<std::uint32_t>(message.size());
      ASSERT_EQ(alsa.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
      ASSERT_EQ(alsa.LongMsg(device, &header, kMidiHeaderSize), 0u);
    }
  }

  std::unique_ptr<Child> receiver;
  AlsaAddress address;  // the receiver's port
  Callbacks callbacks;
  AlsaMidiServices alsa;
  HMidiOut device = nullptr;
  const Bytes message = DesignMessage(kDesignKeys[0]);
  std::vector<MidiHeader> headers;
};

// With nothing queued, the loss shows before the next key is pressed.
TEST_F(AlsaReceiverTest, AReceiverThatEndsBetweenKeysFailsTheDeviceAtOnce) {
  Queue(1);
  ASSERT_TRUE(callbacks.WaitFor(QM_MOM_DONE, kBound));
  ASSERT_TRUE(receiver->WaitForOutput('.', 1, Clock::now() + kBound));
  // Made before the loss, so that it cannot take the receiver's client number.
  std::unique_ptr<AlsaSequencer> probe = CreateAlsaSystem()->Open();
  ASSERT_TRUE(probe);
  const int probePort = probe->CreateSourcePort("probe");
  ASSERT_GE(probePort, 0);

  receiver->Kill();
  EXPECT_TRUE(callbacks.WaitFor(QM_MOM_ERROR, kReportBound));
  {
    std::lock_guard<std::mutex> lock(callbacks.mutex);
    EXPECT_EQ(callbacks.seen.back(), (std::array<std::uintptr_t, 3>{QM_MOM_ERROR, kMidiOutputGone, 0}));
  }
  EXPECT_EQ(alsa.LongMsg(device, &headers[0], kMidiHeaderSize), kMidiOutputGone);

  // A connection to it now, as an open racing the loss would make, is refused with
  // -EINVAL, which the open must read as gone.
  EXPECT_EQ(probe->ConnectTo(probePort, address.client, address.port), -EINVAL);
}

// Keys still queued when the receiver goes come back at once, with the reason: nobody
// waits for them in vain.
TEST_F(AlsaReceiverTest, KeysQueuedForAReceiverThatEndsComeBackAtOnce) {
  constexpr std::size_t kKeys = 100;  // 1.7 s of wire time
  Queue(kKeys);
  ASSERT_TRUE(receiver->WaitForOutput('.', 3, Clock::now() + kBound));
  receiver->Kill();
  const auto lost = Clock::now();
  std::unique_lock<std::mutex> lock(callbacks.mutex);
  const auto done = [&] {
    return std::count_if(callbacks.seen.begin(), callbacks.seen.end(),
                         [](const auto& entry) { return entry[0] == QM_MOM_DONE; });
  };
  EXPECT_TRUE(callbacks.changed.wait_for(lock, kReportBound, [&] { return done() == kKeys; }))
      << done() << " of " << kKeys << " back " << (Clock::now() - lost) / 1ms << " ms after the loss";
  // The last key never left; the one on the wire at the loss may still complete after it.
  EXPECT_NE(std::find(callbacks.seen.begin(), callbacks.seen.end(),
                      std::array<std::uintptr_t, 3>{QM_MOM_DONE, reinterpret_cast<std::uintptr_t>(&headers.back()),
                                                    kMidiOutputGone}),
            callbacks.seen.end());
}

// The sequencer hands a subscribers' event to all of them and returns the first error; a
// subscriber whose input is full for a while must not make another see a key twice. (The
// full one itself loses what it held when it overflowed: the kernel clears its input.)
TEST_F(AlsaKernelTest, TheVirtualPortGivesNoSubscriberAKeyTwice) {
  AlsaMidiServices alsa;
  Callbacks callbacks;
  HMidiOut device = nullptr;
  ASSERT_EQ(alsa.Open(&device, QM_MIDI_MAPPER, &Callbacks::Record, reinterpret_cast<std::uintptr_t>(&callbacks)), 0u);
  // Two subscribers: one reads at once, one has room for a key or two and stalls.
  snd_seq_t* readers[2] = {};
  for (snd_seq_t*& reader : readers) {
    ASSERT_GE(snd_seq_open(&reader, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK), 0);
    const int port = snd_seq_create_simple_port(reader, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                SND_SEQ_PORT_TYPE_APPLICATION);
    snd_seq_addr_t ours{};
    ASSERT_GE(snd_seq_parse_address(reader, &ours, "Quillmark:0"), 0);
    ASSERT_GE(snd_seq_connect_from(reader, port, ours.client, ours.port), 0);
  }
  ASSERT_GE(snd_seq_set_client_pool_input(readers[1], 8), 0);

  constexpr std::size_t kKeys = 20;
  std::vector<Bytes> messages;
  std::vector<MidiHeader> headers(kKeys);
  for (std::size_t i = 0; i < kKeys; ++i) messages.push_back(DesignMessage(kDesignKeys[i], 0));
  for (std::size_t i = 0; i < kKeys; ++i) {
    headers[i].lpData = messages[i].data();
    headers[i].dwBufferLength = static_cast<std::uint32_t>(messages[i].size());
    ASSERT_EQ(alsa.PrepareHeader(device, &headers[i], kMidiHeaderSize), 0u);
    ASSERT_EQ(alsa.LongMsg(device, &headers[i], kMidiHeaderSize), 0u);
  }
  std::vector<Bytes> received[2];
  Bytes partial[2];
  bool overflowed = false;
  const auto read = [&](int r) {
    for (;;) {
      snd_seq_event_t* event = nullptr;
      const int result = snd_seq_event_input(readers[r], &event);
      if (result == -ENOSPC) overflowed = true;
      if (result == -EAGAIN) return;
      if (result < 0 || !event || event->type != SND_SEQ_EVENT_SYSEX) continue;
      const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
      partial[r].insert(partial[r].end(), data, data + event->data.ext.len);
      if (partial[r].back() == 0xF7) received[r].push_back(std::exchange(partial[r], {}));
    }
  };
  const auto stallEnds = Clock::now() + 300ms;
  const auto deadline = Clock::now() + kBound;
  const auto allDone = [&] {
    std::lock_guard<std::mutex> lock(callbacks.mutex);
    return std::count_if(callbacks.seen.begin(), callbacks.seen.end(),
                         [](const auto& entry) { return entry[0] == QM_MOM_DONE && entry[2] == 0; }) ==
           static_cast<long>(kKeys);
  };
  // Once every header is back, every subscriber has had each message.
  while (!allDone() && Clock::now() < deadline) {
    read(0);
    if (Clock::now() >= stallEnds) read(1);
    std::this_thread::sleep_for(1ms);
  }
  read(0);
  read(1);
  EXPECT_EQ(received[0], messages);
  // The stalled one: what it kept, once each and in order.
  std::size_t next = 0;
  for (const Bytes& message : received[1]) {
    while (next < kKeys && messages[next] != message) ++next;
    ASSERT_LT(next, kKeys) << "a message twice, out of order or unknown";
    ++next;
  }
  EXPECT_TRUE(overflowed) << "the second subscriber never filled up: the case did not happen";
  for (snd_seq_t* reader : readers) snd_seq_close(reader);
  EXPECT_EQ(alsa.Close(device), 0u);
}

}  // namespace
