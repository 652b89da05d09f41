#include "midi/OutputStream.h"

#include "midi/KeyPathCounters.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory_resource>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Engine-wide state. Everything but the output lock is touched on the user-interface
// thread only.
struct Engine {
  MidiServices* services = nullptr;
  UiPosterFactory* posters = nullptr;
  std::unique_ptr<std::pmr::unsynchronized_pool_resource> heap;
  std::vector<OutputStream*> live;                 // records of open streams
  std::vector<std::unique_ptr<UiPoster>> retired;  // posters that must outlive a dispatch
  int failAllocationIn = 0;
};

Engine g_engine;
std::recursive_mutex g_outputLock;
// Told whenever a buffer comes back or a device fails; waited on under g_outputLock.
std::condition_variable_any g_sysexReturned;

constexpr std::size_t kAlign = alignof(std::max_align_t);

void* HeapAllocate(std::size_t bytes, bool zero) {
  if (!g_engine.heap) return nullptr;
  if (g_engine.failAllocationIn > 0 && --g_engine.failAllocationIn == 0) return nullptr;
  void* block = nullptr;
  try {
    block = g_engine.heap->allocate(bytes, kAlign);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (zero) std::memset(block, 0, bytes);
  return block;
}

void HeapFree(void* block, std::size_t bytes) {
  if (block && g_engine.heap) g_engine.heap->deallocate(block, bytes, kAlign);
}

bool IsLive(const OutputStream* stream) {
  return std::find(g_engine.live.begin(), g_engine.live.end(), stream) != g_engine.live.end();
}

std::uint32_t NextQueueSlot(const OutputStream* stream, std::uint32_t slot) {
  return slot == stream->queueCapacity ? 0 : slot + 1;
}

void FreeRecord(OutputStream* stream) {
  stream->~OutputStream();
  HeapFree(stream, sizeof(OutputStream));
}

// Unprepares and frees every buffer of the pool, and the pool array. The device must no
// longer hold any of them.
void ReleasePool(OutputStream* stream) {
  if (!stream->sysexPool) return;
  for (std::uint32_t i = 0; i < stream->sysexPoolSlots; ++i) {
    MidiHeader* header = stream->sysexPool[i];
    if (!header) continue;
    header->lpData -= header->dwBytesRecorded;
    header->dwBytesRecorded = 0;
    g_engine.services->UnprepareHeader(stream->device, header, kMidiHeaderSize);
    HeapFree(header->lpData, stream->sysexBufferSize);
    header->~MidiHeader();
    HeapFree(header, sizeof(MidiHeader));
  }
  HeapFree(stream->sysexPool, stream->sysexPoolSlots * sizeof(MidiHeader*));
  stream->sysexPool = nullptr;
  stream->sysexPoolSlots = 0;
}

std::uint32_t OwnerStreamCount(const StreamOwner* owner) {
  std::uint32_t count = 0;
  if (owner->streams) {
    while (owner->streams[count]) ++count;
  }
  return count;
}

void AddToOwner(StreamOwner* owner, OutputStream* stream) {
  const std::uint32_t count = OwnerStreamCount(owner);
  auto* grown = static_cast<OutputStream**>(HeapAllocate((count + 2) * sizeof(OutputStream*), true));
  if (!grown) return;  // the stream stays out of the list
  if (owner->streams) {
    std::copy(owner->streams, owner->streams + count, grown);
    HeapFree(owner->streams, (count + 1) * sizeof(OutputStream*));
  }
  grown[count] = stream;
  owner->streams = grown;
}

void RemoveFromOwner(StreamOwner* owner, OutputStream* stream) {
  const std::uint32_t count = OwnerStreamCount(owner);
  auto* found = std::find(owner->streams, owner->streams + count, stream);
  if (found == owner->streams + count) return;
  std::copy(found + 1, owner->streams + count + 1, found);  // the null end moves down too
  auto* shrunk = static_cast<OutputStream**>(HeapAllocate(count * sizeof(OutputStream*), true));
  if (!shrunk) return;  // the old array stays in use
  std::copy(owner->streams, owner->streams + count, shrunk);
  HeapFree(owner->streams, (count + 1) * sizeof(OutputStream*));
  owner->streams = shrunk;
}

// Creates and prepares the pool; returns the number of usable buffers, those before the
// first missing entry.
std::uint32_t CreatePool(OutputStream* stream, std::uint32_t count) {
  const std::uint32_t slots = count + 1;
  stream->sysexPool = static_cast<MidiHeader**>(HeapAllocate(slots * sizeof(MidiHeader*), true));
  if (!stream->sysexPool) return 0;
  stream->sysexPoolSlots = slots;
  for (std::uint32_t i = 0; i < count; ++i) {
    void* headerBlock = HeapAllocate(sizeof(MidiHeader), false);
    if (!headerBlock) continue;
    auto* data = static_cast<std::uint8_t*>(HeapAllocate(stream->sysexBufferSize, false));
    if (!data) {
      HeapFree(headerBlock, sizeof(MidiHeader));
      continue;
    }
    auto* header = new (headerBlock) MidiHeader{};
    header->lpData = data;
    header->dwBufferLength = stream->sysexBufferSize;
    if (g_engine.services->PrepareHeader(stream->device, header, kMidiHeaderSize) != 0) {
      HeapFree(data, stream->sysexBufferSize);
      header->~MidiHeader();
      HeapFree(headerBlock, sizeof(MidiHeader));
      continue;
    }
    stream->sysexPool[i] = header;
  }
  std::uint32_t usable = 0;
  while (usable < count && stream->sysexPool[usable]) ++usable;
  return usable;
}

// Returns a buffer to the pool: after QM_MOM_DONE, or when the device refused it.
void ReturnBuffer(OutputStream* stream, MidiHeader* header) {
  header->dwBytesRecorded = 0;
  header->dwFlags &= ~QM_MHDR_DONE;
  header->dwBufferLength = stream->sysexBufferSize;
  if (stream->owner && stream->owner->outstandingBuffers > 0) --stream->owner->outstandingBuffers;
  if (stream->sysexFree < stream->sysexFreeMax) ++stream->sysexFree;
  if (stream->sysexFree == stream->sysexFreeMax) stream->options &= ~STATUS_SYSEX_BUSY;
  g_sysexReturned.notify_all();
}

void NoteDeviceError(OutputStream* stream, MidiResult error) {
  if (error == 0 || stream->deviceError != 0) return;
  stream->deviceError = error;
  g_sysexReturned.notify_all();
}

// Hands a finished buffer to the device; output lock held.
void HandToDevice(OutputStream* stream, MidiHeader* header) {
  header->dwBufferLength = header->dwBytesRecorded;
  header->lpData -= header->dwBytesRecorded;
  const MidiResult sent = g_engine.services->LongMsg(stream->device, header, kMidiHeaderSize);
  header->dwBytesRecorded = 0;
  CountKeyPath(sent == 0 ? TheKeyPathCounters().buffersHanded : TheKeyPathCounters().buffersRefused);
  // A refused buffer never comes back from the device; reclaim its place so one failed
  // send cannot wedge the stream.
  if (sent != 0) {
    ReturnBuffer(stream, header);
    NoteDeviceError(stream, sent);
  }
}

// The oldest buffer that waits for the window, taken off the list; null when none waits.
MidiHeader* TakePosted(OutputStream* stream) {
  if (stream->sysexPostedCount == 0) return nullptr;
  MidiHeader* header = stream->sysexPosted[stream->sysexPostedHead];
  stream->sysexPostedHead = (stream->sysexPostedHead + 1) % stream->sysexPosted.size();
  --stream->sysexPostedCount;
  return header;
}

void StoreSysExByte(OutputStream* stream, const MidiEvent* event) {
  MidiHeader* header = stream->sysexPool[stream->sysexCurrent];
  const auto byte = static_cast<std::uint8_t>(event->message >> 8);
  *header->lpData++ = byte;
  ++header->dwBytesRecorded;
  if (header->dwBytesRecorded != header->dwBufferLength && byte != 0xF7) return;

  ++stream->sysexCurrent;
  if (!stream->sysexPool[stream->sysexCurrent]) stream->sysexCurrent = 0;
  --stream->sysexFree;
  stream->options |= STATUS_SYSEX_BUSY;
  if (stream->owner) ++stream->owner->outstandingBuffers;
  CountKeyPath(TheKeyPathCounters().buffersPosted);
  if (!stream->window->Post(WM_SEND_SYSEX, reinterpret_cast<std::uintptr_t>(header),
                            reinterpret_cast<std::uintptr_t>(stream))) {
    // Nothing will ever send this buffer: give its place back rather than wedge the stream.
    header->lpData -= header->dwBytesRecorded;
    ReturnBuffer(stream, header);
    return;
  }
  const std::uint32_t tail = (stream->sysexPostedHead + stream->sysexPostedCount) % stream->sysexPosted.size();
  stream->sysexPosted[tail] = header;
  ++stream->sysexPostedCount;
}

void DestroyRetiredPosters() { g_engine.retired.clear(); }

}  // namespace

