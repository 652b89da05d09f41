// A stand-in for the multimedia system's winmm.dll, loaded in its place with
// WINEDLLOVERRIDES="winmm=n,b" from the program's own folder. It reports the number of
// MIDI outputs named by QM_STANDIN_OUTPUTS (default 1) and no inputs, and writes the bytes
// of each long message as one line of upper-case hex pairs to the file named by
// QM_STANDIN_LOG. Buffers come back (MOM_DONE) before midiOutLongMsg returns, as the
// system is allowed to do.

// The multimedia functions are defined here rather than imported.
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

struct StandInDevice {
  DWORD_PTR callback;
  DWORD_PTR instance;
  DWORD flags;
};

UINT OutputCount() {
  char value[16] = {};
  if (GetEnvironmentVariableA("QM_STANDIN_OUTPUTS", value, sizeof value) == 0) return 1;
  return static_cast<UINT>(std::strtoul(value, nullptr, 10));
}

void Notify(HMIDIOUT handle, const StandInDevice& device, UINT message, DWORD_PTR param1) {
  if ((device.flags & CALLBACK_TYPEMASK) != CALLBACK_FUNCTION || !device.callback) return;
  reinterpret_cast<LPDRVCALLBACK>(device.callback)(reinterpret_cast<HDRVR>(handle), message, device.instance,
                                                    param1, 0);
}

void Record(const BYTE* bytes, DWORD length) {
  char path[MAX_PATH] = {};
  if (GetEnvironmentVariableA("QM_STANDIN_LOG", path, sizeof path) == 0) return;
  FILE* log = std::fopen(path, "ab");
  if (!log) return;
  for (DWORD i = 0; i < length; ++i) std::fprintf(log, i ? " %02X" : "%02X", bytes[i]);
  std::fputc('\n', log);
  std::fclose(log);
}

}  // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs() { return OutputCount(); }

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
  if (id >= OutputCount()) return MMSYSERR_BADDEVICEID;
  if (!caps || size < sizeof(MIDIOUTCAPSW)) return MMSYSERR_INVALPARAM;
  *caps = MIDIOUTCAPSW{};
  std::swprintf(caps->szPname, MAXPNAMELEN, L"Stand-in MIDI Out %u", static_cast<unsigned>(id));
  caps->wTechnology = MOD_MIDIPORT;
  return MMSYSERR_NOERROR;
}

UINT WINAPI midiInGetNumDevs() { return 0; }

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR, LPMIDIINCAPSW, UINT) { return MMSYSERR_BADDEVICEID; }

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  if (!handle) return MMSYSERR_INVALPARAM;
  *handle = nullptr;
  if (id >= OutputCount()) return MMSYSERR_BADDEVICEID;
  auto* device = new StandInDevice{callback, instance, flags};
  *handle = reinterpret_cast<HMIDIOUT>(device);
  Notify(*handle, *device, MOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD) { return handle ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE; }

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
  if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  Record(reinterpret_cast<const BYTE*>(header->lpData), header->dwBufferLength);
  header->dwFlags |= MHDR_DONE;
  Notify(handle, *reinterpret_cast<StandInDevice*>(handle), MOM_DONE, reinterpret_cast<DWORD_PTR>(header));
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT handle) { return handle ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE; }

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
  if (!handle) return MMSYSERR_INVALHANDLE;
  auto* device = reinterpret_cast<StandInDevice*>(handle);
  Notify(handle, *device, MOM_CLOSE, 0);
  delete device;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutGetErrorTextW(MMRESULT result, LPWSTR text, UINT size) {
  if (!text || size == 0) return MMSYSERR_INVALPARAM;
  if (result == MMSYSERR_BADDEVICEID) {
    std::swprintf(text, size, L"The stand-in has no MIDI output with that number.");
  } else {
    std::swprintf(text, size, L"Stand-in error %u.", static_cast<unsigned>(result));
  }
  return MMSYSERR_NOERROR;
}

}  // extern "C"
