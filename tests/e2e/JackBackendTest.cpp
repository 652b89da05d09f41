// The JACK device services against a live server: completion, reset and close
// guarantees, the virtual port, short messages, a backlog larger than one cycle, a
// destination that goes and comes back, pacing toward hardware, and slow notifications.
#include <gtest/gtest.h>

#include <cstdio>

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "JackTestKit.h"
#include "midi/backends/jack/JackMidiServices.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
constexpr auto kArrivalBound = 30s;

// What the device called back, in order.
struct CallbackLog {
  std::mutex mutex;
  std::vector<unsigned> messages;
  std::vector<MidiHeader*> done;
  std::vector<std::uintptr_t> doneFailures;  // param2 of each QM_MOM_DONE
  std::vector<std::uintptr_t> errors;        // param1 of each QM_MOM_ERROR
  std::vector<std::uint32_t> doneFrames;     // the capture's frame time at each QM_MOM_DONE
  const JackCapture* clock = nullptr;
  std::atomic<int> afterClose{0};
  std::atomic<bool> closed{false};

  static void Callback(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t param2) {
    auto* log = reinterpret_cast<CallbackLog*>(instance);
    if (log->closed.load()) log->afterClose.fetch_add(1);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->messages.push_back(message);
    if (message == QM_MOM_DONE) {
      log->done.push_back(reinterpret_cast<MidiHeader*>(param1));
      log->doneFailures.push_back(param2);
      log->doneFrames.push_back(log->clock ? log->clock->FrameTime() : 0);
    }
    if (message == QM_MOM_ERROR) log->errors.push_back(param1);
  }
  std::size_t DoneCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return done.size();
  }
  std::size_t ErrorCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return errors.size();
  }
  std::uintptr_t Instance() { return reinterpret_cast<std::uintptr_t>(this); }
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(200us);
  }
  return true;
}

// Long-message buffers with their headers, prepared on a device.
struct Buffers {
  Buffers(std::size_t count, std::size_t size) : data(count, Bytes(size)), headers(count) {
    // 4 bytes at least: F0, the two bytes of the number, F7.
    for (std::size_t i = 0; i < count; ++i) {
      data[i].front() = 0xF0;
      for (std::size_t j = 1; j + 1 < size; ++j) data[i][j] = static_cast<std::uint8_t>((i + j) & 0x7F);
      data[i][1] = static_cast<std::uint8_t>(i & 0x7F);  // every message its own
      data[i][2] = static_cast<std::uint8_t>((i >> 7) & 0x7F);
      data[i].back() = 0xF7;
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = static_cast<std::uint32_t>(size);
    }
  }
  std::vector<Bytes> data;
  std::vector<MidiHeader> headers;
};

class JackBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_TRUE(capture.Open(error)) << error;
    log.clock = &capture;
  }

  // Opens the capture port through the device list.
  void OpenCapture() {
    const std::int32_t number = capture.DeviceIn(jack);
    ASSERT_GE(number, 0) << "capture port not listed";
    ASSERT_EQ(jack.Open(&device, static_cast<std::uint32_t>(number), &CallbackLog::Callback,
                        log.Instance()),
              0u);
  }

  void Prepare(Buffers& buffers) {
    for (MidiHeader& header : buffers.headers) {
      ASSERT_EQ(jack.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
    }
  }

  void CloseDevice() {
    if (!device) return;
    EXPECT_EQ(jack.Close(device), 0u);
    log.closed = true;
    device = nullptr;
  }

  void TearDown() override {
    CloseDevice();
    capture.Close();
  }

  // CheckDelivery of every message of buffers, each written where its header says.
  std::string DeliveryOf(const Buffers& buffers) {
    std::vector<std::uint32_t> writtenAt;
    for (const MidiHeader& header : buffers.headers) writtenAt.push_back(static_cast<std::uint32_t>(header.reserved));
    return CheckDelivery(buffers.data, writtenAt, capture);
  }

  JackTestServer server;
  JackCapture capture;
  JackMidiServices jack;
  CallbackLog log;
  HMidiOut device = nullptr;
};