int StreamLibInit(MidiServices* services, UiPosterFactory* posters) {
  g_engine.services = services;
  g_engine.posters = posters;
  g_engine.failAllocationIn = 0;
  g_engine.heap = std::make_unique<std::pmr::unsynchronized_pool_resource>();
  return services && posters ? 1 : 0;
}

int StreamLibExit() {
  // A stream still open here would leave its device calling back into released memory.
  while (!g_engine.live.empty()) {
    OutputStream* stream = g_engine.live.back();
    CloseOutputStream(&stream);
  }
  DestroyRetiredPosters();
  const bool hadServices = g_engine.services && g_engine.posters;
  g_engine.heap.reset();  // every record and buffer at once
  g_engine.services = nullptr;
  g_engine.posters = nullptr;
  return hadServices ? 1 : 0;
}

MidiServices* StreamLibServices() { return g_engine.services; }

std::string MidiErrorText(MidiResult result) {
  return g_engine.services ? g_engine.services->ErrorText(result) : StandardMidiErrorText(result);
}

void StreamLibFailAllocation(int nth) { g_engine.failAllocationIn = nth; }

void LockOutput() { g_outputLock.lock(); }
void UnlockOutput() { g_outputLock.unlock(); }

int StatusFilterBit(std::uint8_t status) {
  if (status < 0x80 || status == 0xF7) return -1;
  if (status <= 0xEF) return (status >> 4) - 8;
  if (status <= 0xF6) return (status & 0x0F) + 7;
  return (status & 0x0F) + 6;
}

