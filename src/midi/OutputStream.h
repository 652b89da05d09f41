// The output stream engine: opens a MIDI output device into an OutputStream record and
// takes events one at a time. Short messages go out at once through a ring queue (their
// note-ons are tracked so a reset can silence them); SysEx bytes are collected in a pool
// of buffers prepared once at open and handed to the device as long messages from the
// stream's poster on the user-interface thread, at most four buffers away at once.
//
// Results: 0 for success, a MidiServices code for device or memory failures, -1 for the
// engine's own refusals. The engine never shows anything to the user.
//
// Threads: open, put, reset and close come from the user-interface thread, which also
// dispatches the posters. The device's completion callback may run on any thread; it
// shares the counters and headers with the user-interface thread under the output lock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "midi/MidiServices.h"
#include "desktop/UiPoster.h"

// Option word bits.
inline constexpr std::uint32_t OPT_SYSEX_BUFFERS = 0x10000;
inline constexpr std::uint32_t OPT_MASK = 0xFFFFF;
inline constexpr std::uint32_t STATUS_SYSEX_BUSY = 0x200000;

// Posted to a stream's poster: send the finished buffer (wParam = header, lParam = stream).
inline constexpr unsigned WM_SEND_SYSEX = 0x5154;
// Posted when a device reports its own close (lParam = stream).
inline constexpr unsigned WM_STREAM_CLOSED = QM_MOM_CLOSE;

// Engine limits.
inline constexpr std::array<std::uint32_t, 10> kSizeTable = {64,   128,  256,  512,   1024,
                                                            2048, 4096, 8192, 16384, 32768};
inline constexpr std::uint32_t kInFlightConstant = 8;  // a stream may have half of it away

// 8 bytes: time stamp (-1 = immediate) and a packed short message (status in the low
// byte, data1 next, data2 third). A SysEx byte is status 0xF0 with the byte in data1.
struct MidiEvent {
  std::uint32_t time = 0;
  std::uint32_t message = 0;
};
static_assert(sizeof(MidiEvent) == 8);
inline constexpr std::uint32_t kImmediate = 0xFFFFFFFFu;

struct OutputStream;

// A collection of streams that takes over their queues. Not used by this program.
struct StreamOwner {
  std::uint32_t flags = 0;               // bit 0: SysEx of its streams goes through the queue
  OutputStream** streams = nullptr;      // engine-heap array ended by a null entry
  std::uint32_t outstandingBuffers = 0;  // SysEx buffers posted and not yet returned
};

struct OutputStream {
  HMidiOut device = nullptr;
  void* notifyWindow = nullptr;  // never set by this program
  StreamOwner* owner = nullptr;
  std::uint32_t deviceId = 0;
  std::uint32_t options = 0;
  std::uint32_t filter = 0;
  std::unique_ptr<UiPoster> window;
  std::uint32_t sysexBufferSize = 0;
  std::uint32_t queueWrite = 0;
  std::uint32_t queueRead = 0;
  MidiEvent* queue = nullptr;  // queueCapacity + 1 slots
  std::uint32_t queueCapacity = 0;
  std::uint32_t queueCount = 0;
  std::array<std::uint32_t, 128> noteOn{};
  MidiHeader** sysexPool = nullptr;  // ended by a null entry; null without a pool
  std::uint32_t sysexPoolSlots = 0;  // entries allocated for sysexPool, the null one included
  std::uint32_t sysexCurrent = 0;
  std::uint32_t sysexFree = 0;
  std::uint32_t sysexFreeMax = 0;
  // Finished buffers posted to the window and not yet handed to the device, oldest first.
  // At most sysexFreeMax (4) can be away at once, posted or with the device.
  std::array<MidiHeader*, kInFlightConstant / 2> sysexPosted{};
  std::uint32_t sysexPostedHead = 0;
  std::uint32_t sysexPostedCount = 0;
  // First error the device gave: a long message it refused or could not deliver, or a
  // failure it reported on its own (QM_MOM_ERROR). From then on every put reports it, so a
  // dead transport reaches the user instead of swallowing keys.
  MidiResult deviceError = 0;
};

// Engine start and end. StreamLibInit takes the device services and the factory of
// posters (neither owned; both must outlive the engine). 1 on success, else 0.
int StreamLibInit(MidiServices* services, UiPosterFactory* posters);
// Closes any stream still open, then releases all engine memory at once. 1 on success.
int StreamLibExit();

MidiResult OpenOutputStream(OutputStream** handle, void* notifyWindow, std::uint32_t deviceNumber,
                          StreamOwner* owner, std::uint32_t options);
// 0 when the event was sent, queued, stored or dropped; -1 when refused (nothing stored);
// the device's error code once a long message of this stream failed.
int PutOutputEvent(OutputStream* stream, const MidiEvent* event);
MidiResult ResetOutputStream(OutputStream* stream);

// For a sender whose SysEx byte was refused because every buffer the stream may have away
// is away (-1): hands the buffers that wait for the window to the device now, in order
// (their posted sends then find nothing to do), and waits, at most bound, until the device
// hands one back. 0 when the stream takes SysEx again; -1 when nothing came back in time
// (or nothing ever can: the stream has no pool); the device's error code when the device
// failed meanwhile. User-interface thread, without the output lock held: the device hands
// buffers back on a thread of its own, under that lock.
int WaitForSysExBuffer(OutputStream* stream, std::chrono::milliseconds bound);
MidiResult CloseOutputStream(OutputStream** handle);

// The device services the engine runs on (for the device lists); null before start.
MidiServices* StreamLibServices();

// The text for a result code, from the engine's device services.
std::string MidiErrorText(MidiResult result);

// Internal steps, exposed for the tests.
int StatusFilterBit(std::uint8_t status);  // -1 when the status is never filtered
void TrackNote(OutputStream* stream, std::uint32_t message);
void OutputWindowProc(UiPoster* target, unsigned message, std::uintptr_t wParam,
                      std::uintptr_t lParam);
void OutputCallback(HMidiOut device, unsigned message, std::uintptr_t instance,
                    std::uintptr_t param1, std::uintptr_t param2);

// Testing aid: the nth engine allocation from now (1 = the next) fails; 0 turns it off.
void StreamLibFailAllocation(int nth);
// The engine's output lock, for code that must see the counters consistently.
void LockOutput();
void UnlockOutput();