TEST_F(JackBackendTest, DeviceListsShowOtherClientsPortsButNotOurOwn) {
  OpenCapture();
  std::vector<std::string> outputs;
  for (unsigned i = 0, n = jack.OutDeviceCount(); i < n; ++i) {
    std::string name;
    ASSERT_TRUE(jack.OutDeviceName(i, name));
    outputs.push_back(name);
  }
  EXPECT_EQ(outputs, std::vector<std::string>{"qm-capture:in"});
  std::string name;
  for (unsigned i = 0, n = jack.InDeviceCount(); i < n; ++i) {
    ASSERT_TRUE(jack.InDeviceName(i, name));
    EXPECT_EQ(name.rfind("Quillmark", 0), std::string::npos) << name << " is our own port";
  }
  EXPECT_FALSE(jack.OutDeviceName(static_cast<unsigned>(outputs.size()), name));
}

TEST_F(JackBackendTest, EveryLongMessageCompletesOnceAndArrivesInOrder) {
  OpenCapture();
  Buffers buffers(200, 256);  // more than one cycle's port buffer can hold
  Prepare(buffers);
  for (MidiHeader& header : buffers.headers) {
    ASSERT_EQ(jack.LongMsg(device, &header, kMidiHeaderSize), 0u);
  }
  ASSERT_TRUE(WaitFor([&] { return log.DoneCount() == buffers.headers.size(); }, kArrivalBound));
  ASSERT_TRUE(capture.WaitForCycles(3, kArrivalBound));
  EXPECT_EQ(DeliveryOf(buffers), "");

  std::lock_guard<std::mutex> lock(log.mutex);
  ASSERT_EQ(log.done.size(), buffers.headers.size());
  for (std::size_t i = 0; i < log.done.size(); ++i) {
    EXPECT_EQ(log.done[i], &buffers.headers[i]);
    EXPECT_EQ(log.doneFailures[i], 0u);
    EXPECT_EQ(log.done[i]->dwFlags & (QM_MHDR_DONE | QM_MHDR_INQUEUE), QM_MHDR_DONE);
  }
}

TEST_F(JackBackendTest, ResetAndCloseReturnEveryHeldHeaderBeforeTheyReturn) {
  OpenCapture();
  Buffers buffers(150, 200);
  Prepare(buffers);
  for (std::size_t i = 0; i < 100; ++i) {
    ASSERT_EQ(jack.LongMsg(device, &buffers.headers[i], kMidiHeaderSize), 0u);
  }
  ASSERT_EQ(jack.Reset(device), 0u);
  EXPECT_EQ(log.DoneCount(), 100u);
  // What went out before the reset is a prefix of what was sent, in order.
  capture.WaitForEvents(0, 0ms);
  std::this_thread::sleep_for(50ms);
  capture.Collect();
  ASSERT_LE(capture.Events().size(), 100u);
  for (std::size_t i = 0; i < capture.Events().size(); ++i) {
    EXPECT_EQ(capture.Events()[i].bytes, buffers.data[i]);
  }

  // The device still works after a reset.
  for (std::size_t i = 100; i < 150; ++i) {
    ASSERT_EQ(jack.LongMsg(device, &buffers.headers[i], kMidiHeaderSize), 0u);
  }
  CloseDevice();
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.done.size(), 150u);
  ASSERT_FALSE(log.messages.empty());
  EXPECT_EQ(log.messages.front(), QM_MOM_OPEN);
  EXPECT_EQ(log.messages.back(), QM_MOM_CLOSE);
  EXPECT_EQ(log.afterClose.load(), 0);
  for (const MidiHeader& header : buffers.headers) EXPECT_EQ(header.dwFlags & QM_MHDR_INQUEUE, 0u);
}