void TrackNote(OutputStream* stream, std::uint32_t message) {
  const std::uint32_t status = message & 0xFF;
  const std::uint32_t channel = status & 0x0F;
  const std::uint32_t note = (message >> 8) & 0x7F;
  const std::uint32_t velocity = (message >> 16) & 0xFF;
  const std::uint32_t kind = status & 0xF0;
  if (kind == 0x90 && velocity != 0) {
    stream->noteOn[note] |= 1u << channel;
  } else if (kind == 0x80 || kind == 0x90) {
    stream->noteOn[note] &= 0xFFFFu & ~(1u << channel);
  }
}

MidiResult OpenOutputStream(OutputStream** handle, void* notifyWindow, std::uint32_t deviceNumber,
                          StreamOwner* owner, std::uint32_t options) {
  constexpr auto kRefused = static_cast<MidiResult>(-1);
  if (!handle) return kRefused;
  DestroyRetiredPosters();
  if (*handle && !IsLive(*handle)) {
    *handle = nullptr;
    return kRefused;
  }
  if (!g_engine.services || !g_engine.posters) return QM_MMSYSERR_NODRIVER;
  // Indices 10 to 15 have no size-table entry.
  const std::uint32_t bufferIndex = (options >> 8) & 0xF;
  const std::uint32_t queueIndex = (options >> 12) & 0xF;
  if (bufferIndex >= kSizeTable.size() || queueIndex >= kSizeTable.size()) return QM_MMSYSERR_INVALPARAM;
  if (deviceNumber != QM_MIDI_MAPPER && deviceNumber >= g_engine.services->OutDeviceCount()) {
    return QM_MMSYSERR_BADDEVICEID;
  }

  void* block = HeapAllocate(sizeof(OutputStream), true);
  if (!block) {
    *handle = nullptr;
    return QM_MMSYSERR_NOMEM;
  }
  auto* stream = new (block) OutputStream{};
  // A stream that cannot post cannot send SysEx at all; fail before touching the device.
  stream->window = g_engine.posters->Create(&OutputWindowProc);
  if (!stream->window) {
    FreeRecord(stream);
    *handle = nullptr;
    return QM_MMSYSERR_NOMEM;
  }
  *handle = stream;
  stream->notifyWindow = notifyWindow;
  stream->deviceId = deviceNumber;

  const MidiResult opened = g_engine.services->Open(&stream->device, deviceNumber, &OutputCallback,
                                                  reinterpret_cast<std::uintptr_t>(stream));
  if (opened != 0) {
    *handle = nullptr;
    FreeRecord(stream);
    return opened;
  }

  stream->sysexBufferSize = kSizeTable[bufferIndex];
  stream->sysexFree = stream->sysexFreeMax = kInFlightConstant / 2;

  const std::uint32_t capacity = kSizeTable[queueIndex];
  stream->queue = static_cast<MidiEvent*>(HeapAllocate((capacity + 1) * sizeof(MidiEvent), true));
  if (!stream->queue) {
    // The device is open with this record as its callback data: close it before the
    // record goes.
    g_engine.services->Close(stream->device);
    *handle = nullptr;
    FreeRecord(stream);
    return QM_MMSYSERR_NOMEM;
  }
  stream->queueCapacity = capacity;

  stream->options = options & OPT_MASK;
  stream->owner = owner;
  stream->filter = (options & OPT_SYSEX_BUFFERS) ? 0 : 0x80;
  if (owner) AddToOwner(owner, stream);

  if (options & OPT_SYSEX_BUFFERS) {
    const std::uint32_t usable = CreatePool(stream, options & 0xFF);
    if (!stream->sysexPool) stream->options &= ~OPT_SYSEX_BUFFERS;
    // The buffer being filled must never be one still away, and buffers come back in the
    // order they went: never let more go than the pool has usable buffers. With none,
    // every SysEx byte is refused (-1) instead of leaking out as a short message.
    stream->sysexFree = stream->sysexFreeMax = std::min(stream->sysexFreeMax, usable);
    stream->sysexCurrent = 0;
  }

  g_engine.live.push_back(stream);
  return 0;
}

