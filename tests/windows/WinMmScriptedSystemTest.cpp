// The WinMM backend over a scripted multimedia system that behaves as the documented one:
// it hands long-message buffers back through MOM_DONE on the calling thread, later from a
// thread of its own, or never; it refuses to unprepare or close while it holds a buffer.
// It also notes what the documentation forbids a program to do: unpreparing a header the
// system holds, or changing a prepared header's data or length. Wine has no MIDI output
// device here, so this is where the buffer bookkeeping runs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "desktop/ManualUiQueue.h"
#include "midi/OutputStream.h"
#include "midi/backends/winmm/WinMmApi.h"
#include "midi/backends/winmm/WinMmMidiServices.h"

namespace {

enum class Return { AtOnce, FromThread, AfterReset, Never };

// The form of the callback that midiOutOpen takes with CALLBACK_FUNCTION.
using MidiOutProc = void(CALLBACK*)(HMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct ScriptedSystem {
  Return mode = Return::AtOnce;
  MMRESULT longMsgResult = MMSYSERR_NOERROR;
  DWORD openFlags = 0;
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  std::vector<std::vector<BYTE>> sent;
  std::vector<MIDIHDR*> held;
  std::vector<std::string> violations;
  // Each prepared header's data and length as they were prepared.
  std::map<MIDIHDR*, std::pair<LPSTR, DWORD>> prepared;
  std::thread returner;
  std::vector<std::thread> deliverers;

  void Deliver(MIDIHDR* header) {
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    reinterpret_cast<MidiOutProc>(callback)(Handle(), MOM_DONE, instance,
                                            reinterpret_cast<DWORD_PTR>(header), 0);
  }
  static HMIDIOUT Handle() { return reinterpret_cast<HMIDIOUT>(std::uintptr_t{0x5151}); }
};
ScriptedSystem* g_system = nullptr;

UINT WINAPI OutGetNumDevs() { return 2; }
MMRESULT WINAPI OutGetDevCaps(UINT_PTR device, LPMIDIOUTCAPSW caps, UINT) {
  if (device >= 2) return MMSYSERR_BADDEVICEID;
  *caps = MIDIOUTCAPSW{};
  wcscpy(caps->szPname, device == 0 ? L"Out A" : L"\u00DCberall Out");
  return MMSYSERR_NOERROR;
}
UINT WINAPI InGetNumDevs() { return 0; }
MMRESULT WINAPI InGetDevCaps(UINT_PTR, LPMIDIINCAPSW, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT WINAPI OutOpen(LPHMIDIOUT handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) {
  if (device >= 2 && device != MIDI_MAPPER) return MMSYSERR_BADDEVICEID;
  g_system->openFlags = flags;
  g_system->callback = callback;
  g_system->instance = instance;
  *handle = ScriptedSystem::Handle();
  reinterpret_cast<MidiOutProc>(callback)(*handle, MOM_OPEN, instance, 0, 0);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutPrepareHeader(HMIDIOUT, LPMIDIHDR header, UINT size) {
  if (size != sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
  header->dwFlags |= MHDR_PREPARED;
  g_system->prepared[header] = {header->lpData, header->dwBufferLength};
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutUnprepareHeader(HMIDIOUT, LPMIDIHDR header, UINT) {
  if (header->dwFlags & MHDR_INQUEUE) {
    g_system->violations.push_back("unprepare of a header the system holds");
    return MIDIERR_STILLPLAYING;
  }
  header->dwFlags &= ~MHDR_PREPARED;
  g_system->prepared.erase(header);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutShortMsg(HMIDIOUT, DWORD) { return MMSYSERR_NOERROR; }
MMRESULT WINAPI OutLongMsg(HMIDIOUT, LPMIDIHDR header, UINT size) {
  if (size != sizeof(MIDIHDR) || !(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  const auto found = g_system->prepared.find(header);
  if (found == g_system->prepared.end() ||
      found->second != std::make_pair(header->lpData, header->dwBufferLength)) {
    g_system->violations.push_back("data or length changed after the prepare");
  }
  if (g_system->longMsgResult != MMSYSERR_NOERROR) return g_system->longMsgResult;
  const BYTE* data = reinterpret_cast<const BYTE*>(header->lpData);
  g_system->sent.emplace_back(data, data + header->dwBufferLength);
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  if (g_system->mode == Return::AtOnce) {
    g_system->Deliver(header);
  } else if (g_system->mode == Return::FromThread) {
    g_system->deliverers.emplace_back([header] { g_system->Deliver(header); });
  } else {
    g_system->held.push_back(header);
  }
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutReset(HMIDIOUT) {
  if (g_system->mode == Return::AfterReset && !g_system->held.empty()) {
    if (g_system->returner.joinable()) g_system->returner.join();
    // Handed back from another thread, which may run after this call has returned.
    std::vector<MIDIHDR*> held;
    held.swap(g_system->held);
    g_system->returner = std::thread([held] {
      for (MIDIHDR* header : held) g_system->Deliver(header);
    });
  }
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutClose(HMIDIOUT handle) {
  for (MIDIHDR* header : g_system->held) {
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  }
  reinterpret_cast<MidiOutProc>(g_system->callback)(handle, MOM_CLOSE, g_system->instance, 0, 0);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutGetErrorText(MMRESULT, LPWSTR, UINT) { return MMSYSERR_BADERRNUM; }

constexpr WinMmApi kScripted = {OutGetNumDevs, OutGetDevCaps,      InGetNumDevs,       InGetDevCaps,
                                OutOpen,       OutPrepareHeader,   OutUnprepareHeader, OutShortMsg,
                                OutLongMsg,    OutReset,           OutClose,           OutGetErrorText};

// What reached the engine's side.
struct Received {
  std::mutex mutex;
  std::vector<std::pair<unsigned, std::uintptr_t>> messages;
  std::vector<std::uintptr_t> failures;  // param2 of each message
};
void Record(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t param2) {
  auto* received = reinterpret_cast<Received*>(instance);
  std::lock_guard<std::mutex> lock(received->mutex);
  received->messages.emplace_back(message, param1);
  received->failures.push_back(param2);
}

class WinMmScriptedSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { g_system = &system; }
  void TearDown() override {
    if (system.returner.joinable()) system.returner.join();
    for (std::thread& deliverer : system.deliverers) deliverer.join();
    EXPECT_EQ(system.violations, std::vector<std::string>{});
    g_system = nullptr;
  }
  std::vector<std::pair<unsigned, std::uintptr_t>> Messages() {
    std::lock_guard<std::mutex> lock(received.mutex);
    return received.messages;
  }

  ScriptedSystem system;
  Received received;
  WinMmMidiServices services{kScripted, std::chrono::milliseconds(2000)};
  BYTE bytes[8] = {0xF0, 0x7E, 0xF7, 0, 0, 0, 0, 0};
  MidiHeader header{bytes, sizeof bytes};
};

TEST_F(WinMmScriptedSystemTest, ABufferGoesOutAsLongAsRecordedAndComesBackOnce) {
  std::string name;
  ASSERT_TRUE(services.OutDeviceName(1, name));
  EXPECT_EQ(name, "\xC3\x9C" "berall Out");
  HMidiOut device = nullptr;
  ASSERT_EQ(services.Open(&device, 1, Record, reinterpret_cast<std::uintptr_t>(&received)), 0u);
  EXPECT_EQ(system.openFlags, static_cast<DWORD>(CALLBACK_FUNCTION));
  ASSERT_EQ(services.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
  EXPECT_EQ(header.dwFlags, QM_MHDR_PREPARED);
  header.dwBufferLength = 3;
  ASSERT_EQ(services.LongMsg(device, &header, kMidiHeaderSize), 0u);
  EXPECT_EQ(system.sent, (std::vector<std::vector<BYTE>>{{0xF0, 0x7E, 0xF7}}));
  EXPECT_EQ(Messages(), (std::vector<std::pair<unsigned, std::uintptr_t>>{
                            {QM_MOM_DONE, reinterpret_cast<std::uintptr_t>(&header)}}));
  EXPECT_EQ(header.dwFlags, QM_MHDR_PREPARED | QM_MHDR_DONE);
  ASSERT_EQ(services.UnprepareHeader(device, &header, kMidiHeaderSize), 0u);
  EXPECT_EQ(header.dwFlags & QM_MHDR_PREPARED, 0u);
  EXPECT_EQ(services.Close(device), 0u);
  EXPECT_EQ(Messages().back().first, QM_MOM_CLOSE);
}

TEST_F(WinMmScriptedSystemTest, ResetReturnsOnlyOnceTheSystemHasHandedEveryBufferBack) {
  system.mode = Return::AfterReset;
  BYTE second[3] = {0xF0, 0x01, 0xF7};
  MidiHeader other{second, sizeof second};
  HMidiOut device = nullptr;
  ASSERT_EQ(services.Open(&device, 0, Record, reinterpret_cast<std::uintptr_t>(&received)), 0u);
  for (MidiHeader* h : {&header, &other}) {
    ASSERT_EQ(services.PrepareHeader(device, h, kMidiHeaderSize), 0u);
    ASSERT_EQ(services.LongMsg(device, h, kMidiHeaderSize), 0u);
  }
  EXPECT_EQ(header.dwFlags & QM_MHDR_INQUEUE, QM_MHDR_INQUEUE);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(services.Reset(device), 0u);
  EXPECT_EQ(Messages().size(), 2u) << "Reset returned before the buffers were back";
  EXPECT_EQ(other.dwFlags & (QM_MHDR_DONE | QM_MHDR_INQUEUE), QM_MHDR_DONE);
  for (MidiHeader* h : {&header, &other}) EXPECT_EQ(services.UnprepareHeader(device, h, kMidiHeaderSize), 0u);
  EXPECT_EQ(services.Close(device), 0u);
}

// A reset that gives up waiting: the caller gets its header back, with the reason, and may
// free or refill it; the system keeps reading the copy it holds, which nothing unprepares
// or frees, and its late return reaches nobody.
TEST_F(WinMmScriptedSystemTest, ABufferTheSystemKeepsIsNeverTouchedAfterClose) {
  WinMmMidiServices impatient{kScripted, std::chrono::milliseconds(20)};
  system.mode = Return::Never;
  HMidiOut device = nullptr;
  ASSERT_EQ(impatient.Open(&device, 0, Record, reinterpret_cast<std::uintptr_t>(&received)), 0u);
  ASSERT_EQ(impatient.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
  header.dwBufferLength = 3;
  ASSERT_EQ(impatient.LongMsg(device, &header, kMidiHeaderSize), 0u);
  EXPECT_EQ(impatient.Close(device), QM_MIDIERR_STILLPLAYING);
  const auto atClose = Messages();
  ASSERT_EQ(atClose.size(), 1u);
  EXPECT_EQ(atClose[0], std::make_pair(QM_MOM_DONE, reinterpret_cast<std::uintptr_t>(&header)));
  EXPECT_EQ(received.failures[0], QM_MIDIERR_STILLPLAYING);
  EXPECT_EQ(header.dwFlags & (QM_MHDR_INQUEUE | QM_MHDR_PREPARED), 0u);
  std::fill(std::begin(bytes), std::end(bytes), BYTE{0x55});  // the caller reuses its buffer

  ASSERT_EQ(system.held.size(), 1u);
  MIDIHDR* kept = system.held.front();
  EXPECT_EQ(std::vector<BYTE>(kept->lpData, kept->lpData + kept->dwBufferLength),
            (std::vector<BYTE>{0xF0, 0x7E, 0xF7}));
  system.Deliver(kept);
  EXPECT_EQ(Messages(), atClose);
}

// The engine's buffers change length with every message; the header the system gets does
// not change once prepared, and each comes back unprepared after its message.
TEST_F(WinMmScriptedSystemTest, MessagesOfEveryLengthLeaveWithoutChangingAPreparedHeader) {
  ManualUiQueue ui;
  ASSERT_EQ(StreamLibInit(&services, &ui), 1);
  OutputStream* stream = nullptr;
  ASSERT_EQ(OpenOutputStream(&stream, nullptr, 0, nullptr, 74321), 0u);
  std::vector<std::vector<BYTE>> expected;
  for (const std::size_t length : {54u, 13u, 300u, 2u}) {
    std::vector<BYTE> message(length, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    for (BYTE byte : message) {
      const MidiEvent event{0, 0xF0u | (static_cast<std::uint32_t>(byte) << 8)};
      ASSERT_EQ(PutOutputEvent(stream, &event), 0);
    }
    ui.Pump();
    // Longer than a 256-byte buffer: two long messages.
    for (std::size_t at = 0; at < length; at += 256) {
      expected.emplace_back(message.begin() + static_cast<long>(at),
                            message.begin() + static_cast<long>(std::min(length, at + 256)));
    }
  }
  EXPECT_EQ(system.sent, expected);
  EXPECT_EQ(CloseOutputStream(&stream), 0u);
  EXPECT_TRUE(system.prepared.empty()) << "a header left prepared";
  EXPECT_EQ(StreamLibExit(), 1);
}

// The engine sends under its output lock, and its callback takes that lock: a buffer
// handed back on the system's thread while the engine sends the next must not deadlock.
struct LockingEngine {
  std::recursive_mutex outputLock;
  std::mutex mutex;
  std::condition_variable entered;
  int callbacks = 0;
};
void LockingCallback(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t, std::uintptr_t) {
  auto* engine = reinterpret_cast<LockingEngine*>(instance);
  if (message != QM_MOM_DONE) return;
  {
    std::lock_guard<std::mutex> lock(engine->mutex);
    ++engine->callbacks;
  }
  engine->entered.notify_all();
  std::lock_guard<std::recursive_mutex> output(engine->outputLock);
}

TEST_F(WinMmScriptedSystemTest, ABufferComingBackWhileTheEngineSendsUnderItsLock) {
  system.mode = Return::FromThread;
  LockingEngine engine;
  BYTE second[3] = {0xF0, 0x02, 0xF7};
  MidiHeader other{second, sizeof second};
  HMidiOut device = nullptr;
  ASSERT_EQ(services.Open(&device, 0, LockingCallback, reinterpret_cast<std::uintptr_t>(&engine)), 0u);
  ASSERT_EQ(services.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
  ASSERT_EQ(services.PrepareHeader(device, &other, kMidiHeaderSize), 0u);
  {
    std::lock_guard<std::recursive_mutex> output(engine.outputLock);
    ASSERT_EQ(services.LongMsg(device, &header, kMidiHeaderSize), 0u);
    // The system's thread is now inside the engine's callback, waiting for the lock.
    std::unique_lock<std::mutex> lock(engine.mutex);
    ASSERT_TRUE(engine.entered.wait_for(lock, std::chrono::seconds(10), [&] { return engine.callbacks == 1; }));
    lock.unlock();
    EXPECT_EQ(services.LongMsg(device, &other, kMidiHeaderSize), 0u);
  }
  EXPECT_EQ(services.Reset(device), 0u);
  EXPECT_EQ(engine.callbacks, 2);
  EXPECT_EQ(system.sent.size(), 2u);
  for (MidiHeader* h : {&header, &other}) EXPECT_EQ(services.UnprepareHeader(device, h, kMidiHeaderSize), 0u);
  EXPECT_EQ(services.Close(device), 0u);
}

TEST_F(WinMmScriptedSystemTest, RefusalsComeBackAsTheirCodesAndHoldNothing) {
  HMidiOut device = reinterpret_cast<HMidiOut>(std::uintptr_t{1});
  EXPECT_EQ(services.Open(&device, 2, Record, 0), QM_MMSYSERR_BADDEVICEID);
  EXPECT_EQ(device, nullptr);
  ASSERT_EQ(services.Open(&device, QM_MIDI_MAPPER, Record, reinterpret_cast<std::uintptr_t>(&received)), 0u);
  EXPECT_EQ(services.LongMsg(device, &header, kMidiHeaderSize), QM_MIDIERR_UNPREPARED);
  ASSERT_EQ(services.PrepareHeader(device, &header, kMidiHeaderSize), 0u);
  system.longMsgResult = MIDIERR_NOTREADY;
  EXPECT_EQ(services.LongMsg(device, &header, kMidiHeaderSize), QM_MIDIERR_NOTREADY);
  EXPECT_EQ(header.dwFlags & QM_MHDR_INQUEUE, 0u);
  // A refused buffer is not waited for.
  EXPECT_EQ(services.Reset(device), 0u);
  EXPECT_EQ(services.Close(device), 0u);
  EXPECT_TRUE(system.sent.empty());
}

}  // namespace