TEST_F(JackBackendTest, ShortMessagesGoOutWithTheirOwnLength) {
  OpenCapture();
  const std::vector<std::pair<std::uint32_t, Bytes>> cases = {
      {0x7F3C90, {0x90, 0x3C, 0x7F}},  // note on
      {0x0005C3, {0xC3, 0x05}},        // program change
      {0x0040D1, {0xD1, 0x40}},        // channel pressure
      {0x4000E0, {0xE0, 0x00, 0x40}},  // pitch bend
      {0x0000F8, {0xF8}},              // clock
      {0x0012F3, {0xF3, 0x12}},        // song select
  };
  std::vector<Bytes> expected;
  for (const auto& [message, bytes] : cases) expected.push_back(bytes);
  // A short message carries no frame to tell a cycle the capture skipped: a round that
  // did not all arrive is sent again (PipeWire skips a cycle now and then on a loaded
  // machine). A fault shows in every round.
  std::vector<Bytes> arrived;
  for (int round = 0; round < 20 && arrived.size() != expected.size(); ++round) {
    capture.ClearEvents();
    for (const auto& [message, bytes] : cases) ASSERT_EQ(jack.ShortMsg(device, message), 0u);
    capture.WaitForEvents(cases.size(), 2s);
    ASSERT_TRUE(capture.WaitForCycles(3, kArrivalBound));
    arrived.clear();
    for (const auto& event : capture.Events()) arrived.push_back(event.bytes);
  }
  EXPECT_EQ(arrived, expected);
}