int PutOutputEvent(OutputStream* stream, const MidiEvent* event) {
  if (!stream || !event) return -1;
  std::lock_guard<std::recursive_mutex> lock(g_outputLock);
  if (stream->deviceError != 0) return static_cast<int>(stream->deviceError);

  const auto status = static_cast<std::uint8_t>(event->message & 0xFF);
  const int bit = StatusFilterBit(status);
  if (bit >= 0 && ((stream->filter >> bit) & 1u)) return 0;

  if (event->time == kImmediate) {
    if (status == 0xF0) return 0;
    g_engine.services->ShortMsg(stream->device, event->message);
    TrackNote(stream, event->message);
    return 0;
  }

  if (status == 0xF0) {
    if (stream->sysexFree == 0) return -1;
    if ((stream->options & OPT_SYSEX_BUFFERS) && (!stream->owner || !(stream->owner->flags & 1u))) {
      StoreSysExByte(stream, event);
      return 0;
    }
  }

  if (stream->queueCount == stream->queueCapacity) return -1;
  stream->queue[stream->queueWrite] = *event;
  stream->queueWrite = NextQueueSlot(stream, stream->queueWrite);
  ++stream->queueCount;
  if (stream->owner) return 0;

  while (stream->queueCount != 0) {
    const std::uint32_t message = stream->queue[stream->queueRead].message;
    stream->queueRead = NextQueueSlot(stream, stream->queueRead);
    --stream->queueCount;
    g_engine.services->ShortMsg(stream->device, message);
    TrackNote(stream, message);
  }
  return 0;
}