TEST_F(JackBackendTest, VirtualPortTakesConnectionsFromOtherPrograms) {
  ASSERT_EQ(jack.Open(&device, QM_MIDI_MAPPER, &CallbackLog::Callback, log.Instance()), 0u);
  jack_status_t status{};
  jack_client_t* other = jack_client_open("qm-patchbay", JackNoStartServer, &status);
  ASSERT_NE(other, nullptr);
  const int connected = jack_connect(other, "Quillmark:Quillmark", capture.PortName().c_str());
  ASSERT_EQ(connected, 0);

  // Unconnected, the port sends to nobody, and the patchbay's connection reaches our
  // client's view of the graph a little later: send until one message comes through.
  Buffers buffers(1, 13);
  Prepare(buffers);
  const auto deadline = std::chrono::steady_clock::now() + kArrivalBound;
  std::size_t sent = 0;
  while (capture.Collect() == 0 && std::chrono::steady_clock::now() < deadline) {
    if (log.DoneCount() == sent) {
      ASSERT_EQ(jack.LongMsg(device, &buffers.headers[0], kMidiHeaderSize), 0u);
      ++sent;
    }
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_FALSE(capture.Events().empty());
  EXPECT_EQ(capture.Events()[0].bytes, buffers.data[0]);
  CloseDevice();  // before the buffers go
  jack_client_close(other);
}

TEST_F(JackBackendTest, StoppedServerFailsCallsAndCloseStillReturnsEverything) {
  OpenCapture();
  Buffers buffers(50, 64);
  Prepare(buffers);
  server.Kill();
  // jackd2's libjack cannot close a client of a dead server once another client was
  // opened; the backend leaves its own as it is, the capture is ours to close at once.
  capture.Close();
  // Sends racing the crash are either refused or handed back by the notifier.
  MidiResult result = 0;
  std::size_t accepted = 0;
  const auto deadline = std::chrono::steady_clock::now() + kArrivalBound;
  for (MidiHeader& header : buffers.headers) {
    result = jack.LongMsg(device, &header, kMidiHeaderSize);
    if (result != 0) break;
    ++accepted;
    std::this_thread::sleep_for(20ms);
  }
  while (result == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    result = jack.ShortMsg(device, 0x0000F8);
  }
  EXPECT_EQ(result, kJackServerGone);
  EXPECT_NE(jack.ErrorText(result).find("JACK server is not running or has stopped"),
            std::string::npos);
  EXPECT_EQ(jack.Reset(device), 0u);
  EXPECT_EQ(log.DoneCount(), accepted);
  CloseDevice();
  EXPECT_EQ(log.DoneCount(), accepted);
  EXPECT_EQ(log.afterClose.load(), 0);
}

// A new link's first message, and the last one before the device closes, both arrive:
// the device writes only once the link carries data, and lets what it holds leave before
// its client goes. Each round is a new device, as each run of quillmark-send is, closed
// as soon as the message is handed over.
TEST_F(JackBackendTest, TheFirstMessageOfANewLinkAndTheLastBeforeCloseArrive) {
  constexpr std::size_t kRounds = 50;
  const std::int32_t number = capture.DeviceIn(jack);
  ASSERT_GE(number, 0);
  Buffers buffers(kRounds, 54);
  for (std::size_t round = 0; round < kRounds; ++round) {
    ASSERT_EQ(jack.Open(&device, static_cast<std::uint32_t>(number), &CallbackLog::Callback, log.Instance()), 0u);
    Prepare(buffers);
    ASSERT_EQ(jack.LongMsg(device, &buffers.headers[round], kMidiHeaderSize), 0u);
    ASSERT_EQ(jack.Close(device), 0u);
    device = nullptr;
  }
  ASSERT_TRUE(capture.WaitForCycles(3, kArrivalBound));
  EXPECT_EQ(DeliveryOf(buffers), "");
}

// The destination's program ends while messages still wait (toward a physical port they
// leave slowly): those that had not left come back at once with the reason, after those
// that had, then the device reports its end and refuses what comes next. When the program
// is back, the device links to its new port unasked, and messages arrive again.
TEST_F(JackBackendTest, ADestinationThatGoesGetsBackWhatCouldNotLeaveAndIsLinkedAgainWhenBack) {
  capture.Close();
  std::string error;
  ASSERT_TRUE(capture.Open(error, true)) << error;
  OpenCapture();
  Buffers buffers(201, 54);  // 200 of them 3.5 s on the wire
  Prepare(buffers);
  for (std::size_t i = 0; i < 200; ++i) ASSERT_EQ(jack.LongMsg(device, &buffers.headers[i], kMidiHeaderSize), 0u);
  ASSERT_TRUE(WaitFor([&] { return log.DoneCount() > 0; }, kArrivalBound));
  capture.Close();
  ASSERT_TRUE(WaitFor([&] { return log.ErrorCount() > 0; }, kArrivalBound)) << "the loss was not reported";
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    ASSERT_EQ(log.done.size(), 200u) << "every header comes back before the error";
    const auto failed = std::find(log.doneFailures.begin(), log.doneFailures.end(), kMidiOutputGone);
    ASSERT_NE(failed, log.doneFailures.end());
    EXPECT_TRUE(std::all_of(log.doneFailures.begin(), failed, [](std::uintptr_t f) { return f == 0; }));
    EXPECT_TRUE(std::all_of(failed, log.doneFailures.end(), [](std::uintptr_t f) { return f == kMidiOutputGone; }));
    for (std::size_t i = 0; i < log.done.size(); ++i) EXPECT_EQ(log.done[i], &buffers.headers[i]);
    EXPECT_EQ(log.messages.back(), QM_MOM_ERROR);
    EXPECT_EQ(log.errors, std::vector<std::uintptr_t>{kMidiOutputGone});
  }
  MidiHeader& last = buffers.headers[200];
  EXPECT_EQ(jack.LongMsg(device, &last, kMidiHeaderSize), kMidiOutputGone);
  EXPECT_EQ(jack.ShortMsg(device, 0x0000F8), kMidiOutputGone);

  ASSERT_TRUE(capture.Open(error, true)) << error;
  ASSERT_TRUE(WaitFor([&] { return capture.Connected(); }, kArrivalBound))
      << "the device did not link to the destination that came back";
  capture.ClearEvents();
  // The link may still be settling: refused calls are not an error here, lost ones are.
  ASSERT_TRUE(WaitFor([&] { return jack.LongMsg(device, &last, kMidiHeaderSize) == 0; }, kArrivalBound));
  ASSERT_TRUE(WaitFor([&] { return log.DoneCount() == 201; }, kArrivalBound));
  ASSERT_TRUE(capture.WaitForCycles(3, kArrivalBound));
  EXPECT_EQ(CheckDelivery({buffers.data[200]}, {static_cast<std::uint32_t>(last.reserved)}, capture), "");
  EXPECT_EQ(log.ErrorCount(), 1u);
}