void OutputWindowProc(UiPoster* target, unsigned message, std::uintptr_t wParam,
                      std::uintptr_t lParam) {
  auto* stream = reinterpret_cast<OutputStream*>(lParam);
  std::lock_guard<std::recursive_mutex> lock(g_outputLock);
  // A message can only come from a live stream's own poster; anything else is stale.
  if (!IsLive(stream) || stream->window.get() != target) return;

  if (message == WM_SEND_SYSEX) {
    // Buffers are posted in order; one that a waiting sender has handed over already is
    // no longer first in the list, and its send has nothing left to do.
    auto* header = reinterpret_cast<MidiHeader*>(wParam);
    if (stream->sysexPostedCount == 0 || stream->sysexPosted[stream->sysexPostedHead] != header) return;
    HandToDevice(stream, TakePosted(stream));
  } else if (message == WM_STREAM_CLOSED) {
    // The device ended on its own: the device no longer holds any buffer.
    g_engine.live.erase(std::find(g_engine.live.begin(), g_engine.live.end(), stream));
    ReleasePool(stream);
    if (stream->owner) RemoveFromOwner(stream->owner, stream);
    HeapFree(stream->queue, (stream->queueCapacity + 1) * sizeof(MidiEvent));
    // This poster is dispatching right now; destroy it on the next engine call.
    g_engine.retired.push_back(std::move(stream->window));
    FreeRecord(stream);
  }
}

void OutputCallback(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                    std::uintptr_t param2) {
  auto* stream = reinterpret_cast<OutputStream*>(instance);
  if (message == QM_MOM_DONE) {
    std::lock_guard<std::recursive_mutex> lock(g_outputLock);
    CountKeyPath(param2 == 0 ? TheKeyPathCounters().buffersDone : TheKeyPathCounters().buffersFailed);
    ReturnBuffer(stream, reinterpret_cast<MidiHeader*>(param1));
    // Bytes that never left: the next put says why instead of the key vanishing.
    NoteDeviceError(stream, static_cast<MidiResult>(param2));
  } else if (message == QM_MOM_ERROR) {
    std::lock_guard<std::recursive_mutex> lock(g_outputLock);
    NoteDeviceError(stream, static_cast<MidiResult>(param1));
  } else if (message == QM_MOM_CLOSE) {
    std::lock_guard<std::recursive_mutex> lock(g_outputLock);
    stream->window->Post(WM_STREAM_CLOSED, 0, instance);
  }
}

MidiResult ResetOutputStream(OutputStream* stream) {
  if (!stream) return 1;
  stream->queueCount = stream->queueWrite = stream->queueRead = 0;
  for (std::uint32_t note = 0; note < 128; ++note) {
    const std::uint32_t channels = stream->noteOn[note];
    if (channels == 0) continue;
    for (std::uint32_t channel = 0; channel < 16; ++channel) {
      if (channels & (1u << channel)) {
        g_engine.services->ShortMsg(stream->device, (0x90u | channel) | (note << 8));
      }
    }
  }
  return g_engine.services->Reset(stream->device);
}

int WaitForSysExBuffer(OutputStream* stream, std::chrono::milliseconds bound) {
  if (!stream) return -1;
  std::unique_lock<std::recursive_mutex> lock(g_outputLock);
  while (MidiHeader* header = TakePosted(stream)) HandToDevice(stream, header);
  const auto ready = [stream] { return stream->sysexFree > 0 || stream->deviceError != 0; };
  // A stream without buffers waits for nothing.
  if (stream->sysexFreeMax == 0 || !g_sysexReturned.wait_for(lock, bound, ready)) return -1;
  return static_cast<int>(stream->deviceError);
}

MidiResult CloseOutputStream(OutputStream** handle) {
  if (!handle || !*handle) return 0;
  OutputStream* stream = *handle;
  // The reset hands back every buffer the device holds, so the pool can go before the
  // device closes; a buffer that is only posted dies with the poster below.
  const MidiResult reset = ResetOutputStream(stream);
  ReleasePool(stream);
  const MidiResult closed = g_engine.services->Close(stream->device);
  // From here on the device calls back no more.
  if (stream->owner) RemoveFromOwner(stream->owner, stream);
  g_engine.live.erase(std::find(g_engine.live.begin(), g_engine.live.end(), stream));
  stream->window.reset();  // drops a pending send and the close notification
  HeapFree(stream->queue, (stream->queueCapacity + 1) * sizeof(MidiEvent));
  FreeRecord(stream);
  DestroyRetiredPosters();
  *handle = nullptr;
  return reset + closed;
}