// Toward a port flagged physical, 20 key-sized messages handed over at once leave one
// wire time apart (54 bytes x 320 us = 829.44 frames at 48 kHz), each completing only
// once its last byte has left; toward a software port they leave together.
TEST_F(JackBackendTest, MessagesLeaveAtWireSpeedTowardAPhysicalPortAndAtOnceTowardSoftware) {
  constexpr std::uint32_t kWireFrames = 829;  // 54 bytes x 320 us at 48 kHz, rounded down
  constexpr std::uint32_t kPeriod = 64;       // the test server's: its jitter
  for (const bool physical : {true, false}) {
    SCOPED_TRACE(physical ? "physical port" : "software port");
    CloseDevice();
    log.closed = false;
    std::string error;
    ASSERT_TRUE(capture.Open(error, physical)) << error;
    OpenCapture();
    Buffers buffers(20, 54);
    Prepare(buffers);
    const std::size_t doneBefore = log.DoneCount();
    for (MidiHeader& header : buffers.headers) ASSERT_EQ(jack.LongMsg(device, &header, kMidiHeaderSize), 0u);
    ASSERT_TRUE(WaitFor([&] { return log.DoneCount() == doneBefore + buffers.headers.size(); }, kArrivalBound));
    ASSERT_TRUE(capture.WaitForCycles(3, kArrivalBound));
    ASSERT_EQ(DeliveryOf(buffers), "");
    // Where each message was put on the frame clock, and (when the capture did not skip
    // its cycle) where it arrived.
    std::vector<std::uint32_t> written;
    for (const MidiHeader& header : buffers.headers) written.push_back(static_cast<std::uint32_t>(header.reserved));
    std::vector<std::optional<std::uint32_t>> arrived(buffers.data.size());
    for (const auto& event : capture.Events()) arrived[event.bytes[1] | event.bytes[2] << 7] = event.frame;
    std::lock_guard<std::mutex> lock(log.mutex);
    for (std::size_t i = 1; i < written.size(); ++i) {
      if (!physical) {
        EXPECT_LT(written[i] - written[0], kWireFrames) << "message " << i << " was held back";
        continue;
      }
      EXPECT_GE(written[i] - written[i - 1], kWireFrames) << "message " << i;
      if (arrived[i] && arrived[i - 1]) {
        EXPECT_GE(*arrived[i] - *arrived[i - 1], kWireFrames - kPeriod) << "message " << i;
      }
    }
    for (std::size_t i = 0; physical && i < written.size(); ++i) {
      EXPECT_GE(static_cast<std::int32_t>(log.doneFrames[doneBefore + i] - written[i]),
                static_cast<std::int32_t>(kWireFrames - kPeriod))
          << "message " << i << " completed before its last byte left";
    }
    capture.ClearEvents();
  }
}

// Notification callbacks that a loaded machine holds up (10 ms each, while another
// program registers ports over and over) neither stall the process callback nor let it
// send a message twice: under PipeWire libjack would otherwise skip our process callback
// while a notification runs and send the last cycle's buffer again.
TEST_F(JackBackendTest, SlowNotificationsLetEveryMessageThroughExactlyOnce) {
  OpenCapture();
  struct DelayGuard {
    DelayGuard() { SetJackNotificationDelayForTests(10ms); }
    ~DelayGuard() { SetJackNotificationDelayForTests(0ms); }
  } delay;
  jack_status_t status{};
  jack_client_t* churn = jack_client_open("qm-churn", JackNoStartServer, &status);
  ASSERT_NE(churn, nullptr);
  std::atomic<bool> stop{false};
  std::thread registering([&] {
    while (!stop.load()) {
      jack_port_t* port = jack_port_register(churn, "p", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
      std::this_thread::sleep_for(15ms);
      if (port) jack_port_unregister(churn, port);
      std::this_thread::sleep_for(15ms);
    }
  });

  // Four at a time, as the engine sends: a message in most cycles.
  Buffers buffers(300, 54);
  Prepare(buffers);
  bool accepted = true;
  for (std::size_t i = 0; i < buffers.headers.size() && accepted; ++i) {
    accepted = WaitFor([&] { return i < 4 + log.DoneCount(); }, kArrivalBound) &&
               jack.LongMsg(device, &buffers.headers[i], kMidiHeaderSize) == 0;
  }
  const bool done = WaitFor([&] { return log.DoneCount() == buffers.headers.size(); }, kArrivalBound);
  stop = true;
  registering.join();
  jack_client_close(churn);
  ASSERT_TRUE(accepted && done);
  ASSERT_TRUE(capture.WaitForCycles(3, kArrivalBound));
  EXPECT_EQ(DeliveryOf(buffers), "");
  // PipeWire's libjack reports an error of ours about a port that went at once as the
  // server's end; the device must not believe it.
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(std::count(log.doneFailures.begin(), log.doneFailures.end(), 0u), 300);
}

}  // namespace
